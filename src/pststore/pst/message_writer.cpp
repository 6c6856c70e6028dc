// Messages, their recipient and attachment tables, attachments and embedded messages.

#include <random>

#include "format/byte_writer.h"
#include "format/ids.h"
#include "format/prop_types.h"
#include "format/property_context.h"
#include "pststore/pst/disk_layout.h"
#include "pststore/pst/table_templates.h"
#include "pststore/pst/writer_impl.h"

namespace salvora::pst {

namespace {

constexpr std::uint32_t kNidAttachmentTable = 0x671;
constexpr std::uint32_t kNidRecipientTable = 0x692;

// Reads a file front to back in blocks, so that an attachment never sits in memory whole.
class FileSource : public ByteSource {
 public:
  explicit FileSource(const std::string& path) {
    CFileException error;
    if (!file_.Open(path, CFile64::Access::kReadOnly, CFile64::Lock::kNone, &error)) throw error;
  }
  std::size_t Read(std::span<std::uint8_t> buffer) override { return file_.Read(buffer.data(), buffer.size()); }

 private:
  CFile64 file_;
};

std::uint64_t PropsSize(const PropertyList& props) {
  std::uint64_t n = 0;
  for (const auto& p : props) n += p.data.size() + 8;
  return n;
}

std::vector<std::uint8_t> RandomKey(std::mt19937_64& rng) {
  std::vector<std::uint8_t> k(16);
  for (auto& b : k) b = static_cast<std::uint8_t>(rng());
  return k;
}

// "A; B; C" from the recipients of one type, the way MAPI derives the display lists.
std::string DisplayList(const std::vector<RecipientSpec>& recipients, std::int64_t type) {
  std::string out;
  for (const auto& r : recipients) {
    const Property* t = find_prop(r.props, kPidRecipientType);
    const Property* n = find_prop(r.props, kPidDisplayName);
    if (!t || t->AsInt() != type || !n) continue;
    if (!out.empty()) out += "; ";
    out += n->AsString();
  }
  return out;
}

}  // namespace

// Recipients exist only as rows; columns the template lacks are added to this message's table.
std::uint64_t PstWriter::Impl::WriteRecipientTable(const std::vector<RecipientSpec>& recipients, NodeBuilder& nb) {
  std::vector<std::uint32_t> tags;
  for (const auto& r : recipients)
    for (const auto& p : r.props) tags.push_back(p.tag);
  const TableSchema schema = recipient_template().With(tags);
  std::vector<TableRow> rows;
  std::uint64_t size = 0;
  std::uint32_t row_id = 0;
  for (const auto& r : recipients) {
    // Row versions count within the table, like the sub-node NIDs, so equal messages match.
    TableRow row{row_id, row_id + 1, {}};
    ++row_id;
    for (const auto& p : r.props)
      if (schema.Find(p.tag)) set_prop(row.cells, p);
    rows.push_back(std::move(row));
    size += PropsSize(r.props);
  }
  NodeBuilder tb(*this, nullptr);
  const auto heap = build_table_context(schema, rows, tb);
  nb.AddSubnode(SubnodeBlockEntry{kNidRecipientTable, tb.WriteHeap(heap), tb.FinishSubnodes()});
  return size;
}

std::uint64_t PstWriter::Impl::StreamAttachmentData(const AttachmentSpec& a, NodeBuilder& ab, PropertyList& props,
                                                    std::vector<PrebuiltValue>& prebuilt) {
  std::unique_ptr<ByteSource> opened;
  ByteSource* src = a.source;
  if (src == nullptr) {
    opened = std::make_unique<FileSource>(a.data_path);
    src = opened.get();
  }
  DataTreeWriter dw(*store, nullptr);
  std::vector<std::uint8_t> buf(store->geometry().max_block_data);
  for (std::size_t n; (n = src->Read(buf)) > 0;) dw.Append(Bytes(buf).first(n));
  const std::uint64_t size = dw.size();
  const std::uint64_t bid = dw.Finish();
  if (size == 0) {
    set_prop(props, Property::Binary(kPidAttachDataBinary, {}));
    return 0;
  }
  // Sources are single-pass, so even a short streamed value stays in its sub-node; a sub-node
  // value is valid at any size.
  const std::uint32_t vnid = ab.AllocLocalNid(kNidTypeLtp);
  ab.AddSubnode(SubnodeBlockEntry{vnid, bid, 0});
  prebuilt.push_back(PrebuiltValue{PropTag(kPidAttachDataBinary, kPtypBinary), vnid});
  return size;
}

// An attachment is a sub-node with its own property context; its data goes to a sub-node of
// its own when large, and an embedded message is a complete message object below it.
std::uint64_t PstWriter::Impl::WriteAttachment(AttachmentSpec a, NodeBuilder& nb, std::vector<TableRow>& rows) {
  const std::uint32_t anid = nb.AllocLocalNid(kNidTypeAttachment);
  NodeBuilder ab(*this, nullptr);
  // The size counts the values as given, before the data and the defaults join them.
  const std::uint64_t given_size = PropsSize(a.props);
  PropertyList props = std::move(a.props);
  std::vector<PrebuiltValue> prebuilt;
  std::uint64_t data_size = 0;
  if (a.embedded) {
    const WrittenMessage m = WriteMessageObject(*a.embedded, false);
    const std::uint32_t mnid = ab.AllocLocalNid(kNidTypeNormalMessage);
    ab.AddSubnode(SubnodeBlockEntry{mnid, m.bid_data, m.bid_sub});
    data_size = m.size;
    ByteWriter obj(ObjectReference::kSize);
    ObjectReference{Nid(mnid), static_cast<std::uint32_t>(m.size)}.Serialize(obj);
    set_prop(props, Property::Raw(PropTag(kPidAttachDataBinary, kPtypObject), obj.take()));
    if (!find_prop(props, kPidAttachMethod)) set_prop(props, Property::Int32(kPidAttachMethod, kAttachEmbeddedMessage));
  } else {
    if (!a.data_path.empty() || a.source != nullptr) {
      data_size = StreamAttachmentData(a, ab, props, prebuilt);
    } else {
      data_size = a.data.size();
      set_prop(props, Property::Raw(PropTag(kPidAttachDataBinary, kPtypBinary), std::move(a.data)));
    }
    if (!find_prop(props, kPidAttachMethod)) set_prop(props, Property::Int32(kPidAttachMethod, kAttachByValue));
  }
  if (!find_prop(props, kPidRenderingPosition)) set_prop(props, Property::Int32(kPidRenderingPosition, -1));
  const std::uint64_t attach_size = data_size + given_size;
  set_prop(props, Property::Int32(kPidAttachSize, static_cast<std::int32_t>(std::min<std::uint64_t>(attach_size, 0x7FFFFFFF))));
  const auto heap = build_property_context(props, ab, prebuilt);
  nb.AddSubnode(SubnodeBlockEntry{anid, ab.WriteHeap(heap), ab.FinishSubnodes()});
  TableRow row{anid, static_cast<std::uint32_t>(rows.size() + 1), {}};
  for (const auto& p : props)
    if (attachment_template().Find(p.tag)) row.cells.push_back(p);
  rows.push_back(std::move(row));
  return attach_size;
}

// Values the format requires of every message, filled in where the caller gave none.
void PstWriter::Impl::CompleteMessageProps(PropertyList& props, const MessageSpec& msg, bool associated) {
  const std::uint64_t now = Now();
  if (!find_prop(props, kPidMessageClass)) set_prop(props, Property::String(kPidMessageClass, "IPM.Note"));
  std::uint32_t flags = 0;
  if (const Property* f = find_prop(props, kPidMessageFlags)) flags = static_cast<std::uint32_t>(f->AsInt());
  flags = msg.attachments.empty() ? (flags & ~kMsgFlagHasAttach) : (flags | kMsgFlagHasAttach);
  flags = associated ? (flags | kMsgFlagAssociated) : (flags & ~kMsgFlagAssociated);
  set_prop(props, Property::Int32(kPidMessageFlags, static_cast<std::int32_t>(flags)));
  if (msg.complete_times && !find_prop(props, kPidCreationTime)) set_prop(props, Property::Time(kPidCreationTime, now));
  if (msg.complete_times && !find_prop(props, kPidLastModificationTime))
    set_prop(props, Property::Time(kPidLastModificationTime, now));
  if (!find_prop(props, kPidSearchKey)) set_prop(props, Property::Binary(kPidSearchKey, RandomKey(rng)));
  // The display lists follow from the recipients; a message given none of a kind gets no
  // list of that kind rather than an empty one, as a copy of a message that had none must.
  for (const auto& [id, type] : {std::pair{kPidDisplayTo, 1}, std::pair{kPidDisplayCc, 2}, std::pair{kPidDisplayBcc, 3}}) {
    if (find_prop(props, id)) continue;
    const std::string list = DisplayList(msg.recipients, type);
    if (!list.empty()) set_prop(props, Property::String(id, list));
  }
}

WrittenMessage PstWriter::Impl::WriteMessageObject(MessageSpec msg, bool associated) {
  WrittenMessage out;
  NodeBuilder nb(*this, nullptr);
  out.size += WriteRecipientTable(msg.recipients, nb);
  std::vector<TableRow> attach_rows;
  for (auto& a : msg.attachments) out.size += WriteAttachment(std::move(a), nb, attach_rows);
  if (!attach_rows.empty()) {
    NodeBuilder tb(*this, nullptr);
    const auto heap = build_table_context(attachment_template(), attach_rows, tb);
    nb.AddSubnode(SubnodeBlockEntry{kNidAttachmentTable, tb.WriteHeap(heap), tb.FinishSubnodes()});
  }
  PropertyList props = std::move(msg.props);
  CompleteMessageProps(props, msg, associated);
  out.size += PropsSize(props) + 8;
  set_prop(props, Property::Int32(kPidMessageSize, static_cast<std::int32_t>(std::min<std::uint64_t>(out.size, 0x7FFFFFFF))));
  normalize_props(props);
  const auto heap = build_property_context(props, nb);
  out.bid_data = nb.WriteHeap(heap);
  out.bid_sub = nb.FinishSubnodes();
  out.props = std::move(props);
  return out;
}

std::uint32_t PstWriter::Impl::AddMessage(std::uint32_t folder, MessageSpec msg) {
  FolderState& f = Folder(folder);
  if (f.search) throw std::invalid_argument("cannot add a message to a search folder");
  const bool associated = msg.associated;
  WrittenMessage m;
  try {
    m = WriteMessageObject(std::move(msg), associated);
  } catch (const CFileException& e) {
    failed = true;
    if (failure.empty()) failure = e.what();
    throw;
  }
  const std::uint32_t nid = AllocNid(associated ? kNidTypeAssocMessage : kNidTypeNormalMessage);
  PutNode(nid, m.bid_data, m.bid_sub, folder);
  // The row copies the stored values; the message status lives only in the row.
  const TableSchema& schema = associated ? assoc_contents_template() : contents_template();
  PropertyList cells;
  for (const auto& p : m.props)
    if (schema.Find(p.tag)) cells.push_back(p);
  if (!find_prop(cells, kPidMessageStatus)) cells.push_back(Property::Int32(kPidMessageStatus, 0));
  PackedRow row{nid, PackedProps(cells)};
  if (associated) {
    f.assoc.push_back(std::move(row));
    f.assoc_dirty = true;
  } else {
    f.contents.push_back(std::move(row));
    f.contents_dirty = true;
    const Property* flags = find_prop(m.props, kPidMessageFlags);
    if (!flags || (flags->AsInt() & kMsgFlagRead) == 0) ++f.unread;
    MarkFolderChanged(f);
  }
  ++stats.messages;
  return nid;
}

}  // namespace salvora::pst
