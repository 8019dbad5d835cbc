#include "link/platform/linux/hidraw_node_facts.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "link/platform/linux/sysfs_hid_device.h"

namespace zrv {

bool ReadHidrawBus(const std::filesystem::path& sysfsRoot, std::uint32_t major, std::uint32_t minor,
                   std::uint16_t& bus) {
  std::filesystem::path hidDir;
  SysfsHidIdentity identity;
  if (!ResolveHidrawHidDirectory(sysfsRoot, major, minor, hidDir) || !ReadSysfsHidIdentity(hidDir, identity)) {
    return false;
  }
  bus = identity.Ids.Bus;
  return true;
}

bool ReadHidrawNodeFacts(const std::filesystem::path& sysfsRoot, const std::string& node,
                         HidrawNodeFacts& out) {
  struct stat st {};
  if (::stat(node.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  HidrawNodeFacts facts;
  facts.Mode = st.st_mode & 07777;
  facts.Uid = st.st_uid;
  facts.Gid = st.st_gid;
  facts.BusKnown = ReadHidrawBus(sysfsRoot, major(st.st_rdev), minor(st.st_rdev), facts.Bus);
  out = facts;
  return true;
}

}  // namespace zrv
