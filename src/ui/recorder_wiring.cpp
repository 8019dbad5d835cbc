// The window's side of the Recorder page: its tab, and the status line it writes to.
#include <QLabel>
#include <QTabWidget>

#include "ui/form1.h"
#include "ui/recorder_page.h"
#include "ui_form1.h"

namespace zrv {

void TForm1::WireRecorderPage(TimeSource& time) {
  recorderPage_ = new RecorderPage(
      time, [this] { return session_.Connected(); }, [this](const QString& text) {
        statusLine_.Note(text.toStdString());
        ShowStatusLine();
      });
  ui_->PageControl1->addTab(recorderPage_,
                            QString::fromLatin1(kRecorderPageTitle.data(),
                                                static_cast<qsizetype>(kRecorderPageTitle.size())));
}

}  // namespace zrv
