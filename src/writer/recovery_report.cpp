#include "writer/recovery_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <regex>

#include "engine/folder_hierarchy.h"
#include "engine/object_loader.h"
#include "ndb/ost_context.h"
#include "platform/json_text.h"

namespace salvora {

namespace {

// "item 2097188 could not be read", "hidden item 5: attachment ...", "folder 8354 could not
// be read; ...": the object a line of the walk names first, and what it says of it.
const std::regex& object_lead() {
  static const std::regex re(R"(^(?:hidden item|item|folder) (\d+)(?:: | )(.*)$)");
  return re;
}
// The audit's lines: "folder N: message M is listed ...", "message N: its data block ...".
const std::regex& audit_lead() {
  static const std::regex re(R"(^(folder|message) (\d+): (?:(message|subfolder) (\d+) )?(.*)$)");
  return re;
}

std::uint32_t id_of(const std::ssub_match& m) {
  try {
    return static_cast<std::uint32_t>(std::stoul(m.str()));
  } catch (const std::exception&) {
    return 0;
  }
}

std::int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string subject_of(const OstContext& context, std::uint32_t nid) {
  const NodeRecord* node = FindNode(context, Nid(nid));
  if (!node) return {};
  try {
    const auto record = LoadItem(context, node, AttachmentLoad::kTableOnly, nullptr, BodyLoad::kAsStored);
    if (!record) return {};
    if (record->message && record->message->subject && !record->message->subject->text.empty())
      return record->message->subject->text;
    return record->display_name.value_or("");
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

void RecoveryLedger::Begin(std::string source_path, std::string source_format) {
  std::lock_guard lock(mutex_);
  source_path_ = std::move(source_path);
  source_format_ = std::move(source_format);
  started_ = now_ms();
}

ReportFolder& RecoveryLedger::folder(std::string_view path) {
  const auto [it, added] = by_path_.try_emplace(std::string(path), folders_.size());
  if (added) folders_.push_back(ReportFolder{std::string(path)});
  return folders_[it->second];
}

void RecoveryLedger::EnterFolder(std::string_view path, std::uint32_t nid, std::int64_t source_items) {
  std::lock_guard lock(mutex_);
  folder(path).source_items += source_items;
  if (nid != 0) folder_paths_.emplace(nid, std::string(path));
}

void RecoveryLedger::ItemSaved(std::string_view path) {
  std::lock_guard lock(mutex_);
  ++folder(path).saved;
}

void RecoveryLedger::DeletedRecovered(std::string_view path) {
  std::lock_guard lock(mutex_);
  ++folder(path).deleted_recovered;
}

void RecoveryLedger::add_loss(ReportFolder& f, ReportLoss loss) {
  if (f.losses.size() < kMaxListed) f.losses.push_back(std::move(loss));
  ++f.lost;
}

void RecoveryLedger::Loss(std::string_view text) {
  std::lock_guard lock(mutex_);
  const std::string line(text);
  std::smatch m;
  // The walk's own lines begin with the path of the folder it was in.
  if (const auto cut = line.find("\\: "); line.starts_with(kRootFolderPath) && cut != std::string::npos) {
    const std::string rest = line.substr(cut + 3);
    ReportLoss loss{0, {}, rest};
    if (std::regex_match(rest, m, object_lead())) loss = {id_of(m[1]), {}, m[2].str()};
    add_loss(folder(std::string_view(line).substr(0, cut + 1)), std::move(loss));
    return;
  }
  if (std::regex_match(line, m, audit_lead())) {
    const std::uint32_t first = id_of(m[2]);
    const bool names_row = m[3].matched;
    ReportLoss loss{names_row ? id_of(m[4]) : first, {}, m[5].str()};
    // A folder's table line belongs to that folder, whose source holds one item more than its
    // index shows; a lost object's own line belongs to its parent's.
    const auto known = folder_paths_.find(first);
    if (names_row && known != folder_paths_.end()) {
      ReportFolder& f = folder(known->second);
      if (m[3] == "message") ++f.source_items;
      add_loss(f, std::move(loss));
    } else {
      unplaced_.emplace_back(names_row ? 0 : first, std::move(loss));
    }
    return;
  }
  unplaced_.emplace_back(0, ReportLoss{0, {}, line});
}

void RecoveryLedger::DroppedProperty(std::string_view line) {
  std::lock_guard lock(mutex_);
  const auto cut = line.find("\\: ");
  const bool in_folder = line.starts_with(kRootFolderPath) && cut != std::string_view::npos;
  ReportFolder& f = folder(in_folder ? line.substr(0, cut + 1) : std::string_view());
  if (f.dropped.size() < kMaxListed) f.dropped.emplace_back(in_folder ? line.substr(cut + 3) : line);
  ++f.properties_dropped;
}

void RecoveryLedger::Resolve(const OstContext& context) {
  std::lock_guard lock(mutex_);
  for (auto& [node_id, loss] : unplaced_) {
    std::string path;
    const NodeRecord* node = node_id != 0 ? FindNode(context, Nid(node_id)) : nullptr;
    for (const NodeRecord* up = node ? node->parent() : nullptr; up && path.empty(); up = up->parent()) {
      if (const auto it = folder_paths_.find(up->nid.value); it != folder_paths_.end()) path = it->second;
    }
    add_loss(folder(path), std::move(loss));
  }
  unplaced_.clear();
  std::size_t lookups = 0;
  for (ReportFolder& f : folders_) {
    for (ReportLoss& loss : f.losses) {
      if (loss.nid == 0 || !loss.subject.empty() || folder_paths_.count(loss.nid) != 0) continue;
      if (lookups++ == kMaxSubjectLookups) return;
      loss.subject = subject_of(context, loss.nid);
    }
  }
}

std::string RecoveryLedger::source_path() const {
  std::lock_guard lock(mutex_);
  return source_path_;
}

std::string RecoveryLedger::source_format() const {
  std::lock_guard lock(mutex_);
  return source_format_;
}

std::int64_t RecoveryLedger::started() const {
  std::lock_guard lock(mutex_);
  return started_;
}

std::vector<ReportFolder> RecoveryLedger::folders() const {
  std::lock_guard lock(mutex_);
  std::vector<ReportFolder> out;
  out.reserve(folders_.size() + 1);
  const ReportFolder* storewide = nullptr;
  for (const ReportFolder& f : folders_) {
    if (f.path.empty()) storewide = &f;
    else out.push_back(f);
  }
  // Losses of no folder are told last, however early they were met.
  if (storewide) out.push_back(*storewide);
  for (const auto& [node_id, loss] : unplaced_) {
    if (out.empty() || !out.back().path.empty()) out.push_back(ReportFolder{});
    if (out.back().losses.size() < kMaxListed) out.back().losses.push_back(loss);
    ++out.back().lost;
  }
  return out;
}

std::string report_json(const RecoveryReport& r) {
  JsonObject totals;
  for (const auto& [key, value] : r.totals) totals.add(key, value);
  std::string folders = "[";
  for (const ReportFolder& f : r.folders) {
    std::string losses = "[";
    for (const ReportLoss& l : f.losses) {
      JsonObject o;
      if (l.nid != 0) o.add("node", static_cast<std::int64_t>(l.nid));
      else o.add_null("node");
      if (l.subject.empty()) o.add_null("subject");
      else o.add("subject", l.subject);
      o.add("reason", l.reason);
      losses += (losses.size() > 1 ? "," : "") + o.str();
    }
    std::string dropped = "[";
    for (const std::string& d : f.dropped) dropped += (dropped.size() > 1 ? "," : "") + json_string(d);
    JsonObject o;
    if (f.path.empty()) o.add_null("path");
    else o.add("path", f.path);
    o.add("source_items", f.source_items)
        .add("saved", f.saved)
        .add("lost", f.lost)
        .add("properties_dropped", f.properties_dropped)
        .add("deleted_recovered", f.deleted_recovered)
        .add_raw("losses", losses + "]")
        .add_raw("dropped_properties", dropped + "]");
    folders += (folders.size() > 1 ? "," : "") + o.str();
  }
  JsonObject source;
  source.add("path", r.source_path)
      .add("size", static_cast<std::int64_t>(r.source_size))
      .add("format", r.source_format);
  JsonObject o;
  o.add_raw("source", source.str())
      .add("destination", r.destination)
      .add("started", utc_time_text(r.started))
      .add("ended", utc_time_text(r.ended))
      .add("seconds", (r.ended - r.started) / 1000)
      .add("outcome", r.outcome);
  if (r.outcome_detail.empty()) o.add_null("outcome_detail");
  else o.add("outcome_detail", r.outcome_detail);
  o.add_raw("totals", totals.str()).add_raw("folders", folders + "]");
  return o.str() + "\n";
}

std::string source_format_text(const OstContext& context) {
  const auto& h = context.header;
  return std::string(h.is_ost() ? "OST" : h.is_pst() ? "PST" : "unknown client") + ", " + layout_name(h.layout) +
         ", version " + std::to_string(h.version);
}

namespace {

std::string time_text(std::int64_t ms, bool local, const char* format) {
  const std::time_t t = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  if (!(local ? ::localtime_r(&t, &tm) : ::gmtime_r(&t, &tm))) return {};
  char text[64];
  return std::strftime(text, sizeof text, format, &tm) ? text : "";
}

}  // namespace

std::string utc_time_text(std::int64_t ms) { return time_text(ms, false, "%Y-%m-%dT%H:%M:%SZ"); }
std::string local_time_text(std::int64_t ms) { return time_text(ms, true, "%Y-%m-%d %H:%M:%S %Z"); }

std::string report_page_path(const std::string& pst_path) {
  return std::filesystem::path(pst_path).replace_extension(".report.html").string();
}

std::string report_json_path(const std::string& pst_path) {
  return std::filesystem::path(pst_path).replace_extension(".report.json").string();
}

std::string write_private_file(const std::string& path, std::string_view text) {
  // Written aside and renamed: a reader never sees half a report, and a failed write leaves
  // the last one whole.
  const std::string aside = path + ".partial";
  const int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return std::strerror(errno);
  int error = 0;
  for (std::size_t at = 0; at < text.size() && error == 0;) {
    const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) error = n < 0 ? errno : ENOSPC;
    else at += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && std::rename(aside.c_str(), path.c_str()) != 0) error = errno;
  if (error == 0) return {};
  ::unlink(aside.c_str());
  return std::strerror(error);
}

}  // namespace salvora
