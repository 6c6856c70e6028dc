// The recovery report as a page: plain HTML 4 with its style inline, nothing fetched and nothing
// run, so that any browser, a mail client it is sent with and the wizard's own text browser
// all show it the same.

#include <cstdio>
#include <filesystem>
#include <utility>

#include "writer/recovery_report.h"

namespace salvora {

namespace {

std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string duration_text(std::int64_t ms) {
  const std::int64_t s = ms < 0 ? 0 : ms / 1000;
  char text[48];
  if (s < 60) std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(s));
  else if (s < 3600) std::snprintf(text, sizeof text, "%lld min %lld s", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
  else std::snprintf(text, sizeof text, "%lld h %lld min", static_cast<long long>(s / 3600), static_cast<long long>(s / 60 % 60));
  return text;
}

std::string size_text(std::uint64_t bytes) {
  char text[48];
  if (bytes < 1024 * 1024) std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  else std::snprintf(text, sizeof text, "%.1f MB (%llu bytes)", static_cast<double>(bytes) / (1024.0 * 1024.0),
                     static_cast<unsigned long long>(bytes));
  return text;
}

// A folder as the user reads it: "Personal Folders\Inbox" without the trailing backslash.
std::string shown_folder(const std::string& path) {
  if (path.empty()) return "The store as a whole";
  return path.back() == '\\' ? path.substr(0, path.size() - 1) : path;
}

// A total's key as the page says it: "sent_items" reads "Sent items".
std::string total_label(std::string_view key) {
  static constexpr std::pair<std::string_view, std::string_view> kNamed[] = {
      {"mails", "Mails, all folders"}, {"objects", "Objects of the source visited"},
      {"unreadable", "Objects lost or damaged"}, {"not_written", "Items the PST could not take"}};
  for (const auto& [k, label] : kNamed) {
    if (k == key) return std::string(label);
  }
  std::string label(key);
  for (char& c : label) c = c == '_' ? ' ' : c;
  if (!label.empty() && label[0] >= 'a' && label[0] <= 'z') label[0] = static_cast<char>(label[0] - 'a' + 'A');
  return label;
}

void row(std::string& html, std::string_view name, const std::string& value) {
  html += "<tr><th align=\"left\">" + escaped(name) + "</th><td>" + escaped(value) + "</td></tr>\n";
}

std::string cell(std::int64_t n) { return "<td align=\"right\">" + std::to_string(n) + "</td>"; }

void folder_table(std::string& html, const std::vector<ReportFolder>& folders) {
  html += "<h2>Folders</h2>\n<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\">\n"
          "<tr><th align=\"left\">Folder</th><th>Items in the source</th><th>Saved</th><th>Lost or damaged</th>"
          "<th>Properties dropped</th><th>Deleted items recovered</th></tr>\n";
  for (const ReportFolder& f : folders) {
    html += "<tr><td>" + escaped(shown_folder(f.path)) + "</td>" + cell(f.source_items) + cell(f.saved) +
            cell(f.lost) + cell(f.properties_dropped) + cell(f.deleted_recovered) + "</tr>\n";
  }
  html += "</table>\n";
}

void loss_lists(std::string& html, const std::vector<ReportFolder>& folders) {
  bool any = false;
  for (const ReportFolder& f : folders) {
    if (f.lost == 0 && f.properties_dropped == 0) continue;
    if (!any) html += "<h2>What is missing from the PST</h2>\n";
    any = true;
    html += "<h3>" + escaped(shown_folder(f.path)) + "</h3>\n<ul>\n";
    for (const ReportLoss& l : f.losses) {
      std::string what = l.subject.empty() ? (l.nid != 0 ? "Item " + std::to_string(l.nid) : std::string())
                                           : "\"" + l.subject + "\"";
      html += "<li>" + (what.empty() ? std::string() : "<b>" + escaped(what) + "</b>: ") + escaped(l.reason) + "</li>\n";
    }
    if (f.lost > static_cast<std::int64_t>(f.losses.size()))
      html += "<li>and " + std::to_string(f.lost - static_cast<std::int64_t>(f.losses.size())) + " more</li>\n";
    for (const std::string& d : f.dropped) html += "<li>" + escaped(d) + "</li>\n";
    if (f.properties_dropped > static_cast<std::int64_t>(f.dropped.size()))
      html += "<li>and " + std::to_string(f.properties_dropped - static_cast<std::int64_t>(f.dropped.size())) +
              " more properties</li>\n";
    html += "</ul>\n";
  }
  if (!any) html += "<p>Nothing of the source is missing from the PST.</p>\n";
}

}  // namespace

std::string report_html(const RecoveryReport& r) {
  const std::string name = std::filesystem::path(r.source_path).filename().string();
  std::string html =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>Recovery report: " + escaped(name) +
      "</title>\n<style>body{font-family:sans-serif;margin:1.5em}table{border-collapse:collapse}"
      "th,td{padding:0.2em 0.6em}</style>\n</head><body>\n<h1>Recovery report: " + escaped(name) + "</h1>\n"
      "<table cellpadding=\"3\">\n";
  row(html, "Source", r.source_path);
  row(html, "Source size", size_text(r.source_size));
  row(html, "Source format", r.source_format);
  row(html, "PST written", r.destination);
  row(html, "Started", local_time_text(r.started));
  row(html, "Ended", local_time_text(r.ended));
  row(html, "Time taken", duration_text(r.ended - r.started));
  row(html, "Outcome", r.outcome_detail.empty() ? r.outcome : r.outcome + ": " + r.outcome_detail);
  html += "</table>\n<h2>Totals</h2>\n<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\">\n";
  for (const auto& [key, value] : r.totals)
    html += "<tr><th align=\"left\">" + escaped(total_label(key)) + "</th>" + cell(value) + "</tr>\n";
  html += "</table>\n";
  folder_table(html, r.folders);
  loss_lists(html, r.folders);
  html += "</body></html>\n";
  return html;
}

}  // namespace salvora
