// Our RS485 client's reads, printed for a script that checks them against a Modbus server
// nobody here wrote: the link check with no driver on USB, at given settings, one round.
// Usage: zrv-peer-read PORT SLAVE BAUD (parity none). Prints one JSON object:
// {"verdict": KEY, "table": "holding"|"input", "problem": TEXT, "port": TEXT,
// "registers": [{"addr": N, "value": V}, ...]}.
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "bus/port_problem.h"
#include "protocol/register_map.h"
#include "rs485/link_check.h"
#include "rs485/serial_port_transport.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 4) {
    std::fputs("usage: zrv-peer-read PORT SLAVE BAUD\n", stderr);
    return 2;
  }
  const auto slave = static_cast<std::uint8_t>(std::atoi(argv[2]));
  const auto baud = static_cast<std::uint32_t>(std::atol(argv[3]));
  zrv::SerialPortTransport transport(QString::fromLocal8Bit(argv[1]));
  const auto start = std::chrono::steady_clock::now();
  zrv::LinkCheck check(nullptr, zrv::RealTimeSource(), [start] {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
  });
  int rc = 1;
  auto text = [](std::string_view key) { return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())); };
  QObject::connect(&check, &zrv::LinkCheck::Finished, &app, [&](const zrv::LinkCheckReport& report) {
    QJsonArray registers;
    for (const zrv::RegisterRun& run : zrv::kBlockRegisterRuns) {
      for (std::uint32_t n = run.First; n < static_cast<std::uint32_t>(run.First) + run.Count; ++n) {
        const std::size_t offset = *zrv::BlockOffsetOfRegister(n);
        if ((report.Rs485.Filled & (1u << (offset / 2))) == 0) continue;
        std::uint16_t value = 0;
        std::memcpy(&value, report.Rs485.Block.Bytes.data() + offset, sizeof value);
        registers.append(QJsonObject{{QStringLiteral("addr"), static_cast<int>(n)}, {QStringLiteral("value"), value}});
      }
    }
    const QJsonObject out{
        {QStringLiteral("verdict"), text(zrv::modbus::VerdictKey(report.Result.Verdict))},
        {QStringLiteral("table"),
         report.Table == zrv::modbus::RegisterTable::Holding ? QStringLiteral("holding") : QStringLiteral("input")},
        {QStringLiteral("problem"), report.Problem},
        {QStringLiteral("port"), transport.LastError() ? zrv::bus::PortProblemText(transport.LastError(), transport.Path())
                                                       : QString()},
        {QStringLiteral("registers"), registers}};
    std::fputs(QJsonDocument(out).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    rc = registers.isEmpty() ? 1 : 0;
    QCoreApplication::quit();
  });
  QTimer::singleShot(0, &app, [&] {
    if (!check.Start(transport, {zrv::modbus::LineSettings{baud, 0}, slave, 1})) QCoreApplication::quit();
  });
  QCoreApplication::exec();
  return rc;
}
