// zrv-wine-backend.exe: our Win32 HID backend alone (no Qt) against the virtual driver, under wine
// in the VM. vm/wine/scenarios.sh runs it and drives the driver from outside; it prints one line per
// step and exits 0 only when every step held:
//   found      the driver among the HID interfaces by its product string, 64-byte reports
//   exchange   command 10 written whole (wine counts one byte less) and its reply read
//   unplug     prints "unplug now", then the pending read ends failed and a change is notified
//   replug     prints "replug now", then a change is notified and a scan finds the driver again
// (the last two in the plain mode; see main for the others)
#include <windows.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "link/platform/win32/win32_hid_platform.h"

namespace {

using Clock = std::chrono::steady_clock;

int failures = 0;

void Step(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

// Serves the change window's messages on this thread for up to ms, or until done() holds.
template <typename Done>
bool PumpUntil(int ms, Done done) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    if (done()) return true;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  }
  return done();
}

std::optional<std::string> FindDriver(zrv::Win32HidPlatform& platform, zrv::THidCaps& caps) {
  std::vector<zrv::HidInterfaceInfo> interfaces;
  if (!platform.EnumerateInterfaces(interfaces)) return std::nullopt;
  for (const zrv::HidInterfaceInfo& info : interfaces) {
    const zrv::HidHandle h = platform.Open(info.Path, zrv::HidOpenMode::Identify);
    if (h == zrv::kInvalidHidHandle) continue;
    std::array<char16_t, 128> name{};
    const bool named = platform.GetProductString(h, name.data(), sizeof name);
    zrv::HidPreparsedData data;
    const bool described = platform.GetPreparsedData(h, data);
    platform.Close(h);
    if (named && std::u16string(name.data()) == u"ZRVXXX" && described) {
      caps = data.Caps;
      return info.Path;
    }
  }
  return std::nullopt;
}

// Writes one command (report ID id) and reads the next report; false when none came within ms.
bool Exchange(zrv::Win32HidPlatform& platform, zrv::HidHandle writer, zrv::HidHandle reader, std::uint8_t id,
              std::uint8_t code, std::array<std::uint8_t, 64>& reply, std::uint32_t& got, int ms,
              bool* pendingAt100 = nullptr) {
  std::uint32_t error = 0;
  if (!platform.StartRead(reader, reply.data(), reply.size(), error)) return false;
  std::array<std::uint8_t, 64> command{};
  command[0] = id;
  command[1] = code;
  std::uint32_t written = 0;
  const bool wrote = platform.Write(writer, command.data(), command.size(), written);
  // wine counts 63 of the 64 bytes (the report ID left out); Windows counts 64.
  Step(wrote, "command " + std::to_string(code) + " written, " + std::to_string(written) + " bytes counted");
  if (pendingAt100 != nullptr) {
    PumpUntil(100, [] { return false; });
    *pendingAt100 = platform.WaitRead(reader, 0) == zrv::HidWaitResult::Pending;
  }
  const bool done = PumpUntil(ms, [&] { return platform.WaitRead(reader, 0) == zrv::HidWaitResult::Completed; });
  if (!done) platform.CancelRead(reader);
  got = 0;
  return done && platform.GetReadResult(reader, got);
}

}  // namespace

// Modes, one per way the scenarios start the driver:
//   plain       exchange, unplug with a read pending, replug
//   unnumbered  --no-report-ids: reports carry ID 0 in front, 63 bytes of data
//   short       --short-replies 20 --short-code 11: the short status reply never arrives, the
//               identity reply after it does
//   delay       --reply-delay 400: the reply is still pending 100 ms after the command, then comes
int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "plain";
  zrv::Win32HidPlatform platform;
  int changes = 0;
  platform.SetChangeNotification([&changes] { ++changes; });
  Step(platform.IsWatchingChanges(), "device changes registered");

  // wine's HID bus adds the device a moment after udev has seen it.
  zrv::THidCaps caps;
  std::optional<std::string> path;
  const auto t0 = Clock::now();
  PumpUntil(60000, [&] { return (path = FindDriver(platform, caps)).has_value(); });
  Step(path.has_value(), "found the driver by its product string after " +
                             std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count()) +
                             " ms");
  if (!path) return 1;
  // Without report IDs the HID class driver still counts a (zero) ID byte in front.
  Step(caps.InputReportByteLength == 64 && caps.OutputReportByteLength == 64,
       "report lengths in " + std::to_string(caps.InputReportByteLength) + ", out " +
           std::to_string(caps.OutputReportByteLength));

  const zrv::HidHandle writer = platform.Open(*path, zrv::HidOpenMode::ReadWrite);
  const zrv::HidHandle reader = platform.Open(*path, zrv::HidOpenMode::Read);
  Step(writer != zrv::kInvalidHidHandle && reader != zrv::kInvalidHidHandle, "opened for writing and reading");
  if (writer == zrv::kInvalidHidHandle || reader == zrv::kInvalidHidHandle) return 1;

  std::array<std::uint8_t, 64> reply{};
  std::uint32_t got = 0;
  auto replyText = [&] {
    return std::to_string(got) + " bytes, ID " + std::to_string(reply[0]) + ", code " + std::to_string(reply[1]) +
           ", byte 2 " + std::to_string(reply[2]);
  };
  if (mode == "unnumbered") {
    const bool read = Exchange(platform, writer, reader, 0, 10, reply, got, 5000);
    Step(read && got == 64 && reply[0] == 0 && reply[1] == 10 && reply[2] == 125,
         "identity reply read with ID 0: " + replyText());
    return failures == 0 ? 0 : 1;
  }
  if (mode == "short") {
    const bool status = Exchange(platform, writer, reader, 1, 11, reply, got, 1500);
    Step(!status, "no status reply (20 bytes, shorter than declared)");
    const bool identity = Exchange(platform, writer, reader, 1, 10, reply, got, 5000);
    Step(identity && got == 64 && reply[1] == 10, "the whole identity reply read: " + replyText());
    return failures == 0 ? 0 : 1;
  }
  if (mode == "delay") {
    bool pending = false;
    const bool read = Exchange(platform, writer, reader, 1, 10, reply, got, 5000, &pending);
    Step(pending, "the reply still pending 100 ms after the command");
    Step(read && got == 64 && reply[1] == 10, "the late identity reply read: " + replyText());
    return failures == 0 ? 0 : 1;
  }

  const bool read = Exchange(platform, writer, reader, 1, 10, reply, got, 5000);
  Step(read && got == 64 && reply[0] == 1 && reply[1] == 10 && reply[2] == 125, "identity reply read: " + replyText());

  // Unplugged while a read is pending: the read ends failed, the change window hears of it.
  std::uint32_t error = 0;
  Step(platform.StartRead(reader, reply.data(), reply.size(), error), "read started before the unplug");
  const int before = changes;
  std::printf("unplug now\n");
  std::fflush(stdout);
  const bool ended = PumpUntil(30000, [&] { return platform.WaitRead(reader, 0) == zrv::HidWaitResult::Completed; });
  Step(ended && !platform.GetReadResult(reader, got), "the pending read ended failed");
  Step(PumpUntil(30000, [&] { return changes > before; }), "the removal notified");
  platform.Close(reader);
  platform.Close(writer);
  Step(!FindDriver(platform, caps).has_value(), "a scan no longer finds the driver");

  const int unplugged = changes;
  std::printf("replug now\n");
  std::fflush(stdout);
  Step(PumpUntil(30000, [&] { return changes > unplugged; }), "the arrival notified");
  Step(PumpUntil(10000, [&] { return FindDriver(platform, caps).has_value(); }), "a scan finds the driver again");
  platform.SetChangeNotification(nullptr);
  return failures == 0 ? 0 : 1;
}
