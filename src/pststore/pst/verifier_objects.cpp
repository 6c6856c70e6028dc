#include "pststore/pst/verifier_objects.h"

#include <algorithm>
#include <map>
#include <set>

#include "format/entry_id.h"
#include "format/ids.h"
#include "format/prop_types.h"
#include "format/property_context.h"
#include "pststore/pst/name_map.h"
#include "pststore/pst/table_templates.h"

namespace salvora::pst {

namespace {

constexpr Nid kRequiredNodes[] = {kNidMessageStore,
                                  kNidNameToIdMap,
                                  kNidRootFolder,
                                  table_nid(kNidRootFolder, kNidTypeHierarchyTable),
                                  table_nid(kNidRootFolder, kNidTypeContentsTable),
                                  table_nid(kNidRootFolder, kNidTypeAssocContentsTable),
                                  kNidSearchManagementQueue,
                                  kNidSearchActivityList,
                                  kNidHierarchyTemplate,
                                  kNidContentsTemplate,
                                  kNidAssocTemplate,
                                  kNidSearchContentsTemplate,
                                  kNidAttachmentTemplate,
                                  kNidRecipientTemplate};
constexpr int kMaxDepth = 16;  // deepest embedded message checked
constexpr int kInProgress = -1;
// Hierarchy columns that are not copied from the child folder (MS-PST 2.4.4.4.1).
constexpr std::uint16_t kHierarchyNotCopied[] = {kPidReplItemId, kPidReplChangeNum, kPidReplVersionHistory};

class ObjectChecks {
 public:
  ObjectChecks(const PstFileReader& r, VerifyResult& out) : r_(r), out_(out) {}

  void Run() {
    for (auto nid : kRequiredNodes)
      if (!r_.nodes().count(nid)) Fail("node " + hex(nid) + ": required node missing");
    Store();
    ReceiveFolders();
    NameMap();
    for (const auto& [nid, n] : r_.nodes())
      if (Nid(n.nid_parent) != nid) children_[Nid(n.nid_parent)].push_back(nid);
    for (const auto& [nid, n] : r_.nodes()) {
      const std::uint8_t type = nid.type();
      if (type == kNidTypeNormalFolder) Folder(nid, n);
      if (type == kNidTypeNormalMessage || type == kNidTypeAssocMessage) {
        ++out_.messages;
        if (!IsFolder(Nid(n.nid_parent))) Fail("message " + hex(nid) + ": parent " + hex(n.nid_parent) + " is not a folder");
        const NodeRef m = NodeRef::Of(n);
        Checked& c = checked_[{m.bid_data, m.bid_sub}];
        c = Checked{0, kInProgress};
        c.height = Message(m, "message " + hex(nid), 0);
      }
    }
  }

 private:
  void Fail(const std::string& s) { out_.violations.push_back(s); }
  // A normal folder of the node tree.
  bool IsFolder(Nid nid) const { return r_.nodes().count(nid) && nid.type() == kNidTypeNormalFolder; }

  void Store() {
    auto node = r_.Node(kNidMessageStore);
    if (!node) return;
    auto pc = r_.ReadPc(*node);
    if (!pc) return;
    const Property* key = find_prop(*pc, kPidRecordKey);
    if (!key || key->data.size() != 16) Fail("store: PidTagRecordKey missing or not 16 bytes");
    if (!find_prop(*pc, kPidDisplayName)) Fail("store: PidTagDisplayName missing");
    for (std::uint16_t id : {kPidIpmSubTreeEntryId, kPidIpmWastebasketEntryId, kPidFinderEntryId}) {
      const Property* e = find_prop(*pc, id);
      if (!e || e->data.size() != 24) {
        Fail("store: entry id " + hex(id) + " missing or not 24 bytes");
        continue;
      }
      if (key && key->data.size() == 16 && !std::equal(key->data.begin(), key->data.end(), e->data.begin() + 4))
        Fail("store: entry id " + hex(id) + " names another store");
      const Nid target = EntryId::Parse(e->data)->nid;
      if (!IsFolder(target))
        Fail("store: entry id " + hex(id) + " points to " + hex(target) + ", which is no folder");
    }
  }

  // The receive-folder table is optional; when present each row must name a folder.
  void ReceiveFolders() {
    auto node = r_.Node(kNidReceiveFolderTable);
    auto t = node ? r_.ReadTc(*node) : std::nullopt;
    if (!t) return;
    for (const auto& row : t->rows) {
      const Property* f = find_prop(row.cells, kPidReceiveFolderNid);
      const Nid target(f ? static_cast<std::uint32_t>(f->AsInt()) : 0u);
      if (!IsFolder(target))
        Fail("receive-folder table: row " + hex(row.row_id) + " names no folder");
    }
  }

  void NameMap() {
    auto node = r_.Node(kNidNameToIdMap);
    if (!node) return;
    auto pc = r_.ReadPc(*node);
    if (!pc) return;
    std::vector<std::string> problems;
    NameToIdMap::FromProperties(*pc, &problems);
    for (auto& p : problems) Fail(p);
  }

  // Row cells against the object's own values: every copied column the object has must be in
  // the row with the same bytes, and the row may hold nothing the object lacks.
  void CompareRow(const TableRow& row, const TableSchema& schema, const PropertyList& object, const std::string& where,
                  const std::set<std::uint16_t>& skip) {
    for (const auto& c : schema.columns) {
      const std::uint16_t id = PropIdOf(c.tag);
      if (id == kPidLtpRowId || id == kPidLtpRowVer || skip.count(id)) continue;
      const Property* in_row = nullptr;
      for (const auto& p : row.cells)
        if (p.tag == c.tag) in_row = &p;
      const Property* in_obj = nullptr;
      for (const auto& p : object)
        if (p.tag == c.tag) in_obj = &p;
      if (in_obj && !in_row) Fail(where + ": row lacks column " + hex(c.tag) + " that the object has");
      else if (!in_obj && in_row) Fail(where + ": row has column " + hex(c.tag) + " that the object lacks");
      else if (in_obj && in_row && in_obj->data != in_row->data) Fail(where + ": row value of " + hex(c.tag) + " differs from the object");
    }
  }

  void RequireTemplateColumns(const TableContents& t, const TableSchema& tmpl, const std::string& where) {
    for (const auto& c : tmpl.columns)
      if (!t.schema.Find(c.tag)) Fail(where + ": template column " + hex(c.tag) + " missing");
  }

  void Folder(Nid nid, const NbtEntry& n) {
    ++out_.folders;
    const std::string where = "folder " + hex(nid);
    if (nid != kNidRootFolder) {
      if (!IsFolder(Nid(n.nid_parent))) Fail(where + ": parent " + hex(n.nid_parent) + " is not a folder");
    } else if (Nid(n.nid_parent) != kNidRootFolder) {
      Fail(where + ": the root folder is not its own parent");
    }
    auto pc = r_.ReadPc(NodeRef::Of(n));
    if (!pc) return;
    for (std::uint16_t id : {kPidDisplayName, kPidContentCount, kPidContentUnreadCount, kPidSubfolders})
      if (!find_prop(*pc, id)) Fail(where + ": required property " + hex(id) + " missing");
    std::vector<Nid> subfolders, messages, assoc;
    for (const Nid cn : children_[nid]) {
      const auto t = cn.type();
      if (t == kNidTypeNormalFolder || t == kNidTypeSearchFolder) subfolders.push_back(cn);
      if (t == kNidTypeNormalMessage) messages.push_back(cn);
      if (t == kNidTypeAssocMessage) assoc.push_back(cn);
    }
    auto hierarchy = Table(table_nid(nid, kNidTypeHierarchyTable), where + " hierarchy table");
    auto contents = Table(table_nid(nid, kNidTypeContentsTable), where + " contents table");
    auto fai = Table(table_nid(nid, kNidTypeAssocContentsTable), where + " associated contents table");
    if (hierarchy) {
      RequireTemplateColumns(*hierarchy, hierarchy_template(), where + " hierarchy table");
      Rows(*hierarchy, subfolders, where + " hierarchy table", {kHierarchyNotCopied, kHierarchyNotCopied + 3});
      if (const Property* sf = find_prop(*pc, kPidSubfolders); sf && (sf->AsInt() != 0) != !hierarchy->rows.empty())
        Fail(field_mismatch(where + ": PidTagSubfolders", sf->AsInt() != 0 ? "true" : "false",
                      hierarchy->rows.empty() ? "false, the hierarchy table has no rows" : "true, the hierarchy table has rows"));
    }
    if (contents) {
      RequireTemplateColumns(*contents, contents_template(), where + " contents table");
      // The change key is kept by Outlook in rows only, like the message status.
      Rows(*contents, messages, where + " contents table", {kPidMessageStatus, kPidChangeKey});
      std::int64_t unread = 0;
      for (const auto& row : contents->rows) {
        const Property* f = find_prop(row.cells, kPidMessageFlags);
        if (!f || (f->AsInt() & kMsgFlagRead) == 0) ++unread;
      }
      const Property* cc = find_prop(*pc, kPidContentCount);
      const Property* cu = find_prop(*pc, kPidContentUnreadCount);
      if (cc && cc->AsInt() != static_cast<std::int64_t>(contents->rows.size()))
        Fail(field_mismatch(where + ": PidTagContentCount", std::to_string(cc->AsInt()), std::to_string(contents->rows.size()) + ", the contents rows"));
      if (cu && cu->AsInt() != unread)
        Fail(field_mismatch(where + ": PidTagContentUnreadCount", std::to_string(cu->AsInt()), std::to_string(unread) + ", the unread rows"));
    }
    if (fai) {
      RequireTemplateColumns(*fai, assoc_contents_template(), where + " associated contents table");
      Rows(*fai, assoc, where + " associated contents table", {kPidMessageStatus});
    }
  }

  std::optional<TableContents> Table(Nid nid, const std::string& where) {
    auto node = r_.Node(nid);
    if (!node) {
      Fail(where + " (node " + hex(nid) + ") missing");
      return std::nullopt;
    }
    return r_.ReadTc(*node);
  }

  // The rows of a folder table must be exactly the children, each mirroring its object.
  void Rows(const TableContents& t, const std::vector<Nid>& children, const std::string& where,
            std::set<std::uint16_t> skip) {
    std::set<Nid> want(children.begin(), children.end()), have;
    for (const auto& row : t.rows) {
      const Nid row_nid(row.row_id);
      if (!have.insert(row_nid).second) Fail(where + ": row " + hex(row_nid) + " appears twice");
      if (!want.count(row_nid)) {
        Fail(where + ": row " + hex(row_nid) + " has no child object");
        continue;
      }
      auto node = r_.Node(row_nid);
      auto pc = node ? r_.ReadPc(*node) : std::nullopt;
      if (pc) CompareRow(row, t.schema, *pc, where + " row " + hex(row.row_id), skip);
    }
    for (auto c : want)
      if (!have.count(c)) Fail(where + ": child " + hex(c) + " has no row");
  }

  // An embedded message whose blocks were checked before in this run is not checked again:
  // attachments of a hostile file can share sub-node blocks at every level, and walking each
  // path would cost fan-out to the power of the depth. The first visit's findings stand; only
  // the nesting depth can be new on a deeper path, so that much is judged from the height the
  // first visit found, and reported once. Meeting a message again while it is still being
  // checked means it contains itself, which nests without end.
  int Embedded(const NodeRef& m, const std::string& where, int depth) {
    auto [it, fresh] = checked_.try_emplace({m.bid_data, m.bid_sub}, Checked{depth, kInProgress});
    Checked& c = it->second;
    if (fresh) return c.height = Message(m, where, depth);
    if (c.height == kInProgress) {
      Fail(where + ": embedded messages nested too deep (the message contains itself)");
      return kMaxDepth + 1;
    }
    if (depth > c.depth) {
      if (depth + c.height > kMaxDepth && c.depth + c.height <= kMaxDepth) Fail(where + ": embedded messages nested too deep");
      c.depth = depth;
    }
    return c.height;
  }

  // Checks a message and its attachments; returns how deep embedded messages nest below it.
  int Message(const NodeRef& node, const std::string& where, int depth) {
    if (depth > kMaxDepth) {
      Fail(where + ": embedded messages nested too deep");
      return 0;
    }
    auto pc = r_.ReadPc(node);
    auto subs = r_.ReadSubnodes(node.bid_sub);
    if (!pc || !subs) return 0;
    for (std::uint16_t id : {kPidMessageClass, kPidMessageFlags, kPidMessageSize})
      if (!find_prop(*pc, id)) Fail(where + ": required property " + hex(id) + " missing");
    auto sub = [&](Nid nid) -> std::optional<NodeRef> {
      for (const auto& e : *subs)
        if (Nid(e.nid) == nid) return NodeRef::Of(e);
      return std::nullopt;
    };
    if (auto rt = sub(kNidMessageRecipientTable)) {
      if (auto t = r_.ReadTc(*rt)) RequireTemplateColumns(*t, recipient_template(), where + " recipient table");
    } else {
      Fail(where + ": recipient table missing");
    }
    std::vector<NodeRef> attachments;
    for (const auto& e : *subs)
      if (Nid(e.nid).type() == kNidTypeAttachment) attachments.push_back(NodeRef::Of(e));
    auto at = sub(kNidMessageAttachmentTable);
    std::optional<TableContents> table;
    if (at) table = r_.ReadTc(*at);
    else if (!attachments.empty()) Fail(where + ": attachment objects without an attachment table");
    const std::size_t rows = table ? table->rows.size() : 0;
    if (table && rows != attachments.size())
      Fail(field_mismatch(where + ": attachment table's row count", std::to_string(rows),
                    std::to_string(attachments.size()) + ", the attachment objects"));
    if (const Property* f = find_prop(*pc, kPidMessageFlags); f && ((f->AsInt() & kMsgFlagHasAttach) != 0) != (rows > 0))
      Fail(field_mismatch(where + ": mfHasAttach", (f->AsInt() & kMsgFlagHasAttach) != 0 ? "set" : "clear",
                    rows > 0 ? "set, the attachment table has rows" : "clear, the attachment table has none"));
    int height = 0;
    for (const auto& a : attachments) {
      const std::string aw = where + " attachment " + hex(a.nid);
      auto apc = r_.ReadPc(a);
      if (!apc) continue;
      for (std::uint16_t id : {kPidAttachSize, kPidAttachMethod, kPidRenderingPosition})
        if (!find_prop(*apc, id)) Fail(aw + ": required property " + hex(id) + " missing");
      if (table) {
        const TableRow* row = nullptr;
        for (const auto& r : table->rows)
          if (Nid(r.row_id) == a.nid) row = &r;
        if (!row) Fail(aw + ": no row in the attachment table");
        else CompareRow(*row, table->schema, *apc, aw, {});
      }
      for (const auto& p : *apc) {
        if (p.tag != PropTag(kPidAttachDataBinary, kPtypObject)) continue;
        if (p.data.size() != ObjectReference::kSize) {
          Fail(aw + ": embedded-message value is not 8 bytes");
          continue;
        }
        const Nid mnid = ObjectReference::Parse(p.data)->nid;
        auto asubs = r_.ReadSubnodes(a.bid_sub);
        std::optional<NodeRef> m;
        for (const auto& e : asubs.value_or(std::vector<SubnodeBlockEntry>{}))
          if (Nid(e.nid) == mnid) m = NodeRef::Of(e);
        if (!m) Fail(aw + ": embedded message " + hex(mnid) + " is not a sub-node of the attachment");
        else height = std::max(height, 1 + Embedded(*m, aw + " embedded message", depth + 1));
      }
    }
    return height;
  }

  const PstFileReader& r_;
  VerifyResult& out_;
  std::map<Nid, std::vector<Nid>> children_;
  // A message checked so far: the deepest level it was met at and how deep embedded messages
  // nest below it (kInProgress while it is being checked).
  struct Checked {
    int depth = 0;
    int height = kInProgress;
  };
  std::map<std::pair<Bid, Bid>, Checked> checked_;  // by (bid_data, bid_sub)
};

}  // namespace

void check_objects(const PstFileReader& reader, VerifyResult& out) { ObjectChecks(reader, out).Run(); }

}  // namespace salvora::pst
