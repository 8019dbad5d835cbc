#include "bus/line_settings.h"

namespace zrv::bus {

QString ParityName(Parity parity) {
  switch (parity) {
    case Parity::Odd: return QStringLiteral("odd");
    case Parity::Even: return QStringLiteral("even");
    case Parity::None: break;
  }
  return QStringLiteral("none");
}

std::optional<Parity> ParityFromName(const QString& name) {
  const QString word = name.trimmed().toLower();
  if (word == QLatin1String("none") || word == QLatin1String("n")) return Parity::None;
  if (word == QLatin1String("odd") || word == QLatin1String("o")) return Parity::Odd;
  if (word == QLatin1String("even") || word == QLatin1String("e")) return Parity::Even;
  return std::nullopt;
}

std::optional<Parity> ParityFromCode(std::uint8_t code) {
  if (code > 2) return std::nullopt;
  return static_cast<Parity>(code);
}

QString LineSettingsText(const LineSettings& settings) {
  const char letter = settings.parity == Parity::Odd ? 'O' : settings.parity == Parity::Even ? 'E' : 'N';
  return QString::number(settings.Baudrate) + QStringLiteral(" 8") + QLatin1Char(letter) + QLatin1Char('1');
}

}  // namespace zrv::bus
