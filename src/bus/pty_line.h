// The far end of a simulated RS485 line, on a pseudo-terminal: the tool opens the other end as it
// would an adapter. Bytes both ways cross at the line's pace (11 bits a character at its baud
// rate), since a pseudo-terminal alone delivers everything at once. Linux only.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include "bus/line_pacer.h"

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
  void SetBaudrate(std::uint32_t baudrate);
  // Queued for the tool, delivered at the line's pace.
  void Send(const QByteArray& bytes);
  qsizetype WaitingToSend() const { return outbound_.size(); }

 signals:
  // What the tool sent, as the wire has carried it so far.
  void Received(const QByteArray& bytes);

 private:
  void ReadTool();
  void Pace();
  std::uint64_t NowUs() const { return static_cast<std::uint64_t>(clock_.nsecsElapsed() / 1000); }

  int master_ = -1;
  QString ptsPath_;
  QString link_;
  QSocketNotifier* readable_ = nullptr;
  QTimer paceTimer_;
  QTimer retryTimer_;  // while nobody has the tool's end open
  QElapsedTimer clock_;
  LinePacer out_;
  LinePacer in_;
  QByteArray outbound_;
  QByteArray inbound_;
};

}  // namespace zrv::bus
