#include "pststore/pst/row_list.h"

#include <cstdio>
#include <stdexcept>
#include <string>

#include "format/byte_reader.h"
#include "format/byte_writer.h"
#include "platform/temp_folder.h"

namespace salvora::pst {

namespace {

// Rows held in memory before they go to the spill file. Every folder's list holds up to this
// much, so it stays small: a mailbox of a thousand folders holds 64 MB at most.
constexpr std::size_t kHeldLimit = 64u << 10;

}  // namespace

void RowList::push_back(PackedRow row) {
  if (stand_ins_) assign_empty(0);
  const auto& blob = row.cells.blob();
  if (count_ % kMarkEvery == 0) marks_.push_back(spilled_ + held_.size());
  if (count_ > 0 && row.row_id <= last_id_) ids_ascending_ = false;
  last_id_ = row.row_id;
  ++count_;
  const std::uint32_t size = static_cast<std::uint32_t>(blob.size());
  std::uint8_t head[kHeadSize];
  store_u32(head, 0, row.row_id);
  store_u32(head, 4, size);
  held_.insert(held_.end(), head, head + kHeadSize);
  held_.insert(held_.end(), blob.begin(), blob.end());
  if (held_.size() >= kHeldLimit && !no_spill_) Spill();
}

void RowList::assign_empty(std::size_t n) {
  count_ = n;
  stand_ins_ = n > 0;
  ids_ascending_ = true;
  last_id_ = 0;
  marks_.clear();
  cursor_row_ = 0;
  cursor_offset_ = 0;
  held_.clear();
  spilled_ = 0;
  spill_.reset();
}

void RowList::Spill() {
  if (!spill_) {
    const std::string path = new_temp_file_path("rows");
    auto file = std::make_unique<CFile64>();
    CFileException error;
    if (path.empty() || !file->Open(path, CFile64::Access::kCreateNew, CFile64::Lock::kNone, &error)) {
      no_spill_ = true;
      return;
    }
    // Open and gone from the folder: the file lives as long as this list, and no longer.
    std::remove(path.c_str());
    spill_ = std::move(file);
  }
  try {
    spill_->WriteAt(spilled_, held_.data(), held_.size());
  } catch (const CFileException&) {
    // A full temporary folder costs memory, not the PST: the rows stay here from now on.
    no_spill_ = true;
    return;
  }
  spilled_ += held_.size();
  // The buffer itself goes too: a folder that is done must not keep its last chunk's room.
  std::vector<std::uint8_t>().swap(held_);
}

void RowList::ReadStream(std::uint64_t offset, std::uint8_t* out, std::size_t size) const {
  if (size == 0) return;
  if (offset >= spilled_) {
    const auto from = held_.begin() + static_cast<std::ptrdiff_t>(offset - spilled_);
    std::copy(from, from + static_cast<std::ptrdiff_t>(size), out);
  } else if (spill_->ReadAt(offset, out, size) != size) {
    throw CFileException(CFileException::endOfFile, 0, "the spilled table rows");
  }
}

RowList::Head RowList::HeadAt(std::uint64_t offset) const {
  std::uint8_t bytes[kHeadSize];
  ReadStream(offset, bytes, kHeadSize);
  return Head{load_u32(bytes, 0), load_u32(bytes, 4)};
}

std::uint64_t RowList::OffsetOf(std::size_t i) const {
  std::size_t row = (i / kMarkEvery) * kMarkEvery;
  std::uint64_t offset = marks_[i / kMarkEvery];
  if (cursor_row_ <= i && cursor_row_ >= row) {
    row = cursor_row_;
    offset = cursor_offset_;
  }
  for (; row < i; ++row) offset += kHeadSize + HeadAt(offset).size;
  cursor_row_ = i;
  cursor_offset_ = offset;
  return offset;
}

PackedRow RowList::at(std::size_t i) const {
  if (i >= count_) throw std::out_of_range("RowList::at");
  if (stand_ins_) return PackedRow{0, PackedProps::FromBlob({})};
  const std::uint64_t offset = OffsetOf(i);
  const Head head = HeadAt(offset);
  std::vector<std::uint8_t> blob(head.size);
  ReadStream(offset + kHeadSize, blob.data(), blob.size());
  return PackedRow{head.row_id, PackedProps::FromBlob(std::move(blob))};
}

std::size_t RowList::memory_bytes() const { return marks_.capacity() * sizeof(std::uint64_t) + held_.capacity(); }

}  // namespace salvora::pst
