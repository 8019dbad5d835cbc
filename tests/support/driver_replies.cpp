#include "support/driver_replies.h"

#include <cstring>

#include "support/run_until.h"

namespace zrv::test {

ReplyBytes IdentityReply(std::int8_t firmware, const char* name, std::int8_t hardware,
                         const DriverLimits& limits, const ModbusSettings& modbus) {
  ReplyBytes data(28, 0);
  data[0] = static_cast<std::uint8_t>(CommandCode::ReadIdentity);
  data[1] = static_cast<std::uint8_t>(firmware);
  for (std::size_t i = 0; name[i] != '\0' && i < 8; ++i) {
    data[2 + i] = static_cast<std::uint8_t>(name[i]);
  }
  data[11] = static_cast<std::uint8_t>(hardware);
  std::memcpy(data.data() + 12, &limits, sizeof limits);
  std::memcpy(data.data() + 22, &modbus, sizeof modbus);
  return data;
}

ReplyBytes StatusReply(const LiveStatus& status) {
  ReplyBytes data(1 + sizeof status, 0);
  data[0] = static_cast<std::uint8_t>(CommandCode::ReadStatus);
  std::memcpy(data.data() + 1, &status, sizeof status);
  return data;
}

ReplyBytes ModbusSettingsReply(const ModbusSettings& settings) {
  ReplyBytes data(1 + sizeof settings, 0);
  data[0] = static_cast<std::uint8_t>(CommandCode::ReadModbusSettings);
  std::memcpy(data.data() + 1, &settings, sizeof settings);
  return data;
}

void Deliver(DriverSession& session, const ReplyBytes& data) {
  session.HandleReply(nullptr, 1, data.data(), static_cast<std::uint16_t>(data.size()));
}

SimHidDeviceConfig DriverDeviceConfig(std::uint32_t instance) {
  SimHidDeviceConfig config;
  config.Path = "/sim/driver" + std::to_string(instance);
  config.Instance = instance;
  config.VendorID = 0x1A2B;
  config.ProductID = 0x0512;
  config.ProductString = u"ZRVXXX";
  return config;
}

std::shared_ptr<SimHidDevice> PlugConnectedDriver(SimHidPlatform& platform, DriverSession& session,
                                                  std::shared_ptr<ISimHidModel> model,
                                                  SimHidDeviceConfig config) {
  const int before = platform.EnumerationCount();
  std::shared_ptr<SimHidDevice> device = platform.Plug(std::move(config), std::move(model));
  const bool connected = RunUntil([&] {
    return platform.EnumerationCount() > before && session.Connected() && session.CurrentDevice() != nullptr;
  });
  return connected ? device : nullptr;
}

bool UnplugAndRescan(SimHidPlatform& platform, DriverSession& session,
                     const std::shared_ptr<SimHidDevice>& device) {
  const int before = platform.EnumerationCount();
  platform.Unplug(device);
  return RunUntil([&] { return platform.EnumerationCount() > before; }) && !session.Connected();
}

}  // namespace zrv::test
