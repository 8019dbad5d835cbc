// What the toolkit and the X server charge for a window that repaints 25 times a second, with
// none of the tool in it: the yardstick for the demo's CPU figure on the same machine.
// Usage: qt_yardstick idle|labels N|window
//   idle      a window and a 40 ms timer that changes nothing
//   labels N  a window whose N plain labels get a new number every 40 ms
//   window    a bare window (no widgets) that draws one new number into its backing store and
//             flushes it every 40 ms: about the least any Qt program can do per repaint
// Runs until killed; demo_cpu.sh measures it as it measures the demo.
#include <QApplication>
#include <QBackingStore>
#include <QExposeEvent>
#include <QLabel>
#include <QPainter>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Readings that change at every tick, as a live view's do.
QString Reading(int tick, int row) {
  const int value = (tick * 37 + row * 1013) % 30000;
  return QString::number(value / 1000) + QLatin1Char('.') + QString::number(value % 1000 / 10) +
         QStringLiteral(" V");
}

class BareWindow final : public QWindow {
 public:
  BareWindow() : store_(this) { resize(320, 120); }

  void Draw(int tick) {
    if (!isExposed()) {
      return;
    }
    const QRect area(10, 10, 120, 20);
    store_.beginPaint(area);
    {
      QPainter painter(store_.paintDevice());
      painter.fillRect(area, Qt::white);
      painter.drawText(QPointF(area.x(), area.y() + 15), Reading(tick, 0));
    }
    store_.endPaint();
    store_.flush(area);
  }

 protected:
  void exposeEvent(QExposeEvent* /*event*/) override {
    if (!isExposed()) {
      return;
    }
    store_.resize(size());
    const QRect all(QPoint(0, 0), size());
    store_.beginPaint(all);
    {
      QPainter painter(store_.paintDevice());
      painter.fillRect(all, Qt::white);
    }
    store_.endPaint();
    store_.flush(all);
  }

 private:
  QBackingStore store_;
};

int Usage() {
  std::fprintf(stderr, "usage: qt_yardstick idle|labels N|window\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    return Usage();
  }
  const bool idle = std::strcmp(argv[1], "idle") == 0;
  const bool labels = std::strcmp(argv[1], "labels") == 0;
  const bool window = std::strcmp(argv[1], "window") == 0;
  const int count = labels && argc > 2 ? std::atoi(argv[2]) : 1;
  if ((!idle && !labels && !window) || count < 1 || count > 16) {
    return Usage();
  }
  QApplication app(argc, argv);
  QTimer timer;
  int tick = 0;

  if (window) {
    BareWindow bare;
    bare.show();
    QObject::connect(&timer, &QTimer::timeout, [&] { bare.Draw(++tick); });
    timer.start(40);
    return QApplication::exec();
  }

  QWidget form;
  form.resize(320, 40 + 20 * count);
  std::vector<QLabel*> rows;
  for (int row = 0; row < count; ++row) {
    auto* label = new QLabel(Reading(0, row), &form);
    label->setGeometry(10, 10 + 20 * row, 120, 16);
    rows.push_back(label);
  }
  QObject::connect(&timer, &QTimer::timeout, [&] {
    ++tick;
    if (labels) {
      for (int row = 0; row < count; ++row) {
        rows[static_cast<std::size_t>(row)]->setText(Reading(tick, row));
      }
    }
  });
  timer.start(40);
  form.show();
  return QApplication::exec();
}
