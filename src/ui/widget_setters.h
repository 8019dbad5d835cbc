// Setters that compare before they write: giving a widget what it already shows changes nothing
// and repaints nothing, so a steady reading causes no flicker.
#pragma once

#include <string_view>

#include "view/live_view_model.h"

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
// The same for a static text that keeps `room` pixels of width while its text fits, so that a new
// text asks for no new geometry; a wider text makes it a plain self-sizing (and see-through) label
// for good, drawn over whatever lies beyond its room as any other static text.
bool SetLabelTextInRoom(QLabel* label, std::string_view text, int room);
bool SetLabelFontColor(QLabel* label, Rgb color);
bool SetEditText(QLineEdit* edit, std::string_view text);
bool SetEditBackground(QLineEdit* edit, Rgb color);
// Gauges run 0..100; a position outside shows at the nearest end.
bool SetGauge(QProgressBar* gauge, int position);
// Text and background of a read-only indicator field.
void SetIndicator(QLineEdit* edit, std::string_view onText, bool flag, std::string_view offText);
bool SetCellText(QTableWidget* grid, int row, int column, std::string_view text);
bool SelectIndex(QComboBox* list, int index);

// Grows a static text so that its whole text fits; never shrinks below the laid-out size.
void FitLabelToText(QLabel* label);

// Makes a widget that changes many times a second paint, before its own painting, a picture of
// exactly what lies behind it, taken from a rendering of the window: its repaints then no longer
// repaint the frames behind it. It assumes that what lies behind changes only with something the
// widget itself hears of: a change of palette, style, font, enabled state, activation, screen,
// visibility or of its own geometry. On any of those it turns see-through again at once and takes
// a new picture once the change has been handled everywhere. Only for a widget with nothing in
// front of it and nothing behind it but its parents' faces.
void PaintBackdrop(QWidget* widget);
// Back to a plain see-through widget.
void StopPaintingBackdrop(QWidget* widget);

}  // namespace zrv
