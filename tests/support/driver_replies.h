// For tests of a driver session and the windows on it: the bytes of the driver's replies (after
// the report ID, code first), delivered through the session's own decoding, and a device with the
// driver's product string that the session's scan connects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/platform/sim/sim_hid_platform.h"
#include "protocol/device_state.h"
#include "session/driver_session.h"

namespace zrv::test {

using ReplyBytes = std::vector<std::uint8_t>;

// Reply 10: firmware and hardware versions in hundredths, a name of at most 8 characters, the
// gauges' limits (data[12..21]) and the Modbus settings (data[22..27]).
ReplyBytes IdentityReply(std::int8_t firmware, const char* name, std::int8_t hardware,
                         const DriverLimits& limits = {}, const ModbusSettings& modbus = {});
// Reply 11: the live status at data[1..28].
ReplyBytes StatusReply(const LiveStatus& status);
// Reply 20: the Modbus settings at data[1..6].
ReplyBytes ModbusSettingsReply(const ModbusSettings& settings);

// One reply, handed to the session as the device's reader hands it over.
void Deliver(DriverSession& session, const ReplyBytes& data);

// A HID device that says it is the driver, with `model` behind it (none: nothing answers).
SimHidDeviceConfig DriverDeviceConfig(std::uint32_t instance = 1);

// Plugs the driver's device and runs the event loop until the session has connected it; null when
// it did not.
std::shared_ptr<SimHidDevice> PlugConnectedDriver(SimHidPlatform& platform, DriverSession& session,
                                                  std::shared_ptr<ISimHidModel> model = nullptr,
                                                  SimHidDeviceConfig config = DriverDeviceConfig());
// Unplugs `device` and runs the event loop until the session has scanned again; false when it
// did not or is still connected.
bool UnplugAndRescan(SimHidPlatform& platform, DriverSession& session,
                     const std::shared_ptr<SimHidDevice>& device);

}  // namespace zrv::test
