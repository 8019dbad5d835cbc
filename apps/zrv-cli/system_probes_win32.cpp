// Windows has no udev rules, login seats or device node modes: any user may open a HID device.
#include "doctor.h"

namespace zrv::cli {

std::string SystemProbes::InstalledUdevRule() { return ""; }

SessionKind SystemProbes::Session() { return SessionKind::LocalSeat; }

std::optional<NodeFacts> SystemProbes::Node(const std::string& /*node*/) { return std::nullopt; }

bool SystemProbes::AccessIsByPermission() { return false; }

}  // namespace zrv::cli
