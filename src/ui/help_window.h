#pragma once
// The help pages of the program (help/ of the install folder), shown in one window of their own.
//
// The pages are read from disk only: nothing remote is fetched, links between the pages are
// followed inside the window, and a link to the web or to a mail address goes to the desktop's
// browser. There is one window per process: a second Help while it is open shows the asked page
// in it and raises it. User-interface thread only.

#include <QPointer>
#include <QString>
#include <QTextBrowser>
#include <QUrl>
#include <QWidget>

class QToolButton;

namespace salvora::ui {

// The folder of the help pages.
QString help_folder();

class HelpBrowser : public QTextBrowser {
  Q_OBJECT
 public:
  explicit HelpBrowser(QWidget* parent = nullptr);
  QVariant loadResource(int type, const QUrl& name) override;
};

class HelpWindow : public QWidget {
  Q_OBJECT
 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  // Shows a page of the help folder ("search.html"); a missing page shows where it was looked for.
  void show_page(const QString& page);
  QUrl current_page() const { return browser_->source(); }
  HelpBrowser* browser() const { return browser_; }

 private:
  void follow_link(const QUrl& link);

  HelpBrowser* browser_;
  QToolButton* back_;
  QToolButton* forward_;
  QToolButton* contents_;
};

// Opens the help window at a page (see HelpWindow::show_page), or raises the open one there.
HelpWindow* show_help(const QString& page);

// The open help window, or null (for tests).
HelpWindow* open_help_window();

}  // namespace salvora::ui
