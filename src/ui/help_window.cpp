#include "ui/help_window.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "platform/product_globals.h"
#include "ui/icons.h"
#include "ui/ui_services.h"

namespace salvora::ui {

namespace {

constexpr auto kIndexPage = "index.html";

QPointer<HelpWindow>& the_window() {
  static QPointer<HelpWindow> window;
  return window;
}

bool is_help_file(const QUrl& url) {
  if (!url.isLocalFile()) return false;
  const QString path = QFileInfo(url.toLocalFile()).absoluteFilePath();
  const QString folder = QFileInfo(help_folder()).absoluteFilePath() + QLatin1Char('/');
  return path.startsWith(folder);
}

QToolButton* tool_button(QWidget* parent, const QString& text, QStyle::StandardPixmap icon, const QString& tip) {
  auto* button = new QToolButton(parent);
  button->setText(text);
  button->setIcon(parent->style()->standardIcon(icon));
  button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  button->setToolTip(tip);
  button->setAccessibleName(text);
  return button;
}

}  // namespace

QString help_folder() {
  return QDir(QString::fromStdString(product_globals().install_folder)).filePath(QStringLiteral("help"));
}

HelpBrowser::HelpBrowser(QWidget* parent) : QTextBrowser(parent) {
  setOpenLinks(false);
  setOpenExternalLinks(false);
}

QVariant HelpBrowser::loadResource(int type, const QUrl& name) {
  // Pictures and style sheets come from the help folder only; anything else (a web address in
  // an <img>) is simply not shown.
  const QUrl resolved = source().resolved(name);
  if (!is_help_file(resolved)) return {};
  return QTextBrowser::loadResource(type, resolved);
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Help - %1").arg(product_title()));
  setWindowIcon(application_icon());
  setAccessibleName(windowTitle());
  browser_ = new HelpBrowser(this);
  browser_->setAccessibleName(QStringLiteral("Help page"));
  back_ = tool_button(this, QStringLiteral("Back"), QStyle::SP_ArrowBack, QStringLiteral("Previous page (Alt+Left)"));
  back_->setShortcut(QKeySequence::Back);
  forward_ = tool_button(this, QStringLiteral("Forward"), QStyle::SP_ArrowForward,
                         QStringLiteral("Next page (Alt+Right)"));
  forward_->setShortcut(QKeySequence::Forward);
  contents_ = tool_button(this, QStringLiteral("Contents"), QStyle::SP_DirHomeIcon, QStringLiteral("All help pages"));
  back_->setEnabled(false);
  forward_->setEnabled(false);

  auto* bar = new QHBoxLayout;
  bar->addWidget(back_);
  bar->addWidget(forward_);
  bar->addWidget(contents_);
  bar->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(bar);
  layout->addWidget(browser_, 1);

  connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
  connect(forward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
  connect(contents_, &QToolButton::clicked, this, [this] { show_page(QString::fromLatin1(kIndexPage)); });
  connect(browser_, &QTextBrowser::backwardAvailable, back_, &QWidget::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QWidget::setEnabled);
  connect(browser_, &QTextBrowser::anchorClicked, this, &HelpWindow::follow_link);
  // A help window is read and put away: Escape closes it, as in other programs' help.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &QWidget::close);
  escape->setContext(Qt::WindowShortcut);
  resize(760, 620);
}

void HelpWindow::show_page(const QString& page) {
  const QString path = QDir(help_folder()).filePath(page);
  if (QFileInfo(path).isFile()) {
    browser_->setSource(QUrl::fromLocalFile(path));
    return;
  }
  browser_->setHtml(QStringLiteral("<h2>Help is not installed</h2><p>The page %1 was not found in %2.</p>")
                        .arg(page.toHtmlEscaped(), help_folder().toHtmlEscaped()));
}

void HelpWindow::follow_link(const QUrl& link) {
  if (link.scheme() == QLatin1String("http") || link.scheme() == QLatin1String("https") ||
      link.scheme() == QLatin1String("mailto")) {
    ui_hooks().open_url(link.toString());
    return;
  }
  if (link.isRelative() && link.path().isEmpty() && link.hasFragment()) {
    browser_->scrollToAnchor(link.fragment());
    return;
  }
  const QUrl target = browser_->source().resolved(link);
  if (is_help_file(target) && QFileInfo(target.toLocalFile()).isFile()) browser_->setSource(target);
  // Links to anything else (another local file, an unknown scheme) are not followed.
}

HelpWindow* show_help(const QString& page) {
  QPointer<HelpWindow>& window = the_window();
  if (!window) {
    window = new HelpWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
  }
  window->show_page(page);
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

HelpWindow* open_help_window() { return the_window(); }

}  // namespace salvora::ui
