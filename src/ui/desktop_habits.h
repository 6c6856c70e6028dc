#pragma once
// What a Linux desktop program is expected to do beyond its own work: take a file dropped on its
// window, remember the files it opened (File > Open Recent), open at a size that fits the screen
// and come back at the size the user left it, and say how long a long piece of work has left.
// Remembered values go to the program's settings file. User-interface thread only.

#include <QElapsedTimer>
#include <QLabel>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>

class QMenu;
class QMenuBar;
class QWidget;

namespace salvora::ui {

class DiskSelection;

// The files opened last, newest first, at most kRecentFiles of them.
inline constexpr int kRecentFiles = 5;
QStringList recent_files();
void remember_recent_file(const QString& path);

// The first screen's habits: a local file dropped on it is taken as the source, and its File
// menu gets Open Recent.
void install_source_screen_habits(DiskSelection* screen);

// Takes a single local file dropped anywhere on the window (its text fields included) to `take`.
void accept_file_drops(QWidget* window, std::function<void(const QString&)> take);

// "Open Recent" at the top of the first menu of the bar; `open` gets the chosen path.
QMenu* install_open_recent(QMenuBar* bar, std::function<void(const QString&)> open);

// Sizes the window as it was last left (remembered under setting_name), else at `preferred`,
// shrunk to fit the screen's free area, and remembers the size the user gives it.
void fit_window(QWidget* window, QSize preferred, const char* setting_name);

// The window size that fits: `wanted` shrunk to `available` less room for the frame and panel.
QSize fitted_size(QSize wanted, QSize available);

// "About 3 minutes left" and the like; empty for a negative count.
QString time_left_text(qint64 seconds);

// The time a piece of work has left, from the pace since it started (or resumed).
class TimeLeft {
 public:
  // clock_ms: a monotonic clock in milliseconds; tests give their own.
  explicit TimeLeft(std::function<qint64()> clock_ms = {});

  // Starts measuring again from `done` (at the start, and after a pause).
  void Restart(qint64 done);
  // The estimate text for done of total; empty until the pace is known (a few seconds in and a
  // part of the work done) and once the work is done.
  QString Update(qint64 done, qint64 total);

 private:
  std::function<qint64()> clock_;
  QElapsedTimer timer_;
  qint64 start_ms_ = -1;
  qint64 start_done_ = 0;
};

// A status line with the time left, for a window that shows a long piece of work.
class TimeLeftLabel : public QLabel {
 public:
  explicit TimeLeftLabel(const QString& object_name, QWidget* parent = nullptr);
  void Update(qint64 done, qint64 total) { setText(estimate_.Update(done, total)); }
  void Restart(qint64 done) { estimate_.Restart(done); }

 private:
  TimeLeft estimate_;
};

}  // namespace salvora::ui
