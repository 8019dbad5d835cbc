// The fifteen previewed registers read over RS485: which reads fetch them, where the words of an
// answer go (the places the USB register preview gives them, so both are decoded by the same
// table), and whether what RS485 read agrees with what USB shows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "modbus/request.h"
#include "modbus/response.h"
#include "protocol/device_state.h"
#include "protocol/register_map.h"

namespace zrv::modbus {

enum class RegisterTable { Holding, Input };

// Two reads cover the fifteen rows: registers 0..10 and 100..113 (the runs the block holds).
inline constexpr std::size_t kPreviewReadCount = kBlockRegisterRuns.size();
std::optional<Request> PreviewRead(RegisterTable table, std::uint8_t slave, std::size_t index);

// Registers read over RS485, laid out as the USB register block lays them out.
struct Rs485Registers {
  RegisterBlock Block{};
  std::uint32_t Filled = 0;  // bit w: block word w (bytes 2w and 2w + 1) was read
  bool Has(const RegisterRow& row) const;
};

// Puts the registers of a read's answer at their places; registers the block does not hold are
// left out. Nothing for any other kind of reply.
void PlaceAnswer(Rs485Registers& registers, const Request& request, const Reply& reply);

// Each row's value as the preview shows it (112 and 113 as one signed value, 112 the low word);
// none for a row not (wholly) read.
std::array<std::optional<std::int64_t>, kRegisterRowCount> PreviewValues(const Rs485Registers& registers);

// Rows read over RS485 against the USB preview taken just before and just after the reads: a row
// agrees when its value lies between (or on) the two USB values, so a reading that moved while it
// was read still agrees.
// Only the set points (registers below 100: written by a master, still while the drive runs) can
// tell another device: measurements may swing outside the two USB readings between them, and a
// running drive's currents do.
struct Agreement {
  std::uint16_t Compared = 0;
  std::uint16_t Disagreeing = 0;
  std::uint16_t DisagreeingRows = 0;  // bit r: row r of the register table
  std::uint16_t DisagreeingSetPoints = 0;
  bool AllAgree() const { return Compared > 0 && Disagreeing == 0; }
};
Agreement CompareWithUsb(const Rs485Registers& registers, const RegisterBlock& usbBefore,
                         const RegisterBlock& usbAfter);

}  // namespace zrv::modbus
