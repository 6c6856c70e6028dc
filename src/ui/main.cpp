// salvora: the desktop wizard. `salvora [FILE]` starts with FILE chosen as the OST file to
// recover, as if picked with Browse on the first screen.

#include <QApplication>

#include "ui/wizard_app.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  return salvora::ui::run_wizard(app, QApplication::arguments());
}
