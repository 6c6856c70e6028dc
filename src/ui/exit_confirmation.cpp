#include "ui/exit_confirmation.h"

#include <QApplication>
#include <QWidget>

#include "ui/ui_services.h"

namespace salvora::ui {

namespace {
bool question_open = false;
}

bool exit_question_open() { return question_open; }

bool confirm_exit(QWidget* screen, const QList<QWidget*>& navigation) {
  if (question_open) return false;
  question_open = true;
  QPointer<QWidget> focused = QApplication::focusWidget();
  QList<QPointer<QWidget>> disabled;
  for (QWidget* w : navigation) {
    if (w && w->isEnabled()) {
      w->setEnabled(false);
      disabled.append(w);
    }
  }
  const bool yes = ask(screen, QStringLiteral("Do you want to exit ?"));
  question_open = false;
  if (yes) return true;
  for (const auto& w : disabled) {
    if (w) w->setEnabled(true);
  }
  if (focused) focused->setFocus(Qt::OtherFocusReason);
  return false;
}

}  // namespace salvora::ui
