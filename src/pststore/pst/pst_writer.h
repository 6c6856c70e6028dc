#pragma once
// PstWriter: creates a new Unicode PST file (512-byte or 4 KB pages) and fills it with folders
// and messages.
//
// Create writes the minimum store (store object, name-to-id map, root folder, "Top of
// Personal Folders", "Deleted Items", "Search Root", the search management nodes and the table
// templates) and commits it. Folders and messages are written to disk as they are added; only
// indexes (block and node trees, allocation maps, the rows of folder tables) stay in memory.
//
// Durability: Commit makes everything added so far durable. Data and trees go to disk and are
// synced first, the header last, so a file cut off at any moment (a kill, a full disk) is a
// valid PST holding everything of the last commit. Commit runs by itself every
// checkpoint_bytes of new data; Close commits a last time.
//
// Errors: file I/O throws CFileException (with the path; diskFull for a full disk). After a
// failure the writer refuses further work; the file keeps its last committed state.
// Not thread-safe: one thread drives a writer.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "format/block_crypt.h"
#include "platform/file64.h"
#include "pststore/pst/block_store.h"
#include "format/header.h"
#include "format/layout.h"
#include "pststore/pst/message_spec.h"
#include "pststore/pst/name_map.h"
#include "pststore/pst/store_writer.h"

namespace salvora::pst {

// A folder id of the PST writer is the folder's NID.

struct PstOptions {
  // The file's layout: Unicode with 512-byte pages (wVer 23), or with 4 KB pages and
  // zlib-compressed blocks (wVer 36, the layout of today's offline stores). Create only; Open
  // keeps the file's.
  FileLayout layout = FileLayout::kUnicode;
  std::string display_name = "Personal Folders";
  CryptMethod crypt = CryptMethod::kPermute;
  bool offline_client = false;  // wMagicClient "SO" instead of "SM"
  // The store's record key (provider UID); random when left zero.
  std::array<std::uint8_t, 16> record_key{};
  // FILETIME used for objects created without times; 0 means the current time.
  std::uint64_t now = 0;
  std::uint64_t checkpoint_bytes = 256ull << 20;
  // Seed of the generated search keys; 0 draws one at random. A fixed seed with a fixed record
  // key and time makes the file a function of its content.
  std::uint64_t random_seed = 0;
  // Create fails (EEXIST) instead of replacing a file already at the path: a new store never
  // takes the place of another.
  bool keep_existing = false;
};

struct PstWriterStats {
  std::uint64_t messages = 0;
  std::uint64_t folders = 0;
  std::uint64_t commits = 0;
  std::uint64_t bytes_written = 0;  // block bytes, trailers and padding included
  std::uint64_t file_size = 0;
  // Memory held now: the rows of folder tables (which grow with the messages), and the indexes
  // (leaf directory and resident leaves of both B-trees, allocation maps in memory).
  std::uint64_t row_bytes = 0;
  std::uint64_t index_bytes = 0;
};

class PstWriter : public StoreWriter {
 public:
  // Creates (or, unless options.keep_existing, replaces) the file and commits the minimum store.
  // The file is written as path + ".partial", created new (never through a link at that name)
  // with mode 0600, and takes its name once whole. Throws CFileException.
  static std::unique_ptr<PstWriter> Create(const std::string& path, const PstOptions& options);
  // Opens an existing Unicode PST (ours or Outlook's) to add to it; everything in it is kept.
  // Its encoding and client stay the file's; of the options only checkpoint_bytes and now
  // count. root_folder() holds; ipm_subtree(), deleted_items() and search_root() name the
  // folders of a store made by Create: read an opened store's own from its entry ids.
  // Throws CFileException, or std::runtime_error for a file it will not change (damaged trees
  // or maps, an unknown layout). (pst_opener.cpp)
  static std::unique_ptr<PstWriter> Open(const std::string& path, const PstOptions& options);
  ~PstWriter() override;
  PstWriter(const PstWriter&) = delete;
  PstWriter& operator=(const PstWriter&) = delete;

  FolderId root_folder() const override;
  FolderId ipm_subtree() const override;
  FolderId deleted_items() const override;
  FolderId search_root() const;

  // A new folder under parent (any depth). container_class may be empty ("IPF.Note" etc.).
  FolderId AddFolder(FolderId parent, std::string_view name, std::string_view container_class) override;
  // Sets further properties of a folder (comment, hidden counts...). Counts and the subfolder
  // flag are always computed by the writer.
  void SetFolderProperties(FolderId folder, const PropertyList& props) override;
  // Sets further properties of the store object (0x21), e.g. a display name.
  void SetStoreProperties(const PropertyList& props) override;
  // The folder new mail is delivered to (the receive-folder table, node 0x62B): the Inbox once
  // there is one. A new store names the root folder, as Outlook does.
  void SetReceiveFolder(FolderId folder) override;
  // The property id (0x8000 and up) of a named property, registered when new.
  std::uint16_t RegisterName(const PropertyName& name) override;
  // Writes a message into a folder and returns its NID. The message is taken by value: a caller
  // done with it moves it in, and its bodies and attachment data are not copied.
  std::uint32_t AddMessage(FolderId folder, MessageSpec message) override;

  void Commit() override;
  // Commits and closes the file. The destructor closes without committing.
  void Close() override;

  const std::string& path() const;
  // True once a write or commit failed: the file keeps its last commit and every later call
  // fails.
  bool failed() const override;
  PstWriterStats stats() const;
  std::uint64_t projected_size() const override;

  struct Impl;  // opaque outside the writer's own sources

 private:
  explicit PstWriter(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// 24-byte entry id of an object in a store with this record key (MS-PST 2.4.3.2).
std::vector<std::uint8_t> make_entry_id(const std::array<std::uint8_t, 16>& record_key, std::uint32_t nid);

}  // namespace salvora::pst
