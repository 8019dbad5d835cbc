// The far end of a simulated RS485 line, on a pseudo-terminal: the tool opens the other end as it
// would an adapter. A pseudo-terminal delivers everything at once and ignores baud rate and
// parity, so whatever serves this end paces its bytes itself. Linux only.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace zrv::bus {

class PtyLine : public QObject {
  Q_OBJECT

 public:
  explicit PtyLine(QObject* parent = nullptr);
  ~PtyLine() override;
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // Makes the pseudo-terminal. With `link`, the tool's end is also reachable by that name (a
  // symbolic link, made anew; an existing file that is no link is left alone and refused).
  bool Open(const QString& link, QString* error);
  // What the tool opens: the link when one was asked for, else /dev/pts/N.
  QString PortPath() const;
  // To the tool. What nobody takes (the tool's end not open, or its buffer full because the tool
  // does not read) is lost, as on a line without a listener.
  void Send(const QByteArray& bytes);

 signals:
  // What the tool sent.
  void Received(const QByteArray& bytes);

 private:
  void ReadTool();

  int master_ = -1;
  QString ptsPath_;
  QString link_;
  QSocketNotifier* readable_ = nullptr;
  QTimer retryTimer_;  // while nobody has the tool's end open
};

}  // namespace zrv::bus
