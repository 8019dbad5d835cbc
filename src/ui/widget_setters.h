// Setters that compare before they write: giving a widget what it already shows changes nothing
// and repaints nothing, so a steady reading causes no flicker.
#pragma once

#include <QPoint>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>

#include "protocol/live_view_model.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTableWidget;
class QWidget;

namespace zrv {

// Texts from the device side are single-byte characters, taken as Latin-1.
// Each returns true when it changed the widget.

// Static texts size themselves to their text (left and top stay put).
bool SetLabelText(QLabel* label, std::string_view text);
bool SetLabelFontColor(QLabel* label, Rgb color);
bool SetEditText(QLineEdit* edit, std::string_view text);
bool SetEditBackground(QLineEdit* edit, Rgb color);
// Gauges run 0..100; a position outside shows at the nearest end.
bool SetGauge(QProgressBar* gauge, int position);
// Makes a gauge keep a picture of each position it shows, so that coming back to a position
// costs a copy instead of a new drawing of groove and bar.
void KeepGaugeLooks(QProgressBar* gauge);
// Text and background of a read-only indicator field.
void SetIndicator(QLineEdit* edit, std::string_view onText, bool flag, std::string_view offText);
bool SetCellText(QTableWidget* grid, int row, int column, std::string_view text);
bool SelectIndex(QComboBox* list, int index);

// Grows a static text so that its whole text fits; never shrinks below the laid-out size.
void FitLabelToText(QLabel* label);

// Makes `widget` paint its whole rectangle, first filling it with the colour the window shows at
// `bareSpot` (in the parent's coordinates, a spot with nothing on it but the plain face the widget
// stands on): the pixels stay as they were, and a repaint of the widget no longer repaints its
// parent beneath it. Frames may tint their inside, so the palette's face colour is not enough.
void PaintOwnBackground(QWidget* widget, QPoint bareSpot);

// The same for a widget whose own painting leaves pixels of what is behind it showing (rounded or
// blended edges): it is filled first with a picture of exactly what lies behind it, taken once
// with the widget hidden. Only for widgets in front of something that never changes.
void PaintOwnBackgroundPicture(QWidget* widget);

// A static text whose text changes many times a second. Reserve() gives it `width` pixels (at
// least its present width) and makes it fill its own background with the colour of the plain face
// behind it, so a new text repaints only the label, never the frame behind it, and asks for no new
// geometry; only for labels that stand on a plain face with nothing else inside the reserved width.
// SetText() then repaints only the part of the label from the first character that changed.
class ReservedLabel {
 public:
  void Reserve(QLabel* label, int width);
  QLabel* Label() const { return label_; }

  // As SetLabelText: a text that fits the reserved width is set without measuring it; a longer
  // one turns the label back into a plain self-sizing text for good.
  bool SetText(std::string_view text);

 private:
  // Where the character at `index` of `text` starts, and (index = size) how wide the text is, in
  // 1/64 pixels, from the advances of its characters and the kerning of each pair: no layout.
  std::int64_t Offset64(std::string_view text, std::size_t index);

  // Advances of the label's font for all 256 Latin-1 codes, and the kerning of the pairs met so
  // far, in 1/64 pixels.
  std::array<std::int32_t, 256> advance64_{};
  std::unordered_map<std::uint16_t, std::int32_t> kerning64_;
  QLabel* label_ = nullptr;
  bool reserved_ = false;
};

}  // namespace zrv
