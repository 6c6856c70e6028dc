#pragma once
// MimeWriter: a store of mail files instead of a PST, for the store server to write into like
// any store (pst::StoreWriter). Its path is a new folder that mirrors the mailbox's folder tree:
//
// - kMbox: one mbox file per folder as Thunderbird keeps them ("Inbox", and the folders below
//   it in "Inbox.sbd/"), messages in the order written, with their read, answered, flagged and
//   draft states in Status and X-Status;
// - kEml: one folder per folder, one ".eml" file per message named by its date and subject,
//   its states as maildir flags at the end of the name (";2,FS").
//
// A folder's file or folder is made when its first message or subfolder comes, or at Close, so
// that a rename before then (the trash taking the source's name) is the name it gets. Hidden
// items (views, rules) are no messages and are left out. Nothing that is there is replaced: an
// existing mbox is added to, message names take " (2)" and on when taken.
// Not thread-safe: the store file locks around every call.

#include <map>
#include <memory>
#include <string>

#include "mimestore/icalendar.h"
#include "pststore/pst/store_writer.h"

namespace salvora::mime {

enum class MailLayout { kMbox, kEml };

class MimeWriter : public pst::StoreWriter {
 public:
  // Makes the folder at path (its parent must exist); an existing folder is added to. Throws
  // CFileException.
  MimeWriter(std::string path, MailLayout layout);
  ~MimeWriter() override;

  pst::FolderId root_folder() const override { return kRoot; }
  pst::FolderId ipm_subtree() const override { return kTop; }
  pst::FolderId deleted_items() const override { return kTrash; }

  pst::FolderId AddFolder(pst::FolderId parent, std::string_view name, std::string_view container_class) override;
  void SetFolderProperties(pst::FolderId folder, const pst::PropertyList& props) override;
  void SetStoreProperties(const pst::PropertyList&) override {}
  void SetReceiveFolder(pst::FolderId) override {}
  std::uint16_t RegisterName(const pst::PropertyName& name) override { return names_.Register(name); }
  std::uint32_t AddMessage(pst::FolderId folder, pst::MessageSpec message) override;
  // Rewrites the calendar files changed since the last time (mail and cards are on disk as
  // each is added).
  void Commit() override;
  void Close() override;
  bool failed() const override { return failed_; }

 private:
  static constexpr pst::FolderId kRoot = 1;
  static constexpr pst::FolderId kTop = 2;
  static constexpr pst::FolderId kTrash = 3;

  struct Folder {
    pst::FolderId parent = 0;
    std::string name;
    std::string container_class;
    std::string made_name;  // its safe name among its siblings, once given
    std::string made_path;  // once made: its mbox file, or its folder of message files
    bool has_mail = false;
    std::map<std::string, int> child_names;  // names given to children, for their uniqueness
  };
  void Add(pst::FolderId id, pst::FolderId parent, std::string_view name, std::string_view container_class);
  Folder& At(pst::FolderId id);
  const std::string& NameOf(pst::FolderId id);
  // A file of the folder's beside its mail, its contacts (".vcf") or calendar (".ics"): made
  // under a free name the first time, the same file after.
  const std::string& SideFile(pst::FolderId id, const std::string& ext);
  // The folder's file or folder, made now when it is not yet.
  const std::string& Made(pst::FolderId id);
  // Where the folder's children go (made when needed): for mbox "<file>.sbd".
  std::string ChildrenPlace(pst::FolderId id);
  void Append(const std::string& path, const std::string& bytes);

  std::string path_;
  MailLayout layout_;
  std::map<pst::FolderId, Folder> folders_;
  std::map<std::pair<pst::FolderId, std::string>, std::string> side_files_;
  struct Calendar {
    CalendarText text;
    bool changed = false;
  };
  std::map<pst::FolderId, Calendar> calendars_;
  pst::FolderId next_folder_ = 16;
  std::uint32_t next_message_ = 0x200024;
  pst::NameToIdMap names_;
  bool failed_ = false;
  bool closed_ = false;
};

}  // namespace salvora::mime
