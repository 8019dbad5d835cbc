// Any input report, of any code and length, through the decoder and then through a display tick
// computed from whatever state it left, in both decimal separators.
#include <cstddef>
#include <cstdint>

#include "view/live_view_model.h"
#include "view/reply_view.h"
#include "protocol/reply_decoder.h"
#include "protocol/report_framing.h"

namespace {
zrv::DeviceState state{};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte picks the separator and whether earlier state is kept, so sequences of replies
  // are explored too.
  if (size == 0) return 0;
  const char separator = (data[0] & 1) ? ',' : '.';
  if (data[0] & 2) state = zrv::DeviceState{};
  const zrv::DecodedReply reply = zrv::DecodeReply(state, data + 1, size - 1);
  (void)zrv::IdentityView(state, separator);
  (void)zrv::ModbusListView(state.Modbus);
  (void)zrv::RegisterView(state.Registers, reply.GoodFrames);
  const zrv::TickView tick = zrv::ComputeTick(state, separator, (data[0] & 4) != 0);
  (void)tick;
  zrv::OutputReport report;
  (void)zrv::FrameReport(data + 1, static_cast<std::uint32_t>(size - 1),
                         static_cast<std::uint32_t>(data[0]) * 2u, report);
  return 0;
}
