#pragma once
// The step picture at the side of the first screen: the data folder's "Step1.bmp" or "Step2.bmp"
// when the installation has them, otherwise a drawn list of the wizard's steps with the current
// one marked.

#include <QPixmap>
#include <QWidget>

namespace salvora::ui {

class StepPicture : public QWidget {
  Q_OBJECT
 public:
  explicit StepPicture(QWidget* parent = nullptr);

  // 1 or 2.
  void set_step(int step);
  int step() const { return step_; }
  // True when the picture comes from the data folder rather than the drawing.
  bool uses_bitmap() const { return !bitmap_.isNull(); }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void draw_steps(QPainter& painter);

  int step_ = 0;
  QPixmap bitmap_;
};

}  // namespace salvora::ui
