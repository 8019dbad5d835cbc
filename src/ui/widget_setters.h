// Setters that compare before they write: giving a widget what it already shows changes nothing
// and repaints nothing, so a steady reading causes no flicker.
#pragma once

#include <string_view>

#include "protocol/live_view_model.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTableWidget;

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
// Text and background of a read-only indicator field.
void SetIndicator(QLineEdit* edit, std::string_view onText, bool flag, std::string_view offText);
bool SetCellText(QTableWidget* grid, int row, int column, std::string_view text);
bool SelectIndex(QComboBox* list, int index);

// Grows a static text so that its whole text fits; never shrinks below the laid-out size.
void FitLabelToText(QLabel* label);

}  // namespace zrv
