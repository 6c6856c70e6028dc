#include "pststore/store_readback.h"

#include "format/byte_reader.h"
#include "format/ids.h"
#include "format/prop_types.h"
#include "pststore/pst/pst_file_reader.h"

namespace salvora::store::testing {

namespace {

constexpr std::uint32_t kRecipientTable = 0x692;
constexpr std::uint32_t kAttachmentTable = 0x671;


class Walker {
 public:
  explicit Walker(ReadStore& out)
      : out_(out), reader_([this](const std::string& s) { out_.problems.push_back(s); }) {}

  bool Open(const std::string& path) {
    if (!reader_.Open(path)) return false;
    reader_.LoadTrees();
    return true;
  }

  void Run() {
    for (const auto& [nid, n] : reader_.nodes())
      if (nid.type() == kNidTypeNormalMessage) ++out_.message_nodes;
      else if (nid.type() == kNidTypeAssocMessage) ++out_.hidden_message_nodes;
    if (auto node = reader_.Node(kNidMessageStore)) {
      if (auto pc = reader_.ReadPc(*node)) out_.store_props = *pc;
    }
    if (auto node = reader_.Node(kNidNameToIdMap)) {
      if (auto pc = reader_.ReadPc(*node)) out_.names = pst::NameToIdMap::FromProperties(*pc, &out_.problems);
    }
    const pst::Property* subtree = pst::find_prop(out_.store_props, kPidIpmSubTreeEntryId);
    if (!subtree || subtree->data.size() != 24) {
      out_.problems.push_back("store: no IPM subtree entry id");
      return;
    }
    out_.subtree = Folder(load_u32(subtree->data, 20));
  }

 private:
  ReadFolder Folder(std::uint32_t nid) {
    ReadFolder f;
    f.nid = nid;
    auto node = reader_.Node(Nid(nid));
    if (!node) {
      out_.problems.push_back("folder " + pst::hex(nid) + " missing");
      return f;
    }
    if (auto pc = reader_.ReadPc(*node)) f.props = *pc;
    if (const pst::Property* n = pst::find_prop(f.props, kPidDisplayName)) f.name = n->AsString();
    if (auto h = reader_.Node(table_nid(Nid(nid), kNidTypeHierarchyTable))) {
      if (auto tc = reader_.ReadTc(*h))
        for (const auto& row : tc->rows) f.children.push_back(Folder(row.row_id));
    }
    if (auto c = reader_.Node(table_nid(Nid(nid), kNidTypeContentsTable))) {
      if (auto tc = reader_.ReadTc(*c)) {
        for (const auto& row : tc->rows) {
          auto m = reader_.Node(Nid(row.row_id));
          if (!m) {
            out_.problems.push_back("contents row " + pst::hex(row.row_id) + " has no message");
            continue;
          }
          ReadMessage msg = Message(*m);
          msg.row = row.cells;
          f.messages.push_back(std::move(msg));
        }
      }
    }
    return f;
  }

  ReadMessage Message(const pst::NodeRef& node) {
    ReadMessage m;
    m.nid = node.nid.value;
    if (auto pc = reader_.ReadPc(node)) m.props = *pc;
    auto subs = reader_.ReadSubnodes(node.bid_sub);
    if (!subs) return m;
    const auto find = [&](std::uint32_t nid) -> std::optional<pst::NodeRef> {
      for (const auto& e : *subs)
        if (e.nid == nid) return pst::NodeRef::Of(e);
      return std::nullopt;
    };
    if (auto r = find(kRecipientTable)) {
      if (auto tc = reader_.ReadTc(*r))
        for (const auto& row : tc->rows) m.recipients.push_back(row.cells);
    } else {
      out_.problems.push_back("message " + pst::hex(node.nid) + " has no recipient table");
    }
    if (auto t = find(kAttachmentTable)) {
      if (auto tc = reader_.ReadTc(*t)) {
        for (const auto& row : tc->rows) {
          auto a = find(row.row_id);
          if (!a) {
            out_.problems.push_back("attachment row " + pst::hex(row.row_id) + " has no object");
            continue;
          }
          m.attachments.push_back(Attachment(*a));
        }
      }
    }
    return m;
  }

  ReadAttachment Attachment(const pst::NodeRef& node) {
    ReadAttachment a;
    if (auto pc = reader_.ReadPc(node)) a.props = *pc;
    for (const auto& p : a.props) {
      if (p.tag == PropTag(kPidAttachDataBinary, kPtypBinary)) a.data = p.data;
      if (p.tag == PropTag(kPidAttachDataBinary, kPtypObject) && p.data.size() >= 4) {
        const std::uint32_t nid = load_u32(p.data, 0);
        auto subs = reader_.ReadSubnodes(node.bid_sub);
        if (!subs) continue;
        for (const auto& e : *subs)
          if (e.nid == nid) a.embedded = std::make_shared<ReadMessage>(Message(pst::NodeRef::Of(e)));
      }
    }
    return a;
  }

  ReadStore& out_;
  pst::PstFileReader reader_;
};

}  // namespace

std::string ReadMessage::Text(std::uint16_t id) const {
  const pst::Property* p = Find(id);
  return p ? p->AsString() : std::string("<absent>");
}

std::optional<std::int64_t> ReadMessage::Int(std::uint16_t id) const {
  const pst::Property* p = Find(id);
  if (!p) return std::nullopt;
  return p->AsInt();
}

const ReadFolder* ReadFolder::Child(const std::string& child) const {
  for (const auto& c : children)
    if (c.name == child) return &c;
  return nullptr;
}

const ReadMessage* ReadFolder::Message(const std::string& subject) const {
  for (const auto& m : messages)
    if (m.Text(kPidSubject) == subject) return &m;
  return nullptr;
}

std::size_t ReadFolder::TotalMessages() const {
  std::size_t n = messages.size();
  for (const auto& c : children) n += c.TotalMessages();
  return n;
}

const pst::Property* ReadStore::Named(const ReadMessage& m, const pst::PropertyName& name) const {
  const auto id = names.Find(name);
  if (!id) return nullptr;
  return m.Find(*id);
}

ReadStore ReadBack(const std::string& path) {
  ReadStore out;
  Walker w(out);
  if (!w.Open(path)) {
    out.problems.push_back(path + ": not a Unicode PST");
    return out;
  }
  out.opened = true;
  w.Run();
  return out;
}

}  // namespace salvora::store::testing
