// Prints what the recovery screen costs on a large mailbox: the time to list a folder of
// 100,000 mail items and to scroll through it, and the screen's memory after analysing a
// synthetic offline store of 100,000 messages (made with salvora-cli synth).
//
// Usage: bench_wizard_list [MESSAGES]   (default 100000; runs on the offscreen platform)

#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "support/run_program.h"
#include "ui/folder_tree.h"
#include "ui/item_list_model.h"
#include "ui/recovery_screen.h"
#include "ui/ui_services.h"

namespace {

long resident_kb(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  }
  return 0;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir dir;
  qputenv("XDG_CONFIG_HOME", (dir.path() + "/config").toUtf8());
  qputenv("XDG_STATE_HOME", (dir.path() + "/state").toUtf8());
  QApplication app(argc, argv);
  const int messages = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string store = (dir.path() + "/large.ost").toStdString();
  const auto synth = salvora::testing::RunProgram(
      salvora::testing::ProgramPath("salvora-cli"),
      {"synth", store, "--messages", std::to_string(messages), "--folders", "1", "--attachments-per-message", "0",
       "--client", "ost"});
  if (synth.exit_code != 0) {
    std::fprintf(stderr, "bench_wizard_list: synth failed: %s\n", synth.err.c_str());
    return 1;
  }
  std::printf("store: %d messages in one folder, %lld MB\n", messages,
              static_cast<long long>(std::filesystem::file_size(store) >> 20));
  const long before_kb = resident_kb("VmRSS:");

  salvora::ui::WizardState state;
  state.source_path = QString::fromStdString(store);
  salvora::ui::Repair_Recover screen(state);
  screen.resize(1100, 760);
  screen.show();
  QSignalSpy finished(&screen, &salvora::ui::Repair_Recover::analysis_finished);
  auto t0 = std::chrono::steady_clock::now();
  screen.StartAnalysis();
  finished.wait(600000);
  std::printf("analysis on the screen: %.2f s\n", seconds_since(t0));
  std::printf("screen memory after the analysis: %ld MB resident (%ld MB before), peak %ld MB\n",
              resident_kb("VmRSS:") / 1024, before_kb / 1024, resident_kb("VmHWM:") / 1024);

  // The largest folder of the tree.
  QTreeWidgetItem* biggest = nullptr;
  int most = -1;
  QTreeWidgetItemIterator it(screen.tree());
  for (; *it; ++it) {
    screen.item_model()->ShowFolder(&screen.analysis(),
                                     salvora::Nid((*it)->data(0, salvora::ui::CFolderTreeCtrl1::kNidRole).toUInt()),
                                     salvora::ui::ListLayout::kMail);
    if (screen.item_model()->rowCount() > most) {
      most = screen.item_model()->rowCount();
      biggest = *it;
    }
  }
  screen.item_model()->Clear();
  t0 = std::chrono::steady_clock::now();
  screen.tree()->setCurrentItem(biggest);
  QApplication::processEvents();
  screen.item_list()->repaint();
  std::printf("listing a folder of %d items: %.1f ms to the first painted page\n", most, seconds_since(t0) * 1000);

  QScrollBar* bar = screen.item_list()->verticalScrollBar();
  const int pages = 200;
  t0 = std::chrono::steady_clock::now();
  for (int p = 0; p < pages; ++p) {
    bar->setValue(bar->maximum() * p / pages);
    screen.item_list()->viewport()->repaint();
  }
  const double scroll = seconds_since(t0);
  std::printf("scrolling through it: %d pages painted, %.2f ms a page\n", pages, scroll * 1000 / pages);
  std::printf("memory after listing: %ld MB resident, peak %ld MB\n", resident_kb("VmRSS:") / 1024,
              resident_kb("VmHWM:") / 1024);

  // The store's folders hold at most a third of its messages; a list of exactly 100,000 rows
  // is timed on lists made in memory, as the analysis leaves them.
  salvora::AnalysisResult lists;
  auto& entry = lists.mail_folders.Add("Personal Folders\\Inbox\\", salvora::Nid(0x8022));
  for (int i = 0; i < 100000; ++i) {
    entry.items.push_back({salvora::Nid(static_cast<std::uint32_t>(0x200004 + 32 * i)), salvora::Nid(0x8022),
                           std::string("Sender ") + std::to_string(i), std::string("Subject of message ") + std::to_string(i),
                           std::string("Recipient"), 133500000000000000ull + static_cast<std::uint64_t>(i) * 10000000ull});
  }
  salvora::ui::ItemListModel model;
  QTableView view;
  view.resize(800, 500);
  view.setModel(&model);
  view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view.show();
  t0 = std::chrono::steady_clock::now();
  model.ShowFolder(&lists, salvora::Nid(0x8022), salvora::ui::ListLayout::kMail);
  view.repaint();
  std::printf("listing a folder of %d items (in memory): %.1f ms to the first painted page\n", model.rowCount(),
              seconds_since(t0) * 1000);
  salvora::ui::ui_hooks().end_program = [](int) {};
  return 0;
}
