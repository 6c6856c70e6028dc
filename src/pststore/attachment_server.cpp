#include "pststore/attachment_server.h"

#include <filesystem>
#include <memory>
#include <span>

#include "automation/byte_stream.h"
#include "automation/member_ids.h"
#include "format/filetime.h"
#include "format/prop_types.h"
#include "platform/file64.h"
#include "platform/temp_folder.h"
#include "pststore/call_guard.h"
#include "pststore/item_server.h"
#include "pststore/property_accessor_server.h"

namespace salvora::store {

namespace {

// The name after the last separator; both kinds count, since a caller may hand us a path
// written the Windows way.
std::string file_name_of(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string extension_of(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return {};
  return name.substr(dot);
}

// Takes the bytes that read_some delivers (0 at their end) into memory, and into a spool file
// from the moment they pass kAttachMemoryLimit (in memory still when there is no private folder).
template <class ReadSome>
void take_bytes(ReadSome read_some, AttachmentState& a) {
  constexpr std::size_t kBufferSize = std::size_t{1} << 16;
  // Not zeroed first: only what read_some delivers is used.
  const auto buf_owner = std::make_unique_for_overwrite<std::uint8_t[]>(kBufferSize);
  const std::span<std::uint8_t> buf(buf_owner.get(), kBufferSize);
  a.data.clear();
  a.size = 0;
  CFile64 spool;
  for (std::size_t n; (n = read_some(buf.data(), buf.size())) > 0;) {
    a.size += n;
    if (!a.spool_path.empty()) {
      spool.Write(buf.data(), n);
      continue;
    }
    a.data.insert(a.data.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
    if (a.data.size() <= kAttachMemoryLimit) continue;
    const std::string path = new_temp_file_path("attachment");
    if (path.empty()) continue;
    CFileException error;
    if (!spool.Open(path, CFile64::Access::kCreateNew, CFile64::Lock::kNone, &error)) throw error;
    a.spool_path = path;  // from here on the state removes it
    spool.Write(a.data.data(), a.data.size());
    a.data = {};
  }
}

void take_file(const std::string& path, AttachmentState& a) {
  CFile64 in;
  CFileException error;
  if (!in.Open(path, CFile64::Access::kReadOnly, CFile64::Lock::kNone, &error)) throw error;
  // A file that shrinks while it is read keeps what was there.
  take_bytes([&](std::uint8_t* p, std::size_t n) { return in.Read(p, n); }, a);
}

void take_stream(ByteStream& stream, AttachmentState& a) {
  take_bytes([&](std::uint8_t* p, std::size_t n) { return stream.read(std::span<std::uint8_t>(p, n)); }, a);
}

}  // namespace

DispatchPtr AttachmentsServer::Add(Arguments arguments) {
  const MemberId member = dispid::kAddAttachment;
  require_argument_count(member, arguments, 1, 4);
  if (item_->deleted) throw AutomationError(AutomationError::Code::kFailed, member, "the item was deleted");
  if (item_->nid) throw AutomationError(AutomationError::Code::kFailed, member, "the item is already stored in a folder");
  const Variant& source = arguments[0];
  std::shared_ptr<ItemState> embedded = item_state_of(source.dispatch_value());
  std::shared_ptr<ByteStream> stream = embedded ? nullptr : byte_stream_of(source);
  if (!embedded && !stream && !source.string_value()) bad(member, "argument 1 must be a file path, a stream or an item");

  std::int32_t type = embedded ? kAttachTypeEmbedded : kAttachTypeByValue;
  if (optional_argument(arguments, 1)) type = int32_argument(member, arguments, 1);
  if (type != kAttachTypeByValue && type != kAttachTypeEmbedded) bad(member, "only types 1 and 5 are supported");
  if ((type == kAttachTypeEmbedded) != (embedded != nullptr))
    bad(member, type == kAttachTypeEmbedded ? "type 5 needs an item" : "an item can only be attached with type 5");
  std::optional<std::int32_t> position;
  if (optional_argument(arguments, 2)) position = int32_argument(member, arguments, 2);
  std::string display_name;
  if (optional_argument(arguments, 3)) display_name = string_argument(member, arguments, 3);

  auto a = std::make_shared<AttachmentState>();
  const std::uint64_t now = filetime_now();
  if (embedded) {
    if (embedded->deleted) bad(member, "the item to attach was deleted");
    if (display_name.empty()) {
      if (const pst::Property* s = embedded->Find(kPidSubject)) display_name = s->AsString();
    }
    a->embedded = embedded->Clone();
    a->props.push_back(pst::Property::Int32(kPidAttachMethod, static_cast<std::int32_t>(kAttachEmbeddedMessage)));
    a->props.push_back(pst::Property::String(kPidDisplayName, display_name));
  } else {
    std::string name = display_name;
    if (stream) {
      if (name.empty()) bad(member, "a stream needs a display name (argument 4)");
      take_stream(*stream, *a);
    } else {
      const std::string& path = *source.string_value();
      if (path.empty()) bad(member, "the file path is empty");
      take_file(path, *a);
      if (name.empty()) name = file_name_of(path);
    }
    a->props.push_back(pst::Property::Int32(kPidAttachMethod, static_cast<std::int32_t>(kAttachByValue)));
    a->props.push_back(pst::Property::String(kPidAttachLongFilename, name));
    a->props.push_back(pst::Property::String(kPidAttachFilename, name));
    a->props.push_back(pst::Property::String(kPidDisplayName, name));
    const std::string ext = extension_of(name);
    if (!ext.empty()) a->props.push_back(pst::Property::String(pid::kAttachExtension, ext));
  }
  if (position) a->props.push_back(pst::Property::Int32(kPidRenderingPosition, *position));
  a->props.push_back(pst::Property::Time(kPidCreationTime, now));
  a->props.push_back(pst::Property::Time(kPidLastModificationTime, now));
  item_->attachments.push_back(a);
  return std::make_shared<AttachmentServer>(item_, std::move(a));
}

Variant AttachmentsServer::invoke(MemberId member, InvokeKind kind, Arguments arguments) {
  try {
    switch (member) {
      case dispid::kAddAttachment:
        if (kind == InvokeKind::kMethod) return Add(arguments);
        break;
      case dispid::kCount:
        if (kind == InvokeKind::kGet) return static_cast<std::int32_t>(item_->attachments.size());
        break;
      case dispid::kItem:
        if (kind == InvokeKind::kMethod || kind == InvokeKind::kGet) {
          require_argument_count(member, arguments, 1, 1);
          const std::int32_t i = int32_argument(member, arguments, 0);
          if (i < 1 || static_cast<std::size_t>(i) > item_->attachments.size())
            bad(member, "index " + std::to_string(i) + " is outside 1.." + std::to_string(item_->attachments.size()));
          return std::make_shared<AttachmentServer>(item_, item_->attachments[static_cast<std::size_t>(i) - 1]);
        }
        break;
      default: break;
    }
  } catch (const AutomationError&) {
    throw;
  } catch (const std::exception& e) {
    throw AutomationError(AutomationError::Code::kFailed, member, e.what());
  }
  throw_unknown_member(member, kind);
}

Variant AttachmentServer::invoke(MemberId member, InvokeKind kind, Arguments) {
  if (kind == InvokeKind::kGet && (member == kAttachmentDisplayName || member == kAttachmentFileName)) {
    const pst::Property* p = pst::find_prop(attachment_->props, static_cast<std::uint16_t>(member));
    return p ? p->AsString() : std::string();
  }
  if (kind == InvokeKind::kGet && member == dispid::kPropertyAccessor)
    return std::make_shared<PropertyAccessorServer>(attachment_bag(item_, attachment_));
  throw_unknown_member(member, kind);
}

}  // namespace salvora::store
