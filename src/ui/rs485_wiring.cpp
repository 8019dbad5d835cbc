// The window's side of the RS485 link page: its tab, the driver's settings and register replies.
#include <QTabWidget>

#include "ui/form1.h"
#include "ui/rs485_page.h"
#include "ui_form1.h"

namespace zrv {

void TForm1::WireRs485Page(TimeSource& time) {
  rs485Page_ = new Rs485Page(session_, time);
  ui_->PageControl1->addTab(
      rs485Page_, QString::fromLatin1(kRs485PageTitle.data(), static_cast<qsizetype>(kRs485PageTitle.size())));
  connect(&session_, &DriverSession::ModbusSettingsDecoded, rs485Page_, &Rs485Page::ShowDriverSettings);
  connect(&session_, &DriverSession::RegistersDecoded, rs485Page_, &Rs485Page::ShowUsbRegisters);
  // Settings already known when the page is built (none yet in practice) are shown at once.
  if (session_.Connected()) rs485Page_->ShowDriverSettings();
}

}  // namespace zrv
