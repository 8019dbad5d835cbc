#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <functional>

#include "bus/pty_line.h"
#include "bus/serial_port.h"
#include "bus/serial_port_list.h"

namespace zrv::bus {
namespace {

// A pseudo-terminal pair: the port under test opens the far end by its path, the test holds the
// near end as the other side of the line.
class PtyPair {
 public:
  PtyPair() {
    std::array<char, 128> name{};
    if (::openpty(&near_, &far_, name.data(), nullptr, nullptr) == 0) {
      path_ = QString::fromLocal8Bit(name.data());
      termios raw{};
      ::tcgetattr(near_, &raw);
      ::cfmakeraw(&raw);
      ::tcsetattr(near_, TCSANOW, &raw);
      ::fcntl(near_, F_SETFL, ::fcntl(near_, F_GETFL) | O_NONBLOCK);
    }
  }
  ~PtyPair() {
    CloseNear();
    if (far_ >= 0) ::close(far_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;
  const QString& Path() const { return path_; }
  // The line's far end stays open in the test too, as it would with a terminal program: let go of
  // it so that only the port under test holds the path.
  void LetGoOfFar() {
    if (far_ >= 0) ::close(far_);
    far_ = -1;
  }
  void CloseNear() {
    if (near_ >= 0) ::close(near_);
    near_ = -1;
  }
  void Send(const QByteArray& bytes) const {
    ASSERT_EQ(::write(near_, bytes.constData(), static_cast<std::size_t>(bytes.size())), bytes.size());
  }
  QByteArray Take() const {
    QByteArray got;
    std::array<char, 4096> chunk{};
    for (;;) {
      const ssize_t n = ::read(near_, chunk.data(), chunk.size());
      if (n <= 0) break;
      got.append(chunk.data(), static_cast<qsizetype>(n));
    }
    return got;
  }

 private:
  int near_ = -1;
  int far_ = -1;
  QString path_;
};

// Runs the event loop until `done` or a generous bound; the bound only stops a broken test.
bool Until(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return done();
}

TEST(SerialPortTest, BytesCrossBothWaysAtAnyParityAndAFullBufferDrains) {
  PtyPair line;
  ASSERT_FALSE(line.Path().isEmpty());
  line.LetGoOfFar();
  SerialPort port;
  // Even parity too: set beside everything else, a pseudo-terminal takes it.
  ASSERT_FALSE(port.Open(line.Path(), {38400, kParityEven}));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.Settings(), (LineSettings{38400, kParityEven}));

  QByteArray arrived;
  QObject::connect(&port, &SerialPort::BytesArrived, [&](const QByteArray& b) { arrived += b; });
  const QByteArray request = QByteArray::fromHex("110300000004");
  line.Send(request);
  ASSERT_TRUE(Until([&] { return arrived == request; })) << arrived.toHex().constData();
  // Opened again at the same settings, parity is all that would change, which a pseudo-terminal
  // refuses on its own: it must open all the same.
  port.Close();
  ASSERT_FALSE(port.Open(line.Path(), {38400, kParityEven}));
  QObject::connect(&port, &SerialPort::BytesArrived, [&](const QByteArray& b) { arrived += b; });

  // More than the terminal's buffer: the rest waits in the port and goes as the far end reads.
  QByteArray big(256 * 1024, '\0');
  for (qsizetype i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(port.Write(big));
  EXPECT_GT(port.PendingWrite(), 0);
  QByteArray received;
  ASSERT_TRUE(Until([&] {
    received += line.Take();
    return received.size() >= big.size();
  }));
  EXPECT_EQ(received, big);
  EXPECT_EQ(port.PendingWrite(), 0);
}

TEST(SerialPortTest, EachOpenFailureNamesItsCause) {
  SerialPort port;
  EXPECT_EQ(port.Open(QStringLiteral("/dev/ttyZRV-none"), {9600, kParityNone}).problem, PortProblem::Missing);
  QTemporaryFile file;
  ASSERT_TRUE(file.open());
  EXPECT_EQ(port.Open(file.fileName(), {9600, kParityNone}).problem, PortProblem::NotSerial);

  PtyPair line;
  line.LetGoOfFar();
  EXPECT_EQ(port.Open(line.Path(), {12345, kParityNone}).problem, PortProblem::BadSetting);
  EXPECT_FALSE(port.IsOpen());

  // A second master on the same line, here or in another program, is refused and told who holds it.
  ASSERT_FALSE(port.Open(line.Path(), {9600, kParityNone}));
  SerialPort second;
  EXPECT_EQ(second.Open(line.Path(), {9600, kParityNone}).problem, PortProblem::Busy);
  port.Close();
  QProcess holder;
  holder.setStandardInputFile(line.Path());
  holder.start(QStringLiteral("sleep"), {QStringLiteral("30")});
  // Under a user-mode emulator without binfmt (the arm64 tests) the system's own programs do not
  // start.
  if (!holder.waitForStarted()) GTEST_SKIP() << "no program of this system can be started here to hold the port";
  ASSERT_TRUE(Until([&] { return !ProgramsHolding(line.Path()).isEmpty(); }));
  const PortError busy = second.Open(line.Path(), {9600, kParityNone});
  EXPECT_EQ(busy.problem, PortProblem::Busy);
  EXPECT_EQ(busy.detail, QStringLiteral("sleep (%1)").arg(holder.processId()));
  holder.kill();
  holder.waitForFinished();
  EXPECT_FALSE(second.Open(line.Path(), {9600, kParityNone}));
}

// A user outside the port's group: as root, a child that has given up root tries; as another user,
// a port made unreadable.
TEST(SerialPortTest, APortTheUserMayNotOpenSaysHowToGetAccess) {
  PtyPair line;
  line.LetGoOfFar();
  const QByteArray path = line.Path().toLocal8Bit();
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod(path.constData(), 0), 0);
    SerialPort port;
    EXPECT_EQ(port.Open(line.Path(), {9600, kParityNone}).problem, PortProblem::NoAccess);
    return;
  }
  ASSERT_EQ(::chmod(path.constData(), 0660), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const gid_t nogroup = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(65534) != 0) ::_exit(100);
    SerialPort port;
    ::_exit(static_cast<int>(port.Open(line.Path(), {9600, kParityNone}).problem));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(PortProblem::NoAccess));
}

TEST(SerialPortTest, AnAdapterGoingAwayClosesThePortAndSaysSoOnce) {
  PtyPair line;
  line.LetGoOfFar();
  SerialPort port;
  ASSERT_FALSE(port.Open(line.Path(), {115200, kParityNone}));
  QSignalSpy lost(&port, &SerialPort::Lost);
  line.CloseNear();
  ASSERT_TRUE(Until([&] { return lost.count() > 0; }));
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(lost.count(), 1);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(lost.at(0).at(0).value<PortError>().problem, PortProblem::Lost);
  EXPECT_FALSE(port.Write(QByteArray("x")));
}

// What is listed is real: no virtual terminals, every path there, in order.
TEST(SerialPortListTest, ListsOnlyPortsWithADeviceBehindThem) {
  const QList<SerialPortInfo> ports = ListSerialPorts();
  for (qsizetype i = 0; i < ports.size(); ++i) {
    const SerialPortInfo& port = ports[i];
    EXPECT_TRUE(QFile::exists(port.path)) << port.path.toStdString();
    EXPECT_FALSE(port.path.contains(QRegularExpression(QStringLiteral("^/dev/(tty[0-9]+|console|ptmx)$"))))
        << port.path.toStdString();
    EXPECT_FALSE(port.description.isEmpty());
    if (i > 0) {
      EXPECT_LT(ports[i - 1].path, port.path);
    }
  }
}

// The simulated line's far end: reached through a link, bytes whole and in order both ways, the
// link gone with it, and nothing of someone else's replaced.
TEST(PtyLineTest, CarriesBytesBothWaysThroughItsLinkAndCleansUp) {
  QTemporaryDir dir;
  const QString link = dir.filePath(QStringLiteral("zrv-rs485"));
  QByteArray fromTool;
  {
    PtyLine far;
    QObject::connect(&far, &PtyLine::Received, [&](const QByteArray& b) { fromTool += b; });
    QString error;
    ASSERT_TRUE(far.Open(link, &error)) << error.toStdString();
    EXPECT_EQ(far.PortPath(), link);
    EXPECT_TRUE(QFileInfo(link).isSymLink());

    SerialPort tool;
    ASSERT_FALSE(tool.Open(link, {115200, kParityNone}));
    QByteArray toTool;
    QObject::connect(&tool, &SerialPort::BytesArrived, [&](const QByteArray& b) { toTool += b; });
    const QByteArray request = QByteArray::fromHex("11030000000f4762");
    tool.Write(request);
    ASSERT_TRUE(Until([&] { return fromTool.size() >= request.size(); }));
    EXPECT_EQ(fromTool, request);

    QByteArray answer(35, '\0');
    for (qsizetype i = 0; i < answer.size(); ++i) answer[i] = static_cast<char>(0xA0 + i);
    far.Send(answer.left(20));
    far.Send(answer.mid(20));
    ASSERT_TRUE(Until([&] { return toTool.size() >= answer.size(); }));
    EXPECT_EQ(toTool, answer);
  }
  EXPECT_FALSE(QFileInfo(link).isSymLink());
  EXPECT_FALSE(QFileInfo::exists(link));

  QFile someoneElses(link);
  ASSERT_TRUE(someoneElses.open(QIODevice::WriteOnly));
  someoneElses.close();
  PtyLine far;
  QString error;
  EXPECT_FALSE(far.Open(link, &error));
  EXPECT_TRUE(QFileInfo(link).isFile());
}

}  // namespace
}  // namespace zrv::bus
