// The simulated driver behind a simulated HID device, as the demo runs it: with a clock, its
// readings move at every request the window sends, with no timer of their own.
#include "sim/sim_driver_model.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>

namespace zrv {
namespace {

std::array<std::uint8_t, sim::kReportLength> StatusRequest() {
  std::array<std::uint8_t, sim::kReportLength> report{};
  report[0] = sim::kReportId;
  report[1] = static_cast<std::uint8_t>(CommandCode::ReadStatus);
  return report;
}

TEST(SimDriverModel, AClockMovesTheReadingsAtEveryRequest) {
  SimHidPlatform platform;
  auto model = std::make_shared<SimDriverModel>();
  model->Driver().SetLively(true);
  std::uint64_t now = 5000;
  model->SetClock([&now] { return now; });
  SimHidDeviceConfig config;
  config.Path = "/sim/driver";
  config.Instance = 1;
  config.ProductString = u"ZRVXXX";
  const std::shared_ptr<SimHidDevice> device = SimDriverModel::PlugDriver(platform, config, model);
  const auto request = StatusRequest();

  model->OnOutputReport(*device, request.data(), request.size());
  EXPECT_EQ(model->Driver().NowMs(), 5000U);
  const std::uint16_t first = model->Driver().Model().Status.Potentiometer;

  // The same moment twice: nothing moves. Later: the readings have moved with the time.
  model->OnOutputReport(*device, request.data(), request.size());
  EXPECT_EQ(model->Driver().Model().Status.Potentiometer, first);
  now += 1000;
  model->OnOutputReport(*device, request.data(), request.size());
  EXPECT_EQ(model->Driver().NowMs(), 6000U);
  EXPECT_NE(model->Driver().Model().Status.Potentiometer, first);
  EXPECT_EQ(model->Driver().CommandCount(11), 3U);
}

}  // namespace
}  // namespace zrv
