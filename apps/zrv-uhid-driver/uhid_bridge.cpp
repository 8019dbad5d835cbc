#include "uhid_bridge.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace zrv::uhid {

namespace {
constexpr std::uint8_t kStatusCode = 11;
}

std::vector<std::uint8_t> DriverReportDescriptor(bool numbered) {
  static constexpr std::array<std::uint8_t, 7> kHead = {
      0x06, 0x00, 0xFF,  // Usage Page (vendor defined 0xFF00)
      0x09, 0x01,        // Usage (1)
      0xA1, 0x01,        // Collection (Application)
  };
  static constexpr std::array<std::uint8_t, 2> kReportIdItem = {0x85, sim::kReportId};  // Report ID (1)
  static constexpr std::array<std::uint8_t, 18> kBody = {
      0x15, 0x00,        //   Logical Minimum (0)
      0x26, 0xFF, 0x00,  //   Logical Maximum (255)
      0x75, 0x08,        //   Report Size (8)
      0x95, 0x3F,        //   Report Count (63)
      0x09, 0x01,        //   Usage (1)
      0x81, 0x02,        //   Input (Data, Variable, Absolute)
      0x09, 0x01,        //   Usage (1)
      0x91, 0x02,        //   Output (Data, Variable, Absolute)
      0xC0,              // End Collection
  };
  std::vector<std::uint8_t> d;
  d.reserve(kHead.size() + kReportIdItem.size() + kBody.size());
  for (std::uint8_t b : kHead) d.push_back(b);
  if (numbered) {
    for (std::uint8_t b : kReportIdItem) d.push_back(b);
  }
  for (std::uint8_t b : kBody) d.push_back(b);
  return d;
}

std::vector<std::uint8_t> PointerReportDescriptor() {
  return {
      0x05, 0x01,  // Usage Page (Generic Desktop)
      0x09, 0x02,  // Usage (Mouse)
      0xA1, 0x01,  // Collection (Application)
      0x09, 0x01,  //   Usage (Pointer)
      0xA1, 0x00,  //   Collection (Physical)
      0x05, 0x09,  //     Usage Page (Button)
      0x19, 0x01,  //     Usage Minimum (1)
      0x29, 0x03,  //     Usage Maximum (3)
      0x15, 0x00,  //     Logical Minimum (0)
      0x25, 0x01,  //     Logical Maximum (1)
      0x95, 0x03,  //     Report Count (3)
      0x75, 0x01,  //     Report Size (1)
      0x81, 0x02,  //     Input (Data, Variable, Absolute)
      0x95, 0x01,  //     Report Count (1)
      0x75, 0x05,  //     Report Size (5)
      0x81, 0x01,  //     Input (Constant)
      0x05, 0x01,  //     Usage Page (Generic Desktop)
      0x09, 0x30,  //     Usage (X)
      0x09, 0x31,  //     Usage (Y)
      0x15, 0x81,  //     Logical Minimum (-127)
      0x25, 0x7F,  //     Logical Maximum (127)
      0x75, 0x08,  //     Report Size (8)
      0x95, 0x02,  //     Report Count (2)
      0x81, 0x06,  //     Input (Data, Variable, Relative)
      0xC0,        //   End Collection
      0xC0,        // End Collection
  };
}

bool BuildCreate(const DeviceSpec& wanted, uhid_event& event) {
  std::memset(&event, 0, sizeof event);
  event.type = UHID_CREATE2;
  uhid_create2_req& req = event.u.create2;
  // The name must keep its terminating NUL inside the field.
  if (wanted.Name.size() >= sizeof req.name || wanted.Descriptor.size() > sizeof req.rd_data) return false;
  std::memcpy(req.name, wanted.Name.data(), wanted.Name.size());
  static constexpr char kPhys[] = "zrv-uhid-driver";
  std::memcpy(req.phys, kPhys, sizeof kPhys);
  req.rd_size = static_cast<__u16>(wanted.Descriptor.size());
  req.bus = BUS_USB;
  req.vendor = wanted.Vendor;
  req.product = wanted.Product;
  req.version = 0x0102;
  req.country = 0;
  std::memcpy(req.rd_data, wanted.Descriptor.data(), wanted.Descriptor.size());
  return true;
}

void BuildDestroy(uhid_event& event) {
  std::memset(&event, 0, sizeof event);
  event.type = UHID_DESTROY;
}

DriverBridge::DriverBridge(sim::SimulatedDriver& driver, bool numbered, Writer writer)
    : driver_(driver), numbered_(numbered), writer_(std::move(writer)) {
  driver_.SetSink([this](const std::uint8_t* report, std::size_t length) { SendInput(report, length); });
}

void DriverBridge::ResetKernelState() {
  started_ = false;
  opened_ = false;
  openCount_ = 0;
}

void DriverBridge::OnEvent(const uhid_event& event) {
  switch (event.type) {
    case UHID_START:
      started_ = true;
      break;
    case UHID_STOP:
      started_ = false;
      break;
    case UHID_OPEN:
      ++openCount_;
      opened_ = true;
      break;
    case UHID_CLOSE:
      if (openCount_ > 0) --openCount_;
      break;
    case UHID_OUTPUT: {
      const uhid_output_req& out = event.u.output;
      if (out.rtype != UHID_OUTPUT_REPORT) break;
      const std::size_t size = std::min<std::size_t>(out.size, sizeof out.data);
      std::uint8_t report[UHID_DATA_MAX];
      std::memcpy(report, out.data, size);
      if (observer_) observer_(report, size);
      // Without numbered reports the host's leading byte is only the "no ID" placeholder 0;
      // the firmware model frames everything with its one report ID.
      if (!numbered_ && size > 0 && report[0] == 0) report[0] = sim::kReportId;
      driver_.OnOutputReport(report, size);
      break;
    }
    case UHID_GET_REPORT: {
      // The driver has no feature or readable reports; answering at once keeps an ioctl on the
      // hidraw node from hanging until the kernel's own time-out.
      uhid_event reply{};
      reply.type = UHID_GET_REPORT_REPLY;
      reply.u.get_report_reply.id = event.u.get_report.id;
      reply.u.get_report_reply.err = EIO;
      writer_(reply);
      break;
    }
    case UHID_SET_REPORT: {
      uhid_event reply{};
      reply.type = UHID_SET_REPORT_REPLY;
      reply.u.set_report_reply.id = event.u.set_report.id;
      reply.u.set_report_reply.err = EIO;
      writer_(reply);
      break;
    }
    default:
      break;
  }
}

void DriverBridge::SendInput(const std::uint8_t* report, std::size_t length) {
  if (!started_) {
    ++inputsFailed_;  // no device behind the node: the report is lost, as on a real unplug
    return;
  }
  uhid_event event{};
  event.type = UHID_INPUT2;
  std::size_t skip = numbered_ ? 0 : 1;  // without numbered reports the ID byte is not sent
  if (length <= skip) return;
  const std::size_t size = std::min<std::size_t>(length - skip, sizeof event.u.input2.data);
  std::memcpy(event.u.input2.data, report + skip, size);
  event.u.input2.size = static_cast<__u16>(size);
  if (writer_(event)) {
    ++inputsSent_;
  } else {
    ++inputsFailed_;
  }
}

std::uint64_t DriverBridge::SendFlood(std::uint64_t max) {
  std::uint64_t sent = 0;
  std::array<std::uint8_t, sim::kReportLength> report{};
  while (floodLeft_ > 0 && sent < max) {
    driver_.BuildReply(kStatusCode, report);
    std::memcpy(report.data() + sim::kReportLength - sizeof floodSequence_, &floodSequence_,
                sizeof floodSequence_);
    ++floodSequence_;
    SendInput(report.data(), report.size());
    --floodLeft_;
    ++sent;
  }
  return sent;
}

}  // namespace zrv::uhid
