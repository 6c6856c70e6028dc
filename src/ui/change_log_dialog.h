#pragma once
// Change Log Path: moves the activity log to another folder. The field starts with the folder the
// log is written to now; Apply keeps a folder only when it exists and the log can be written
// there, and the next line of the log goes to it.

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace salvora::ui {

class Cchangelog : public QDialog {
  Q_OBJECT
 public:
  explicit Cchangelog(QWidget* parent = nullptr);

  QLineEdit* folder_field() const { return folder_; }
  QPushButton* browse_button() const { return browse_; }
  QPushButton* apply_button() const { return apply_; }
  QPushButton* cancel_button() const { return cancel_; }

 private:
  void on_browse();
  void on_apply();

  QLineEdit* folder_;
  QPushButton* browse_;
  QPushButton* apply_;
  QPushButton* cancel_;
};

}  // namespace salvora::ui
