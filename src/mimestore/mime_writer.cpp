#include "mimestore/mime_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "format/filetime.h"
#include "format/prop_types.h"
#include "mimestore/file_names.h"
#include "mimestore/mbox_format.h"
#include "mimestore/mime_message.h"
#include "mimestore/item_fields.h"
#include "mimestore/vcard.h"
#include "platform/file_exception.h"

namespace salvora::mime {

namespace {

void make_folder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) throw CFileException::FromErrno(errno, path);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) throw CFileException::FromErrno(errno, path);
  if (!S_ISDIR(st.st_mode)) throw CFileException::FromErrno(ENOTDIR, path);
}

void write_all(int fd, const std::string& bytes, const std::string& path) {
  for (std::size_t at = 0; at < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      ::close(fd);
      throw CFileException::FromErrno(error, path);
    }
    at += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) throw CFileException::FromErrno(errno, path);
}

// "2008-01-06 090507 ": the start of a message file's name, so that a folder lists by date.
std::string date_stem(std::uint64_t filetime) {
  const auto text = filetime ? iso8601_text(filetime) : std::nullopt;
  if (!text || text->size() < 19) return {};
  return text->substr(0, 10) + " " + text->substr(11, 2) + text->substr(14, 2) + text->substr(17, 2) + " ";
}

}  // namespace

MimeWriter::MimeWriter(std::string path, MailLayout layout) : path_(std::move(path)), layout_(layout) {
  while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
  make_folder(path_);
  folders_[kRoot].made_path = path_;
  Add(kTop, kRoot, "Top of Personal Folders", "");
  Add(kTrash, kTop, "Deleted Items", "IPF.Note");
}

MimeWriter::~MimeWriter() = default;

MimeWriter::Folder& MimeWriter::At(pst::FolderId id) {
  const auto it = folders_.find(id);
  if (it == folders_.end()) throw std::runtime_error("no folder " + std::to_string(id) + " in " + path_);
  return it->second;
}

std::string MimeWriter::ChildrenPlace(pst::FolderId id) {
  if (id == kRoot || id == kTop) return path_;
  const std::string& made = Made(id);
  if (layout_ == MailLayout::kEml) return made;
  const std::string place = made + ".sbd";
  make_folder(place);
  return place;
}

const std::string& MimeWriter::NameOf(pst::FolderId id) {
  Folder& folder = At(id);
  if (!folder.made_name.empty()) return folder.made_name;
  // Siblings whose names are the same once made safe ("A/B" and "A_B") stay apart.
  const std::string base = safe_name(folder.name, id == kTop ? "Top" : "Folder");
  Folder& parent = At(folder.parent);
  std::string name = base;
  for (int n = 2; parent.child_names.count(name); ++n) name = base + " (" + std::to_string(n) + ")";
  parent.child_names[name] = 1;
  folder.made_name = name;
  return folder.made_name;
}

const std::string& MimeWriter::Made(pst::FolderId id) {
  Folder& folder = At(id);
  if (!folder.made_path.empty()) return folder.made_path;
  // Messages kept in the top itself go beside the folders, under the top's name.
  if (id == kTop && layout_ == MailLayout::kEml) folder.made_path = path_;
  else folder.made_path = ChildrenPlace(folder.parent) + "/" + NameOf(id);
  if (layout_ == MailLayout::kEml) {
    make_folder(folder.made_path);
  } else {
    const int fd = ::open(folder.made_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      const int error = errno;
      const std::string failed = std::exchange(folder.made_path, {});
      throw CFileException::FromErrno(error, failed);
    }
    ::close(fd);
  }
  return folder.made_path;
}

const std::string& MimeWriter::SideFile(pst::FolderId id, const std::string& ext) {
  auto [it, added] = side_files_.try_emplace({id, ext});
  if (added) {
    const std::string place = layout_ == MailLayout::kEml ? Made(id) : ChildrenPlace(At(id).parent);
    it->second = create_unique_file(place, NameOf(id), ext);
  }
  return it->second;
}

void MimeWriter::Add(pst::FolderId id, pst::FolderId parent, std::string_view name, std::string_view container_class) {
  Folder& folder = folders_[id];
  folder.parent = parent;
  folder.name = name;
  folder.container_class = container_class;
}

pst::FolderId MimeWriter::AddFolder(pst::FolderId parent, std::string_view name, std::string_view container_class) {
  At(parent);
  const pst::FolderId id = next_folder_++;
  Add(id, parent, name, container_class);
  return id;
}

void MimeWriter::SetFolderProperties(pst::FolderId folder, const pst::PropertyList& props) {
  Folder& f = At(folder);
  // A name set before the folder is made is the name it is made with; later ones leave it.
  if (const pst::Property* name = pst::find_prop(props, kPidDisplayName); name && f.made_path.empty())
    f.name = name->AsString();
  if (const pst::Property* cls = pst::find_prop(props, kPidContainerClass)) f.container_class = cls->AsString();
}

void MimeWriter::Append(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) throw CFileException::FromErrno(errno, path);
  write_all(fd, bytes, path);
}

std::uint32_t MimeWriter::AddMessage(pst::FolderId folder, pst::MessageSpec message) {
  const std::uint32_t id = next_message_;
  next_message_ += 32;
  if (message.associated) return id;  // a view or a rule: nothing a mail program can show
  const std::string cls = prop_text(message.props, kPidMessageClass);
  if (cls.starts_with("IPM.Contact") || cls.starts_with("IPM.DistList")) {
    Append(SideFile(folder, ".vcf"), contact_vcard(message, names_));
    return id;
  }
  if (cls.starts_with("IPM.Appointment") || cls.starts_with("IPM.Task") || cls.starts_with("IPM.Activity") ||
      cls.starts_with("IPM.StickyNote")) {
    SideFile(folder, ".ics");
    Calendar& calendar = calendars_[folder];
    calendar.text.Add(message, names_);
    calendar.changed = true;
    return id;
  }
  const BuiltMessage built = build_mime_message(message);
  At(folder).has_mail = true;
  const std::string& place = Made(folder);
  if (layout_ == MailLayout::kMbox) {
    std::string bytes = mbox_from_line(built.facts.sender_address, built.facts.time ? built.facts.time : filetime_now());
    append_mboxrd(mbox_status_lines(built.facts.flags) + built.text, bytes);
    Append(place, bytes);
  } else {
    const std::string stem = date_stem(built.facts.time) + safe_name(built.facts.subject, "(no subject)");
    const std::string file =
        create_unique_file(place, safe_name(stem, "message"), ";" + maildir_info(built.facts.flags) + ".eml");
    Append(file, built.text);
  }
  return id;
}

void MimeWriter::Commit() {
  for (auto& [id, calendar] : calendars_) {
    if (!calendar.changed) continue;
    const std::string& path = SideFile(id, ".ics");
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) throw CFileException::FromErrno(errno, path);
    write_all(fd, calendar.text.Text(), path);
    calendar.changed = false;
  }
}

void MimeWriter::Close() {
  if (closed_) return;
  closed_ = true;
  Commit();
  // Folders that got no message are there too, empty, as the mailbox had them; a folder of
  // contacts or appointments has its own file instead of an empty mailbox.
  for (auto& [id, folder] : folders_) {
    if (id == kRoot || id == kTop) continue;
    const bool other_items = side_files_.count({id, ".vcf"}) || side_files_.count({id, ".ics"});
    if (!other_items || folder.has_mail || layout_ == MailLayout::kEml) Made(id);
  }
}

}  // namespace salvora::mime
