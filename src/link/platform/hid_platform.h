// The operating-system layer under the HID device objects and the controller. Everything the
// layer decides is in THidDevice / THidDeviceController; an implementation of this interface only
// performs the operation asked for. Three implementations exist: Linux (hidraw + libudev),
// Win32 (the HID class driver) and a simulated one for tests and the demo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zrv {

// An open handle of the platform; kInvalidHidHandle when not open.
using HidHandle = std::int64_t;
inline constexpr HidHandle kInvalidHidHandle = -1;

struct THidAttributes {
  std::uint32_t Size = 0;  // set to 12 before the platform is asked
  std::uint16_t VendorID = 0;
  std::uint16_t ProductID = 0;
  std::uint16_t VersionNumber = 0;
};

// Capabilities of one HID interface. Report lengths count the report ID byte.
struct THidCaps {
  std::uint16_t Usage = 0;
  std::uint16_t UsagePage = 0;
  std::uint16_t InputReportByteLength = 0;
  std::uint16_t OutputReportByteLength = 0;
  std::uint16_t FeatureReportByteLength = 0;
};

// What a device's report descriptor gives once it has been read; kept by the device object.
struct HidPreparsedData {
  THidCaps Caps;
};

// One present HID interface as enumeration finds it.
struct HidInterfaceInfo {
  std::string Path;       // the device is opened by this and nothing else
  std::uint32_t Instance; // equal exactly when two scans see the same attached device
};

enum class HidOpenMode {
  ReadWrite,  // synchronous queries and writes
  Identify,   // attribute and string queries only; must not need read or write access
  Read,       // for the reader thread
};

// Outcome of waiting one slice for a started read.
enum class HidWaitResult {
  Completed,  // the read is over (successfully or not): ask GetReadResult
  Pending,    // the slice ended first; the read is still under way
};

// Whether a write of a `length`-byte output report, report ID byte first, that the system says
// wrote `written` bytes took the whole report. Windows and Linux count the ID byte; wine leaves it
// out (63 for a 64-byte report) although the whole report reaches the device. Any other count is
// a short write, and a failure.
constexpr bool WholeReportWritten(std::size_t length, std::size_t written) {
  return length > 0 && (written == length || (length > 1 && written + 1 == length));
}

class IHidPlatform {
 public:
  virtual ~IHidPlatform() = default;

  // Whether the platform's HID services exist at all.
  virtual bool HidServicesPresent() const = 0;

  // Every present HID interface, in a stable order. False when the set cannot be had.
  virtual bool EnumerateInterfaces(std::vector<HidInterfaceInfo>& out) = 0;

  virtual HidHandle Open(const std::string& path, HidOpenMode mode) = 0;
  // Closing a handle ends a read outstanding on it (the waiter sees Completed, then 0 bytes).
  // Safe to call from the UI thread while another thread waits on the handle.
  virtual void Close(HidHandle handle) = 0;

  virtual bool GetAttributes(HidHandle handle, THidAttributes& out) = 0;
  // Fills at most `bytes` bytes of `buffer` with NUL-terminated UTF-16 text.
  virtual bool GetProductString(HidHandle handle, char16_t* buffer, std::size_t bytes) = 0;
  virtual bool GetPreparsedData(HidHandle handle, HidPreparsedData& out) = 0;

  virtual bool SetNumInputBuffers(HidHandle handle, std::uint32_t count) = 0;
  virtual bool GetNumInputBuffers(HidHandle handle, std::uint32_t& count) = 0;

  // One whole output report, synchronously: true when it went out whole (see
  // WholeReportWritten), with `written` the count the system gave.
  virtual bool Write(HidHandle handle, const std::uint8_t* buffer, std::size_t length,
                     std::uint32_t& written) = 0;

  // Reading, for the reader thread only. StartRead begins one read of up to `length` bytes into
  // `buffer` (which must stay valid until the read is over) and returns false with `error` set
  // when the read cannot start. WaitRead waits at most `sliceMs`. GetReadResult gives the byte
  // count of the completed read (false when it failed). CancelRead ends an outstanding read so
  // that it no longer writes into the buffer. Every delivered report starts with its report ID
  // (0 for devices without numbered reports).
  virtual bool StartRead(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                         std::uint32_t& error) = 0;
  virtual HidWaitResult WaitRead(HidHandle handle, int sliceMs) = 0;
  virtual bool GetReadResult(HidHandle handle, std::uint32_t& bytesRead) = 0;
  virtual void CancelRead(HidHandle handle) = 0;
  // Takes one report that is already waiting on a read handle, without waiting: true with
  // `bytesRead` > 0 when there was one. Only while no read is outstanding on the handle; used by
  // the thread serving a hand-off (the reader is blocked meanwhile) to take a burst in one go.
  virtual bool ReadQueued(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                          std::uint32_t& bytesRead) = 0;

  // Called on the UI thread after any change of the set of devices (possibly more often).
  // Registering starts the watch; an empty callback stops it.
  virtual void SetChangeNotification(std::function<void()> onChange) = 0;
};

}  // namespace zrv
