// salvora-cli dump: one JSON line per message of the folders' contents, in the canonical form
// that the independent readers' dumps use, so that what we read (and later what we write) can
// be compared with them item by item.
//
// Messages are found in the node tree: every normal-message node hanging below a folder under
// the root folder. A message that no contents table lists is therefore printed too (the other
// readers only see table rows); such extras are expected, not a fault.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <iterator>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/json.h"
#include "cli/source_open.h"
#include "engine/folder_hierarchy.h"
#include "engine/named_map_loader.h"
#include "engine/object_reader.h"
#include "engine/store_audit.h"
#include "format/entry_id.h"
#include "format/filetime.h"
#include "format/prop_types.h"
#include "format/text.h"
#include "platform/sha256.h"

namespace salvora::cli {

namespace {

constexpr std::uint32_t kPidMessageCodepage = 0x3FFD;

struct Dumper {
  const OstContext& ctx;
  std::uint32_t default_cp;
  std::optional<Nid> ipm_nid;
  std::vector<std::string> lines;
  std::vector<std::string> errors;
  int threads = 2;
  // The last attachment's name when its value could not be read whole.
  std::optional<std::string> partial_attachment;
  bool folder_damaged = false;

  static const PropertyEntry* find(const PropertyBlock& b, std::uint32_t id) { return b.find(id); }

  // The canonical text of a string property: UTF-16 or code-page bytes to UTF-8, U+0000
  // removed; any other type reads as empty.
  std::string text(const PropertyBlock& b, std::uint32_t id, std::uint32_t cp) const {
    const PropertyEntry* e = find(b, id);
    if (!e || !e->value) return {};
    if (e->type == kPtypString) return utf16_to_utf8(Bytes(*e->value), true);
    if (e->type == kPtypString8) {
      std::string s = codepage_to_utf8(Bytes(*e->value), cp);
      s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
      return s;
    }
    return {};
  }

  static std::optional<std::int32_t> int32(const PropertyBlock& b, std::uint32_t id) {
    const PropertyEntry* e = b.find(id);
    if (!e || e->type != kPtypInteger32) return std::nullopt;
    return value_i32(*e);
  }

  static std::optional<std::string> iso_time(const PropertyBlock& b, std::uint32_t id) {
    const PropertyEntry* e = b.find(id);
    if (!e || e->type != kPtypTime) return std::nullopt;
    auto ft = value_u64(*e);
    if (!ft) return std::nullopt;
    return iso8601_text(*ft);
  }

  static void digest(JsonObject& o, const char* len_key, const char* sha_key, const std::string& bytes) {
    o.add(len_key, static_cast<std::int64_t>(bytes.size()));
    if (bytes.empty()) o.add_null(sha_key);
    else o.add(sha_key, sha256_hex(Bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())));
  }

  static std::string escape_name(const std::string& name) {
    std::string out;
    for (char c : name) {
      if (c == '\\' || c == '/') out.push_back('\\');
      out.push_back(c);
    }
    return out;
  }

  // Sets folder_damaged when a block of the folder's object does not vouch for itself.
  std::string folder_name(const NodeRecord& folder) {
    const std::uint64_t damaged_before = damaged_blocks_read_here();
    auto obj = ReadObject(ctx, folder);
    folder_damaged = damaged_blocks_read_here() != damaged_before;
    if (!obj || obj->properties.blocks.empty()) {
      errors.push_back("folder " + std::to_string(folder.nid.value) + ": unreadable");
      return {};
    }
    return text(obj->properties.blocks.front(), kPidDisplayName, default_cp);
  }

  class HashSink : public ValueSink {
   public:
    void Deliver(Bytes chunk) override {
      sha_.Update(chunk);
      total_ += chunk.size();
    }
    std::string hex() { return sha_.HexDigest(); }

   private:
    Sha256 sha_;
  };

  std::optional<std::string> attachment(const LoadedObject& message, const PropertyBlock& row, std::uint32_t cp) {
    auto row_id = int32(row, kPidLtpRowId);
    if (!row_id) {
      const PropertyEntry* e = row.find(kPidLtpRowId);
      if (e) row_id = value_i32(*e);
    }
    const SubnodeEntry* sub = row_id ? FindSubnode(message.subnodes, Nid(static_cast<std::uint32_t>(*row_id))) : nullptr;
    std::optional<LoadedObject> obj;
    if (sub) obj = ReadObject(ctx, sub->data_bid, sub->sub_bid, ReadObjectOptions{true});
    if (!obj || obj->properties.blocks.empty()) return std::nullopt;
    const PropertyBlock& p = obj->properties.blocks.front();
    std::string name;
    for (std::uint32_t id : {0x3707u, 0x3704u, 0x3001u}) {
      name = text(p, id, cp);
      if (!name.empty()) break;
    }
    const std::int32_t method = int32(p, kPidAttachMethod).value_or(0);
    JsonObject o;
    o.add("filename", name).add("method", method);
    JsonObject sorted;  // the sort key: the same entry with its keys in name order
    sorted.add("filename", name).add("method", method);
    if (method == 1 || method == 6) {
      const PropertyEntry* data = p.find(kPidAttachDataBinary);
      std::int64_t size = 0;
      std::string sha;
      if (data && data->value) {
        size = static_cast<std::int64_t>(data->value->size());
        if (size > 0) sha = sha256_hex(*data->value);
      } else if (data && !data->unread_subnode.is_null()) {
        // Looked for where a save looks: the object's own sub-nodes, then the message's.
        const SubnodeEntry* big = FindSubnode(obj->subnodes, data->unread_subnode);
        if (!big) big = FindSubnode(message.subnodes, data->unread_subnode);
        HashSink sink;
        // A value that cannot be read whole shows what could be read, and is named.
        if (!big || !StreamSubnodeValue(ctx, *big, sink)) partial_attachment = name;
        size = static_cast<std::int64_t>(sink.total());
        if (size > 0) sha = sink.hex();
      }
      o.add("size", size);
      if (sha.empty()) o.add_null("sha256"), sorted.add_null("sha256");
      else o.add("sha256", sha), sorted.add("sha256", sha);
      sorted.add("size", size);
    } else {
      o.add_null("size").add_null("sha256");
      sorted.add_null("sha256").add_null("size");
    }
    return sorted.str() + '\n' + o.str();
  }

  std::string attachments(const LoadedObject& message, std::uint32_t cp, const std::string& where) {
    const SubnodeEntry* table = FindSubnode(message.subnodes, kNidMessageAttachmentTable);
    if (!table) return "[]";
    auto rows = ReadObject(ctx, table->data_bid, table->sub_bid);
    if (!rows) {
      errors.push_back(where + ": attachment table unreadable");
      return "null";
    }
    std::vector<std::string> entries;  // "sortkey\nentry"
    std::size_t number = 0;
    for (const auto& row : rows->properties.blocks) {
      ++number;
      partial_attachment.reset();
      if (auto a = attachment(message, row, cp)) {
        entries.push_back(*a);
        if (!partial_attachment) continue;
      }
      // Named as the analysis and the convert name it: by the object's name, the table row's,
      // else its place.
      std::string name = partial_attachment.value_or("");
      for (std::uint32_t id : {0x3707u, 0x3704u, 0x3001u}) {
        if (!name.empty()) break;
        name = text(row, id, cp);
      }
      if (name.empty()) name = "Attachment " + std::to_string(number);
      errors.push_back(where + ": attachment \"" + name + "\" could not be read whole; what could be read of it is kept");
    }
    std::sort(entries.begin(), entries.end());
    std::string out = "[";
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (i) out.push_back(',');
      out += entries[i].substr(entries[i].find('\n') + 1);
    }
    return out + "]";
  }

  void message(const NodeRecord& node, const std::string& folder, const std::optional<std::string>& ipm) {
    const std::uint64_t damaged_before = damaged_blocks_read_here();
    if (dump_message(node, folder, ipm) && damaged_blocks_read_here() != damaged_before)
      errors.push_back(folder + ": message " + std::to_string(node.nid.value) +
                       ": part of its data is damaged (block checksums do not match); shown as read");
  }

  // The messages of one folder, a few thousand at a time. On two threads each takes the next
  // message not yet taken, with a Dumper of its own; what each message gave is put together in
  // the folder's order, so the errors come out as one thread would name them.
  void messages(const std::vector<const NodeRecord*>& nodes, const std::string& folder,
                const std::optional<std::string>& ipm) {
    constexpr std::size_t kMessagesAtATime = 4096;
    for (std::size_t at = 0; at < nodes.size(); at += kMessagesAtATime) {
      const auto end = nodes.begin() + static_cast<std::ptrdiff_t>(std::min(nodes.size(), at + kMessagesAtATime));
      some_messages(std::span(nodes.begin() + static_cast<std::ptrdiff_t>(at), end), folder, ipm);
    }
  }

  void some_messages(std::span<const NodeRecord* const> nodes, const std::string& folder,
                     const std::optional<std::string>& ipm) {
    if (threads < 2 || nodes.size() < 2) {
      for (const NodeRecord* n : nodes) message(*n, folder, ipm);
      return;
    }
    struct Found {
      std::vector<std::string> lines;
      std::vector<std::string> errors;
    };
    std::vector<Found> found(nodes.size());
    std::atomic<std::size_t> next{0};
    std::mutex failure_mutex;
    std::exception_ptr failure;
    auto work = [&] {
      Dumper d{ctx, default_cp, ipm_nid, {}, {}, 1};
      try {
        for (std::size_t i; !ctx.stopped() && (i = next.fetch_add(1)) < nodes.size();) {
          d.message(*nodes[i], folder, ipm);
          found[i] = Found{std::exchange(d.lines, {}), std::exchange(d.errors, {})};
        }
      } catch (...) {
        std::lock_guard lock(failure_mutex);
        if (!failure) failure = std::current_exception();
        next = nodes.size();
      }
    };
    std::thread helper(work);
    work();
    helper.join();
    if (failure) std::rethrow_exception(failure);
    for (Found& f : found) {
      std::move(f.lines.begin(), f.lines.end(), std::back_inserter(lines));
      std::move(f.errors.begin(), f.errors.end(), std::back_inserter(errors));
    }
  }

  // False when the message could not be read at all (and is named so).
  bool dump_message(const NodeRecord& node, const std::string& folder, const std::optional<std::string>& ipm) {
    auto obj = ReadObject(ctx, node);
    if (!obj || obj->properties.blocks.empty()) {
      errors.push_back(folder + ": message " + std::to_string(node.nid.value) + " unreadable");
      return false;
    }
    const PropertyBlock& p = obj->properties.blocks.front();
    std::uint32_t cp = default_cp;
    if (auto c = int32(p, kPidMessageCodepage); c && *c != 0) cp = static_cast<std::uint32_t>(*c);
    std::string subject = text(p, kPidSubject, cp);
    if (!subject.empty() && subject[0] == '\x01') {
      // The marker and the prefix-length character: two characters, whatever their width.
      std::size_t i = 1;
      if (i < subject.size()) {
        ++i;
        while (i < subject.size() && (static_cast<unsigned char>(subject[i]) & 0xC0) == 0x80) ++i;
      }
      subject = subject.substr(i);
    }
    JsonObject o;
    o.add("folder", folder);
    if (ipm) o.add("ipm_folder", *ipm);
    else o.add_null("ipm_folder");
    o.add("class", text(p, kPidMessageClass, cp))
        .add("subject", subject)
        .add("sender_name", text(p, kPidSenderName, cp))
        .add("sender_email", text(p, kPidSenderEmailAddress, cp))
        .add("to", text(p, kPidDisplayTo, cp))
        .add("cc", text(p, kPidDisplayCc, cp))
        .add_optional("submit_time", iso_time(p, kPidClientSubmitTime))
        .add_optional("delivery_time", iso_time(p, kPidMessageDeliveryTime));
    digest(o, "body_len", "body_sha256", text(p, kPidBody, cp));
    std::string html;
    if (const PropertyEntry* h = p.find(kPidHtml); h && h->value) {
      if (h->type == kPtypBinary) html.assign(h->value->begin(), h->value->end());
      else html = text(p, kPidHtml, cp);
    }
    digest(o, "html_len", "html_sha256", html);
    o.add_raw("attachments", attachments(*obj, cp, folder + ": item " + std::to_string(node.nid.value)));
    lines.push_back(o.str());
    return true;
  }

  static std::vector<const NodeRecord*> messages_of(const NodeRecord& folder) {
    std::vector<const NodeRecord*> out;
    for (const NodeRecord* m = folder.first_child(); m; m = m->next_sibling()) {
      if (m->nid.type() == kNidTypeNormalMessage) out.push_back(m);
    }
    return out;
  }

  // A folder of the mailbox read from damaged blocks, as the analysis and the convert name it
  // (the folders the store keeps for itself are no part of what they read).
  void name_damaged_folder(const NodeRecord& folder, const std::string& parent_path) {
    if (folder_damaged)
      errors.push_back(parent_path + ": folder " + std::to_string(folder.nid.value) +
                       ": part of its data is damaged (block checksums do not match); shown as read");
  }

  // The folders and messages whose parent folder is lost, under "Recovered Items" as convert
  // saves them; a folder keeps its own subfolders.
  void recovered(const std::vector<const NodeRecord*>& orphans) {
    const std::string path = "Recovered Items";
    for (const NodeRecord* n : orphans) {
      if (ctx.stopped()) return;
      if (n->nid.type() == kNidTypeNormalMessage) {
        message(*n, path, path);
        continue;
      }
      const std::string name = escape_name(folder_name(*n));
      name_damaged_folder(*n, path);
      messages(messages_of(*n), path + "/" + name, path + "/" + name);
      walk(*n, path + "/" + name, path + "/" + name, true);
    }
  }

  void walk(const NodeRecord& folder, const std::string& path, const std::optional<std::string>& ipm_path,
            bool ipm_found) {
    for (const NodeRecord* child = folder.first_child(); child; child = child->next_sibling()) {
      if (ctx.stopped()) return;
      const auto type = child->nid.type();
      if (type != kNidTypeNormalFolder && type != kNidTypeSearchFolder) continue;
      const std::string name = escape_name(folder_name(*child));
      const std::string sub_path = path.empty() ? name : path + "/" + name;
      std::optional<std::string> sub_ipm;
      bool found = ipm_found;
      if ((ipm_nid && child->nid == *ipm_nid) || (!ipm_nid && !ipm_found && name == "IPM_SUBTREE")) {
        sub_ipm = "";
        found = true;
      } else if (ipm_path) {
        sub_ipm = ipm_path->empty() ? name : *ipm_path + "/" + name;
        name_damaged_folder(*child, path);
      }
      messages(messages_of(*child), sub_path, sub_ipm);
      walk(*child, sub_path, sub_ipm, found);
    }
  }
};

std::optional<Nid> ipm_subtree_nid(const OstContext& ctx) {
  const NodeRecord* store = FindNode(ctx, kNidMessageStore);
  if (!store) return std::nullopt;
  auto obj = ReadObject(ctx, *store);
  if (!obj || obj->properties.blocks.empty()) return std::nullopt;
  const PropertyEntry* e = obj->properties.blocks.front().find(kPidIpmSubTreeEntryId);
  if (!e || !e->value) return std::nullopt;
  const auto id = EntryId::Parse(*e->value);
  if (!id) return std::nullopt;
  return id->nid;
}

}  // namespace

int RunDump(const ParsedCommand& args) {
  SourceOptions options = SourceOptionsFrom(args);
  OstContext ctx;
  if (!OpenSource(ctx, options)) return kExitFailure;
  LoadBlockIndex(ctx);
  LoadNodeIndex(ctx);
  ChooseSourceCodepage(ctx, options);
  LoadNamedPropertyMap(ctx);
  const NodeRecord* root = FindNode(ctx, kNidRootFolder);
  const std::vector<const NodeRecord*> orphans = FindOrphans(ctx, root);
  if (!root && orphans.empty()) {
    PrintError("%s: the file has no root folder and no folder or message to recover (%s)", options.path.c_str(),
               NothingRecoverableCause(ctx).c_str());
    return kExitFailure;
  }
  Dumper d{ctx, options.codepage, ipm_subtree_nid(ctx), {}, {}};
  if (auto threads = args.number("threads")) d.threads = static_cast<int>(*threads);
  if (root) d.walk(*root, "", std::nullopt, false);
  d.recovered(orphans);
  const StoreAudit audit = AuditStore(ctx);
  d.errors.insert(d.errors.end(), audit.lost.begin(), audit.lost.end());
  std::sort(d.lines.begin(), d.lines.end());
  for (const auto& line : d.lines) std::printf("%s\n", line.c_str());
  for (const auto& line : audit.rebuilt) PrintError("rebuilt: %s", line.c_str());
  for (const auto& e : d.errors) PrintError("%s", e.c_str());
  if (d.errors.empty()) return kExitOk;
  PrintError("%s: %zu objects of the source were lost or damaged (named above)", options.path.c_str(), d.errors.size());
  return kExitPartial;
}

}  // namespace salvora::cli
