// The live view's bar gauges: a QProgressBar that paints each look it has once and then from a
// picture. Styles draw a bar with antialiased rounded outlines, which cost more than the rest of a
// moving live view together; readings move among a hundred positions, so the same pictures recur.
#pragma once

#include <QProgressBar>

class QPaintEvent;

namespace zrv {

class TGauge final : public QProgressBar {
 public:
  explicit TGauge(QWidget* parent = nullptr);

  // Pictures drawn by the style so far (for tests).
  static int StyleDrawings() { return styleDrawings_; }

 protected:
  // A picture is found by everything the style is given to draw a bar: the style, the palette,
  // the size and pixel ratio, the range and the reading, the widget's state, direction, text and
  // font. It assumes that a style draws a determinate bar from those alone, with no animation of
  // its own; an indeterminate bar (an empty range), which styles animate, is always drawn afresh.
  void paintEvent(QPaintEvent* event) override;

 private:
  static int styleDrawings_;
};

}  // namespace zrv
