#include "ui/desktop_habits.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <string>

#include "platform/settings.h"
#include "ui/source_selection_screen.h"

namespace salvora::ui {

namespace {

SettingsStore settings() { return SettingsStore(SettingsStore::DefaultFile()); }

std::string recent_name(int i) { return "RecentFile" + std::to_string(i + 1); }

QString read_setting(const std::string& name) { return QString::fromStdString(settings().Read(name)); }

// The one local file a drag carries, or an empty text.
QString dropped_file(const QMimeData* mime) {
  if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return {};
  const QUrl url = mime->urls().front();
  if (!url.isLocalFile()) return {};
  const QFileInfo info(url.toLocalFile());
  return info.isFile() ? info.absoluteFilePath() : QString();
}

class DropFilter : public QObject {
 public:
  DropFilter(QObject* parent, std::function<void(const QString&)> take) : QObject(parent), take_(std::move(take)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (dropped_file(drag->mimeData()).isEmpty()) return false;
        drag->acceptProposedAction();
        return true;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QString file = dropped_file(drop->mimeData());
        if (file.isEmpty()) return false;
        drop->acceptProposedAction();
        take_(file);
        return true;
      }
      default:
        return QObject::eventFilter(watched, event);
    }
  }

 private:
  std::function<void(const QString&)> take_;
};

// Remembers the window's size a moment after the user stops resizing it.
class SizeKeeper : public QObject {
 public:
  SizeKeeper(QWidget* window, const char* setting_name) : QObject(window), window_(window), name_(setting_name) {
    save_.setSingleShot(true);
    save_.setInterval(500);
    connect(&save_, &QTimer::timeout, this, [this] {
      const QSize s = window_->size();
      settings().Write(name_, QStringLiteral("%1x%2").arg(s.width()).arg(s.height()).toStdString());
    });
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::Resize && window_->isVisible() &&
        !window_->isMaximized() && !window_->isFullScreen()) {
      save_.start();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QWidget* window_;
  std::string name_;
  QTimer save_;
};

}  // namespace

QStringList recent_files() {
  QStringList out;
  for (int i = 0; i < kRecentFiles; ++i) {
    const QString path = read_setting(recent_name(i));
    if (!path.isEmpty() && !out.contains(path)) out << path;
  }
  return out;
}

void remember_recent_file(const QString& path) {
  if (path.isEmpty()) return;
  const QString absolute = QFileInfo(path).absoluteFilePath();
  QStringList list = recent_files();
  list.removeAll(absolute);
  list.prepend(absolute);
  SettingsStore store = settings();
  for (int i = 0; i < kRecentFiles; ++i) {
    // A path the settings file cannot hold is skipped rather than cut.
    store.Write(recent_name(i), i < list.size() ? list[i].toStdString() : std::string());
  }
}

void accept_file_drops(QWidget* window, std::function<void(const QString&)> take) {
  auto* filter = new DropFilter(window, std::move(take));
  window->setAcceptDrops(true);
  window->installEventFilter(filter);
  // Text fields take drops themselves; a file dropped on them still means "this file".
  for (QLineEdit* field : window->findChildren<QLineEdit*>()) field->installEventFilter(filter);
}

QMenu* install_open_recent(QMenuBar* bar, std::function<void(const QString&)> open) {
  const QList<QAction*> menus = bar->actions();
  if (menus.isEmpty() || !menus.front()->menu()) return nullptr;
  QMenu* file = menus.front()->menu();
  auto* recent = new QMenu(QStringLiteral("&Open Recent"), file);
  recent->setObjectName(QStringLiteral("openRecentMenu"));
  recent->setAccessibleName(QStringLiteral("Open Recent"));
  QAction* first = file->actions().isEmpty() ? nullptr : file->actions().front();
  file->insertMenu(first, recent);
  if (first) file->insertSeparator(first);
  // Filled as it opens: the list changes as files are read, and files go away meanwhile.
  QObject::connect(recent, &QMenu::aboutToShow, recent, [recent, open] {
    recent->clear();
    int n = 0;
    for (const QString& path : recent_files()) {
      if (!QFileInfo(path).isFile()) continue;
      ++n;
      QAction* a = recent->addAction(QStringLiteral("&%1 %2").arg(n).arg(QString(path).replace(QLatin1Char('&'), QStringLiteral("&&"))));
      a->setToolTip(path);
      QObject::connect(a, &QAction::triggered, recent, [open, path] { open(path); });
    }
    if (n == 0) recent->addAction(QStringLiteral("No recent files"))->setEnabled(false);
  });
  return recent;
}

void install_source_screen_habits(DiskSelection* screen) {
  QPointer<DiskSelection> guarded(screen);
  const auto take = [guarded](const QString& path) {
    if (guarded) guarded->choose_source(path);
  };
  accept_file_drops(screen, take);
  install_open_recent(screen->menu_bar(), take);
}

QSize fitted_size(QSize wanted, QSize available) {
  if (!available.isValid() || available.isEmpty()) return wanted;
  // Room for the window's frame and title bar, which the size given to resize() leaves out.
  constexpr int kFrameWidth = 16;
  constexpr int kFrameHeight = 48;
  return wanted.boundedTo(QSize(available.width() - kFrameWidth, available.height() - kFrameHeight))
      .expandedTo(QSize(320, 240));
}

void fit_window(QWidget* window, QSize preferred, const char* setting_name) {
  QSize wanted = preferred;
  const QStringList parts = read_setting(setting_name).split(QLatin1Char('x'));
  if (parts.size() == 2) {
    bool w_ok = false;
    bool h_ok = false;
    const QSize kept(parts[0].toInt(&w_ok), parts[1].toInt(&h_ok));
    if (w_ok && h_ok && kept.width() > 0 && kept.height() > 0) wanted = kept;
  }
  const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  window->resize(screen ? fitted_size(wanted, screen->availableGeometry().size()) : wanted);
  window->installEventFilter(new SizeKeeper(window, setting_name));
}

QString time_left_text(qint64 seconds) {
  if (seconds < 0) return {};
  if (seconds < 60) return QStringLiteral("Less than a minute left");
  const qint64 minutes = (seconds + 30) / 60;
  if (minutes < 60) return minutes == 1 ? QStringLiteral("About 1 minute left") : QStringLiteral("About %1 minutes left").arg(minutes);
  const qint64 hours = minutes / 60;
  const qint64 rest = minutes % 60;
  QString text = hours == 1 ? QStringLiteral("About 1 hour") : QStringLiteral("About %1 hours").arg(hours);
  if (rest > 0) text += rest == 1 ? QStringLiteral(" 1 minute") : QStringLiteral(" %1 minutes").arg(rest);
  return text + QStringLiteral(" left");
}

TimeLeft::TimeLeft(std::function<qint64()> clock_ms) : clock_(std::move(clock_ms)) {
  if (!clock_) {
    timer_.start();
    clock_ = [this] { return timer_.elapsed(); };
  }
}

void TimeLeft::Restart(qint64 done) {
  start_ms_ = clock_();
  start_done_ = done;
}

QString TimeLeft::Update(qint64 done, qint64 total) {
  if (start_ms_ < 0) Restart(done);
  if (total <= 0 || done >= total) return {};
  const qint64 elapsed = clock_() - start_ms_;
  const qint64 progressed = done - start_done_;
  // Too early a pace swings widely: wait for a few seconds and a hundredth of the work.
  constexpr qint64 kSettleMs = 3000;
  if (elapsed < kSettleMs || progressed <= 0 || progressed * 100 < total - start_done_) return {};
  const double per_unit_ms = static_cast<double>(elapsed) / static_cast<double>(progressed);
  return time_left_text(static_cast<qint64>(per_unit_ms * static_cast<double>(total - done) / 1000.0));
}

TimeLeftLabel::TimeLeftLabel(const QString& object_name, QWidget* parent) : QLabel(parent) {
  setObjectName(object_name);
  setAccessibleName(QStringLiteral("Time left"));
  setTextFormat(Qt::PlainText);
}

}  // namespace salvora::ui
