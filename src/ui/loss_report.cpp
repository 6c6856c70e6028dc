#include "ui/loss_report.h"

#include <QApplication>
#include <QBrush>
#include <QMap>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QStyle>
#include <QTreeWidgetItem>
#include <mutex>

#include "ui/folder_tree.h"

namespace salvora::ui {

namespace {

// A page of thousands of lines helps nobody; the rest are counted.
constexpr int kLossesShown = 200;

template <class List, class Subject>
void add_subjects(const List& list, Subject subject, std::unordered_map<std::uint32_t, std::string>& out) {
  for (const auto& item : list) {
    const std::optional<std::string>& s = subject(item);
    if (s && !s->empty()) out.emplace(item.nid.value, *s);
  }
}

QString capitalised(QString text) {
  if (!text.isEmpty()) text[0] = text[0].toUpper();
  return text;
}

}  // namespace

LossNamer::LossNamer(const AnalysisResult& result) : nodes_(result.store.nodes) {
  std::lock_guard lock(result.lists_mutex);
  for (const FolderFound& f : result.folders) {
    if (f.nid.value != 0) folder_paths_.emplace(f.nid.value, f.path);
  }
  for (const auto& entry : result.mail_folders.entries()) {
    add_subjects(entry.items, [](const MailSummary& m) -> const auto& { return m.subject; }, subjects_);
  }
  add_subjects(result.tasks, [](const MailSummary& m) -> const auto& { return m.subject; }, subjects_);
  add_subjects(result.notes, [](const NoteSummary& m) -> const auto& { return m.subject; }, subjects_);
  add_subjects(result.journal, [](const JournalSummary& m) -> const auto& { return m.subject; }, subjects_);
  add_subjects(result.calendar, [](const CalendarSummary& m) -> const auto& { return m.subject; }, subjects_);
  add_subjects(result.contacts, [](const ContactSummary& m) -> const auto& { return m.display_name; }, subjects_);
}

QString LossNamer::FolderOf(std::uint32_t nid) const {
  if (!nodes_) return {};
  const NodeRecord* node = nodes_->Find(Nid(nid));
  for (const NodeRecord* up = node ? node->parent() : nullptr; up; up = up->parent()) {
    const auto it = folder_paths_.find(up->nid.value);
    if (it != folder_paths_.end()) return QString::fromStdString(it->second);
  }
  return {};
}

QString LossNamer::Object(const QString& kind, std::uint32_t nid) const {
  const bool folder = kind.endsWith(QLatin1String("folder"));
  const auto& names = folder ? folder_paths_ : subjects_;
  const auto it = names.find(nid);
  if (it == names.end()) {
    const bool vowel = QStringLiteral("aeiou").contains(kind.at(0));
    return (vowel ? QStringLiteral("an ") : QStringLiteral("a ")) + kind;
  }
  const QString name = QString::fromStdString(it->second);
  return kind + QStringLiteral(" \"") + (folder ? shown_path(name) : name) + QLatin1Char('"');
}

NamedLoss LossNamer::Name(const std::string& raw) const {
  QString line = QString::fromStdString(raw);
  NamedLoss out;
  // The walk's and the save's own lines begin with the path of the folder they were in.
  const qsizetype cut = line.indexOf(QStringLiteral("\\: "));
  static const QRegularExpression lead(QStringLiteral(R"(^(folder|message) (\d+): )"));
  const QRegularExpressionMatch m = lead.match(line);
  if (line.startsWith(QLatin1String(kRootFolderPath.data(), static_cast<qsizetype>(kRootFolderPath.size()))) && cut > 0) {
    out.folder_path = line.left(cut + 1);
    line = line.mid(cut + 3);
  } else if (m.hasMatch()) {
    const std::uint32_t nid = m.captured(2).toUInt();
    const auto known = folder_paths_.find(nid);
    if (m.captured(1) == QLatin1String("folder") && known != folder_paths_.end()) {
      // A folder's table names what it lacks: the folder itself was read.
      out.folder_path = QString::fromStdString(known->second);
      line = line.mid(m.capturedLength());
    } else {
      out.folder_path = FolderOf(nid);
    }
  }
  static const QRegularExpression object(QStringLiteral(R"(\b(subfolder|folder|hidden item|item|message) (\d+)\b)"));
  QString named;
  qsizetype from = 0;
  for (auto it = object.globalMatch(line); it.hasNext();) {
    const QRegularExpressionMatch o = it.next();
    named += line.mid(from, o.capturedStart() - from) + Object(o.captured(1), o.captured(2).toUInt());
    from = o.capturedEnd();
  }
  out.text = capitalised(named + line.mid(from));
  return out;
}

std::vector<NamedLoss> LossNamer::NameAll(const std::vector<std::string>& lines) const {
  std::vector<NamedLoss> out;
  out.reserve(lines.size());
  for (const auto& line : lines) out.push_back(Name(line));
  return out;
}

QString shown_path(const QString& folder_path) {
  return folder_path.endsWith(QLatin1Char('\\')) ? folder_path.chopped(1) : folder_path;
}

QString completion_page_html(const std::vector<NamedLoss>& losses, std::size_t rebuilt,
                             const QString& codepage_note) {
  QString html = QStringLiteral("<html><body>");
  // Said under the heading: it decides whether the names below read right.
  const QString note = codepage_note.isEmpty() ? QString()
                                               : QStringLiteral("<p><b>Text of this old (ANSI) store:</b> %1.</p>")
                                                     .arg(codepage_note.toHtmlEscaped());
  if (losses.empty()) {
    html += QStringLiteral("<h2>Reading complete</h2><p>The offline store was read whole: every folder and every "
                           "item in it could be read.</p>") + note;
    if (rebuilt > 0) {
      html += QStringLiteral("<p>%1 damaged part(s) of its index were made good from other copies in the file; "
                             "nothing was lost.</p>")
                  .arg(rebuilt);
    }
  } else {
    html += QStringLiteral("<h2>Reading complete, with losses</h2><p><b>The offline store could not be read whole: "
                           "%1 object(s) were lost or damaged.</b> The folders that held them are marked in the "
                           "tree; everything else can be saved.</p>")
                .arg(losses.size()) +
            note;
    // Grouped by folder, in the order the folders were first named.
    QStringList order;
    QMap<QString, QStringList> by_folder;
    for (const NamedLoss& loss : losses) {
      if (!by_folder.contains(loss.folder_path)) order << loss.folder_path;
      by_folder[loss.folder_path] << loss.text;
    }
    int shown = 0;
    for (const QString& folder : order) {
      if (shown >= kLossesShown) break;
      html += QStringLiteral("<p><b>%1</b></p><ul>")
                  .arg(folder.isEmpty() ? QStringLiteral("Elsewhere in the file") : shown_path(folder).toHtmlEscaped());
      for (const QString& text : by_folder[folder]) {
        if (shown++ >= kLossesShown) break;
        html += QStringLiteral("<li>%1</li>").arg(text.toHtmlEscaped());
      }
      html += QStringLiteral("</ul>");
    }
    if (losses.size() > static_cast<std::size_t>(kLossesShown)) {
      html += QStringLiteral("<p>and %1 more.</p>").arg(losses.size() - static_cast<std::size_t>(kLossesShown));
    }
  }
  html += QStringLiteral("<p>Click a folder to see its items and an item to preview it. Tick the folders you want to "
                         "keep and press Save to write them into a new PST file.</p></body></html>");
  return html;
}

void mark_loss_folders(CFolderTreeCtrl1& tree, const std::vector<NamedLoss>& losses) {
  if (tree.topLevelItemCount() == 0) return;
  QMap<QTreeWidgetItem*, QStringList> marked;
  for (const NamedLoss& loss : losses) {
    QTreeWidgetItem* item = loss.folder_path.isEmpty() ? nullptr : tree.FindPath(loss.folder_path);
    marked[item ? item : tree.topLevelItem(0)] << loss.text;
  }
  // A change of icon is an item change too: the tree must not take it for a click on a box.
  const QSignalBlocker blocker(&tree);
  const QIcon warning = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
  for (auto it = marked.cbegin(); it != marked.cend(); ++it) {
    QTreeWidgetItem* item = it.key();
    const QString note = QStringLiteral("%1 object(s) lost here:\n").arg(it.value().size()) + it.value().join(QLatin1Char('\n'));
    item->setIcon(0, warning);
    item->setForeground(0, QBrush(QColor(0xB0, 0x00, 0x20)));
    item->setToolTip(0, note);
    item->setData(0, Qt::AccessibleDescriptionRole, note);
  }
}

}  // namespace salvora::ui
