#pragma once
// The question every screen asks before the program ends ("Do you want to exit ?"), on its close
// box and its Exit command. While the question is up, a second request is ignored and the
// screen's navigation controls are disabled; on No the focus goes back to where it was.

#include <QList>
#include <QPointer>

class QWidget;

namespace salvora::ui {

// True when the user answered Yes. False at once when a question is already up.
bool confirm_exit(QWidget* screen, const QList<QWidget*>& navigation);

// True while the question is up (for tests).
bool exit_question_open();

}  // namespace salvora::ui
