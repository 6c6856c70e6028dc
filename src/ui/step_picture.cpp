#include "ui/step_picture.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>

#include "platform/product_globals.h"

namespace salvora::ui {

namespace {

constexpr int kWidth = 190;
constexpr int kRowHeight = 64;
constexpr int kTop = 28;
constexpr int kRadius = 14;

const char* const kStepTexts[] = {"Choose the OST file", "Choose the destination", "Recover and save"};

}  // namespace

StepPicture::StepPicture(QWidget* parent) : QWidget(parent) {
  setAccessibleName(QStringLiteral("Step picture"));
  set_step(1);
}

void StepPicture::set_step(int step) {
  if (step == step_) return;
  step_ = step;
  const QString file = QStringLiteral("Step%1.bmp").arg(step);
  const QString path = QDir(QString::fromStdString(product_globals().data_folder)).filePath(file);
  // A missing or unreadable picture is no fault of the user's: the drawing stands in silently.
  bitmap_ = QFileInfo(path).isFile() ? QPixmap(path) : QPixmap();
  setAccessibleDescription(QStringLiteral("Step %1: %2").arg(step).arg(QLatin1String(kStepTexts[step - 1])));
  updateGeometry();
  update();
}

QSize StepPicture::sizeHint() const {
  if (!bitmap_.isNull()) return bitmap_.size();
  return {kWidth, kTop * 2 + kRowHeight * 3};
}

void StepPicture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  if (!bitmap_.isNull()) {
    painter.drawPixmap(0, 0, bitmap_);
    return;
  }
  draw_steps(painter);
}

void StepPicture::draw_steps(QPainter& painter) {
  const QPalette& pal = palette();
  const QColor accent = pal.color(QPalette::Highlight);
  QPainterPath panel;
  panel.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
  painter.fillPath(panel, pal.color(QPalette::AlternateBase));
  painter.setPen(pal.color(QPalette::Mid));
  painter.drawPath(panel);

  const int x = 16 + kRadius;
  for (int i = 0; i < 3; ++i) {
    const int y = kTop + kRadius + i * kRowHeight;
    if (i < 2) {  // the line that joins this step to the next
      painter.setPen(QPen(pal.color(QPalette::Mid), 2));
      painter.drawLine(x, y + kRadius, x, y + kRowHeight - kRadius);
    }
    const bool current = i + 1 == step_;
    const bool done = i + 1 < step_;
    painter.setPen(QPen(current || done ? accent : pal.color(QPalette::Mid), 2));
    painter.setBrush(current ? accent : pal.color(QPalette::Base));
    painter.drawEllipse(QPoint(x, y), kRadius, kRadius);
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(current ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text));
    painter.drawText(QRect(x - kRadius, y - kRadius, 2 * kRadius, 2 * kRadius), Qt::AlignCenter, QString::number(i + 1));
    font.setBold(current);
    painter.setFont(font);
    painter.setPen(current ? pal.color(QPalette::Text) : pal.color(QPalette::PlaceholderText));
    const QRect text_box(x + kRadius + 10, y - kRowHeight / 2, width() - x - kRadius - 18, kRowHeight);
    painter.drawText(text_box, Qt::AlignVCenter | Qt::TextWordWrap, QString::fromLatin1(kStepTexts[i]));
  }
}

}  // namespace salvora::ui
