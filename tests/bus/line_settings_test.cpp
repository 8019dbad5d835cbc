#include <gtest/gtest.h>

#include <cerrno>

#include "bus/line_settings.h"
#include "bus/port_problem.h"
#include "bus/serial_port_list.h"

namespace zrv::bus {
namespace {

TEST(LineSettingsTest, WrittenAsTechniciansWriteThem) {
  EXPECT_EQ(LineSettingsText({38400, kParityNone}), QStringLiteral("38400 8N1"));
  EXPECT_EQ(LineSettingsText({9600, kParityEven}), QStringLiteral("9600 8E1"));
  EXPECT_EQ(LineSettingsText({115200, kParityOdd}), QStringLiteral("115200 8O1"));
}

TEST(PortProblemTest, SystemErrorsSortIntoProblemsWithAFix) {
  EXPECT_EQ(ProblemFromErrno(ENOENT), PortProblem::Missing);
  EXPECT_EQ(ProblemFromErrno(ENXIO), PortProblem::Missing);
  EXPECT_EQ(ProblemFromErrno(EBUSY), PortProblem::Busy);
  EXPECT_EQ(ProblemFromErrno(EACCES), PortProblem::NoAccess);
  EXPECT_EQ(ProblemFromErrno(ENOTTY), PortProblem::NotSerial);
  EXPECT_EQ(ProblemFromErrno(EIO), PortProblem::Lost);
  // On Windows a port another program has open answers "access denied".
  EXPECT_EQ(ProblemFromWin32Error(5), PortProblem::Busy);
  EXPECT_EQ(ProblemFromWin32Error(2), PortProblem::Missing);
  EXPECT_EQ(ProblemFromWin32Error(995), PortProblem::Lost);

  const QString path = QStringLiteral("/dev/ttyUSB0");
  EXPECT_TRUE(PortProblemText({PortProblem::Missing, {}}, path).contains(QLatin1String("plug the adapter in")));
  EXPECT_TRUE(PortProblemText({PortProblem::Busy, QStringLiteral("mbpoll (42)")}, path)
                  .endsWith(QLatin1String("(mbpoll (42))")));
#ifndef _WIN32
  EXPECT_TRUE(PortProblemText({PortProblem::NoAccess, {}}, path).contains(QLatin1String("dialout")));
#endif
  EXPECT_TRUE(PortProblemText({}, path).isEmpty());
  QStringList keys;
  for (const PortProblem p : {PortProblem::Missing, PortProblem::Busy, PortProblem::NoAccess,
                              PortProblem::NotSerial, PortProblem::BadSetting, PortProblem::Lost,
                              PortProblem::Other}) {
    keys.append(PortProblemKey(p));
  }
  EXPECT_EQ(keys.join(QLatin1Char(' ')),
            QStringLiteral("missing busy no-access not-serial bad-setting lost other"));
}

TEST(SerialPortListTest, UsbIdsAreFourHexDigitsEachAndAbsentOffUsb) {
  SerialPortInfo port;
  EXPECT_TRUE(UsbIdsText(port).isEmpty());
  port.hasUsbIds = true;
  port.vendorId = 0x403;
  port.productId = 0x6001;
  EXPECT_EQ(UsbIdsText(port), QStringLiteral("0403:6001"));
}

}  // namespace
}  // namespace zrv::bus
