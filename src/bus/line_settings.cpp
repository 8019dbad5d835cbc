#include "bus/line_settings.h"

namespace zrv::bus {

QString LineSettingsText(const LineSettings& settings) {
  const char letter = settings.Parity == kParityOdd ? 'O' : settings.Parity == kParityEven ? 'E' : 'N';
  return QString::number(settings.Baudrate) + QStringLiteral(" 8") + QLatin1Char(letter) + QLatin1Char('1');
}

}  // namespace zrv::bus
