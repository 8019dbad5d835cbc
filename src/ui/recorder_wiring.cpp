// The window's side of the Recorder page: its tab, and the status line it writes to.
#include <QLabel>
#include <QTabWidget>

#include "ui/form1.h"
#include "ui/recorder_page.h"
#include "ui_form1.h"

namespace zrv {

void TForm1::WireRecorderPage(TimeSource& time) {
  recorderPage_ = new RecorderPage(
      time, [this] { return connected_; }, [this](const QString& text) { ShowStatusLine(text); });
  ui_->PageControl1->addTab(recorderPage_,
                            QString::fromLatin1(kRecorderPageTitle.data(),
                                                static_cast<qsizetype>(kRecorderPageTitle.size())));
}

void TForm1::ShowStatusLine(const QString& text) {
  QLabel* label = ui_->Label_Status;
  // Cut in the middle, so both the start of a message and the end of a path stay readable.
  const int room = ui_->GroupBox1->width() - label->x() - 6;
  label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, room));
  label->adjustSize();
}

}  // namespace zrv
