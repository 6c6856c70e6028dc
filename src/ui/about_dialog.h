#pragma once
// The About box: the product's name and version, its icon and a link to the web page.

#include <QDialog>

class QLabel;

namespace salvora::ui {

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  QLabel* web_link() const { return link_; }

 private:
  QLabel* link_;
};

}  // namespace salvora::ui
