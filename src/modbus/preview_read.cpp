#include "modbus/preview_read.h"

#include <algorithm>
#include <cstring>

namespace zrv::modbus {

namespace {

std::uint32_t WordBit(std::size_t offset) { return 1U << (offset / 2); }

std::uint32_t RowBits(const RegisterRow& row) {
  std::uint32_t bits = WordBit(row.Offset);
  if (RegisterSpan(row) == 2) bits |= WordBit(row.Offset + 2);
  return bits;
}

}  // namespace

std::optional<Request> PreviewRead(RegisterTable table, std::uint8_t slave, std::size_t index) {
  if (index >= kPreviewReadCount) return std::nullopt;
  const RegisterRun& run = kBlockRegisterRuns[index];
  return table == RegisterTable::Holding ? Request::ReadHolding(slave, run.First, run.Count)
                                         : Request::ReadInput(slave, run.First, run.Count);
}

bool Rs485Registers::Has(const RegisterRow& row) const {
  const std::uint32_t bits = RowBits(row);
  return (Filled & bits) == bits;
}

void PlaceAnswer(Rs485Registers& registers, const Request& request, const Reply& reply) {
  if (reply.Kind != ReplyKind::Answer || request.Kind() == RequestKind::Echo) return;
  for (std::size_t i = 0; i < reply.RegisterCount; ++i) {
    const std::optional<std::size_t> offset = BlockOffsetOfRegister(request.First() + static_cast<std::uint32_t>(i));
    if (!offset) continue;
    // The block keeps its words little-endian, as USB carries them.
    const std::uint16_t word = reply.Registers[i];
    std::memcpy(registers.Block.Bytes.data() + *offset, &word, sizeof word);
    registers.Filled |= WordBit(*offset);
  }
}

std::array<std::optional<std::int64_t>, kRegisterRowCount> PreviewValues(const Rs485Registers& registers) {
  std::array<std::optional<std::int64_t>, kRegisterRowCount> values{};
  for (std::size_t r = 0; r < kRegisterRowCount; ++r) {
    if (registers.Has(kRegisterTable[r])) values[r] = RegisterValue(registers.Block, kRegisterTable[r]);
  }
  return values;
}

namespace {
// Where the status and measurement registers (100 on) start in the block.
constexpr std::size_t kFirstMeasurementOffset = *BlockOffsetOfRegister(100);
}  // namespace

Agreement CompareWithUsb(const Rs485Registers& registers, const RegisterBlock& usbBefore,
                         const RegisterBlock& usbAfter) {
  Agreement agreement;
  for (std::size_t r = 0; r < kRegisterRowCount; ++r) {
    const RegisterRow& row = kRegisterTable[r];
    if (!registers.Has(row)) continue;
    const std::int64_t value = RegisterValue(registers.Block, row).value_or(0);
    const std::int64_t a = RegisterValue(usbBefore, row).value_or(0);
    const std::int64_t b = RegisterValue(usbAfter, row).value_or(0);
    ++agreement.Compared;
    if (value < std::min(a, b) || value > std::max(a, b)) {
      ++agreement.Disagreeing;
      agreement.DisagreeingRows = static_cast<std::uint16_t>(agreement.DisagreeingRows | (1U << r));
      if (row.Offset < kFirstMeasurementOffset) ++agreement.DisagreeingSetPoints;
    }
  }
  return agreement;
}

}  // namespace zrv::modbus
