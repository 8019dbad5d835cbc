#include <windows.h>

#include <QWinEventNotifier>

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <utility>

#include "bus/serial_port.h"
#include "bus/serial_port_notifier.h"

namespace zrv::bus {
namespace {

QString SystemText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  QString out = n > 0 ? QString::fromWCharArray(text, static_cast<qsizetype>(n)).trimmed()
                      : QStringLiteral("error %1").arg(error);
  if (text != nullptr) LocalFree(text);
  return out;
}

// COM10 and above open only by their device name.
std::wstring DeviceName(const QString& path) {
  QString name = path;
  if (!name.startsWith(QLatin1String("\\\\"))) name.prepend(QLatin1String("\\\\.\\"));
  return name.toStdWString();
}

// Wine ends a serial read only once its buffer is full or its total time-out has passed: it does
// not honour the interval time-out that makes Windows end a read as soon as anything has arrived.
// Under wine a read asks for what has already arrived, or else for one character, so that each
// byte is handed on as it comes.
bool UnderWine() {
  static const bool wine = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

}  // namespace

struct SerialPort::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
  QString path;
  LineSettings settings;
  OVERLAPPED readOp{};
  OVERLAPPED writeOp{};
  std::array<char, 512> readBuffer{};
  QByteArray pending;    // waiting to be handed to the driver
  QByteArray inFlight;   // handed over, its write not yet complete
  bool writing = false;
  // Children of the port, let go with deleteLater: the port may be released from inside one of
  // their own signals.
  QWinEventNotifier* readDone = nullptr;
  QWinEventNotifier* writeDone = nullptr;
  std::function<bool()> startRead;

  // Whether the overlapped read or write that ReadFile or WriteFile answered `done` to is under way
  // or over. Any other answer closes the port (Lost).
  bool Started(SerialPort& port, BOOL done) {
    if (done) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) return true;
    port.Fail({PortProblem::Lost, SystemText(error)});
    return false;
  }
  // The bytes the overlapped `op` moved, once it is over; none while it runs, and none when it
  // failed, which closes the port (Lost).
  std::optional<DWORD> Ended(SerialPort& port, OVERLAPPED& op) {
    DWORD moved = 0;
    if (GetOverlappedResult(handle, &op, &moved, FALSE)) return moved;
    const DWORD error = GetLastError();
    if (error != ERROR_IO_INCOMPLETE) port.Fail({PortProblem::Lost, SystemText(error)});
    return std::nullopt;
  }
  // Under wine: what has already come in (such a read ends at once), or one character to wait for.
  // One character at a time would cost a wake-up of the loop for each, which a busy machine turns
  // into answers later than their time-out.
  DWORD QueuedUpTo() const {
    COMSTAT status{};
    DWORD errors = 0;
    const DWORD queued = ClearCommError(handle, &errors, &status) ? status.cbInQue : 0;
    return std::clamp<DWORD>(queued, 1, static_cast<DWORD>(readBuffer.size()));
  }
  void Release() {
    detail::LetGo(readDone);
    detail::LetGo(writeDone);
    if (handle != INVALID_HANDLE_VALUE) {
      CancelIo(handle);
      // The cancelled operations must end before their buffers and events go.
      DWORD ignored = 0;
      GetOverlappedResult(handle, &readOp, &ignored, TRUE);
      if (writing) GetOverlappedResult(handle, &writeOp, &ignored, TRUE);
      CloseHandle(handle);
      handle = INVALID_HANDLE_VALUE;
    }
    for (OVERLAPPED* op : {&readOp, &writeOp}) {
      if (op->hEvent != nullptr) CloseHandle(op->hEvent);
      *op = OVERLAPPED{};
    }
    pending.clear();
    inFlight.clear();
    writing = false;
  }
};

SerialPort::SerialPort(QObject* parent) : QObject(parent), impl_(std::make_unique<Impl>()) {}
SerialPort::~SerialPort() { impl_->Release(); }

PortError SerialPort::Open(const QString& path, const LineSettings& settings) {
  Close();
  // No sharing: Windows then refuses a port another program has open.
  HANDLE handle = CreateFileW(DeviceName(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return {ProblemFromWin32Error(error), SystemText(error)};
  }
  auto refuse = [handle](PortProblem problem) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    return PortError{problem, SystemText(error)};
  };
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) return refuse(PortProblem::NotSerial);
  dcb.BaudRate = settings.Baudrate;
  dcb.ByteSize = 8;
  dcb.StopBits = ONESTOPBIT;
  dcb.Parity = settings.Parity == kParityOdd ? ODDPARITY : settings.Parity == kParityEven ? EVENPARITY : NOPARITY;
  dcb.fBinary = TRUE;
  dcb.fParity = settings.Parity != kParityNone;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  if (!SetCommState(handle, &dcb)) return refuse(PortProblem::BadSetting);
  // A read returns as soon as anything has arrived, or empty after a second of silence.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = 1000;
  if (!SetCommTimeouts(handle, &timeouts)) return refuse(PortProblem::Other);
  PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);

  impl_->handle = handle;
  impl_->path = path;
  impl_->settings = settings;
  impl_->readOp.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  impl_->writeOp.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  impl_->readDone = new QWinEventNotifier(impl_->readOp.hEvent, this);
  impl_->writeDone = new QWinEventNotifier(impl_->writeOp.hEvent, this);

  impl_->startRead = [this]() -> bool {
    // Done at once or pending: either way the event is set on completion and the notifier takes
    // the bytes.
    const DWORD size = UnderWine() ? impl_->QueuedUpTo() : static_cast<DWORD>(impl_->readBuffer.size());
    return impl_->Started(*this, ReadFile(impl_->handle, impl_->readBuffer.data(), size, nullptr, &impl_->readOp));
  };
  connect(impl_->readDone, &QWinEventNotifier::activated, this, &SerialPort::ReadAvailable);
  connect(impl_->writeDone, &QWinEventNotifier::activated, this, [this] {
    if (!impl_->writing) return;
    const std::optional<DWORD> put = impl_->Ended(*this, impl_->writeOp);
    if (!put) return;
    impl_->writing = false;
    impl_->inFlight.remove(0, static_cast<qsizetype>(*put));
    impl_->pending.prepend(impl_->inFlight);
    impl_->inFlight.clear();
    Write({});
  });
  if (!impl_->startRead()) return {PortProblem::Lost, {}};
  return {};
}

void SerialPort::ReadAvailable() {
  if (!IsOpen() || WaitForSingleObject(impl_->readOp.hEvent, 0) != WAIT_OBJECT_0) return;
  const std::optional<DWORD> got = impl_->Ended(*this, impl_->readOp);
  if (!got) return;
  const QByteArray bytes(impl_->readBuffer.data(), static_cast<qsizetype>(*got));
  if (!impl_->startRead()) return;
  if (!bytes.isEmpty()) emit BytesArrived(bytes);
}

void SerialPort::Close() { impl_->Release(); }
bool SerialPort::IsOpen() const { return impl_->handle != INVALID_HANDLE_VALUE; }
QString SerialPort::Path() const { return impl_->path; }
LineSettings SerialPort::Settings() const { return impl_->settings; }
qsizetype SerialPort::PendingWrite() const { return impl_->pending.size() + impl_->inFlight.size(); }

void SerialPort::Discard() {
  impl_->pending.clear();
  if (IsOpen()) PurgeComm(impl_->handle, PURGE_RXCLEAR);
}

bool SerialPort::Write(const QByteArray& bytes) {
  if (!IsOpen()) return false;
  impl_->pending.append(bytes);
  if (impl_->writing || impl_->pending.isEmpty()) return true;
  impl_->inFlight = std::exchange(impl_->pending, QByteArray());
  impl_->writing = true;
  ResetEvent(impl_->writeOp.hEvent);
  return impl_->Started(*this, WriteFile(impl_->handle, impl_->inFlight.constData(),
                                         static_cast<DWORD>(impl_->inFlight.size()), nullptr, &impl_->writeOp));
}

void SerialPort::Fail(PortError why) {
  if (!IsOpen()) return;
  impl_->Release();
  emit Lost(why);
}

}  // namespace zrv::bus
