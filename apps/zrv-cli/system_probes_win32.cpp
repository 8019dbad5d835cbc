// Windows has no udev rules, login seats or device node modes: any user may open a HID device.
#include "bus/serial_port_list.h"
#include "doctor.h"

namespace zrv::cli {

std::string SystemProbes::InstalledUdevRule() { return ""; }

SessionKind SystemProbes::Session() { return SessionKind::LocalSeat; }

std::optional<NodeFacts> SystemProbes::Node(const std::string& /*node*/) { return std::nullopt; }

bool SystemProbes::AccessIsByPermission() { return false; }

// Any user may open a COM port; one held by another program shows only when it is opened.
SerialFacts SystemProbes::Serial() {
  SerialFacts facts;
  for (const bus::SerialPortInfo& info : bus::ListSerialPorts()) {
    SerialPortFacts port;
    port.Path = info.path.toStdString();
    port.Description = info.description.toStdString();
    facts.Ports.push_back(std::move(port));
  }
  return facts;
}

}  // namespace zrv::cli
