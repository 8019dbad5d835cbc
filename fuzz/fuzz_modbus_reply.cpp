// Any bytes from the RS485 line as the answer to any request the tool can make, judged both while
// more may come and once the line is silent, then placed into the preview's register layout.
#include <cstddef>
#include <cstdint>
#include <span>

#include "modbus/preview_read.h"
#include "modbus/request.h"
#include "modbus/response.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first five bytes choose the request: its kind, slave, first register and count.
  if (size < 5) return 0;
  const std::uint8_t slave = data[1];
  const auto first = static_cast<std::uint16_t>(data[2] << 8 | data[3]);
  const std::uint16_t count = data[4];
  std::optional<zrv::modbus::Request> request;
  switch (data[0] % 3) {
    case 0: request = zrv::modbus::Request::ReadHolding(slave, first, count); break;
    case 1: request = zrv::modbus::Request::ReadInput(slave, first, count); break;
    default: request = zrv::modbus::Request::Echo(slave, first); break;
  }
  if (!request) return 0;
  const std::span<const std::uint8_t> line(data + 5, size - 5);
  zrv::modbus::Rs485Registers registers;
  for (const bool silent : {false, true}) {
    const zrv::modbus::Reply reply = zrv::modbus::ParseReply(*request, line, silent);
    zrv::modbus::PlaceAnswer(registers, *request, reply);
  }
  (void)zrv::modbus::PreviewValues(registers);
  return 0;
}
