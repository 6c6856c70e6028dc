#include "pststore/pst/row_list.h"

#include <cstdio>
#include <string>

#include "platform/temp_folder.h"

namespace salvora::pst {

namespace {

// Rows held in memory before they go to the spill file. Every folder's list holds up to this
// much, so it stays small: a mailbox of a thousand folders holds 64 MB at most.
constexpr std::size_t kHeldLimit = 64u << 10;

}  // namespace

void RowList::push_back(PackedRow row) {
  const auto& blob = row.cells.blob();
  if (places_.size() % kMarkEvery == 0) marks_.push_back(spilled_ + held_.size());
  places_.push_back(Place{row.row_id, static_cast<std::uint32_t>(blob.size())});
  held_.insert(held_.end(), blob.begin(), blob.end());
  if (held_.size() >= kHeldLimit && !no_spill_) Spill();
}

void RowList::assign_empty(std::size_t n) {
  places_.assign(n, Place{});
  marks_.assign((n + kMarkEvery - 1) / kMarkEvery, 0);
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

std::uint64_t RowList::OffsetOf(std::size_t i) const {
  std::size_t row = (i / kMarkEvery) * kMarkEvery;
  std::uint64_t offset = marks_[i / kMarkEvery];
  if (cursor_row_ <= i && cursor_row_ >= row) {
    row = cursor_row_;
    offset = cursor_offset_;
  }
  for (; row < i; ++row) offset += places_[row].size;
  cursor_row_ = i;
  cursor_offset_ = offset;
  return offset;
}

PackedRow RowList::at(std::size_t i) const {
  const Place& p = places_.at(i);
  std::vector<std::uint8_t> blob(p.size);
  if (p.size > 0) {
    const std::uint64_t offset = OffsetOf(i);
    if (offset >= spilled_) {
      const auto from = held_.begin() + static_cast<std::ptrdiff_t>(offset - spilled_);
      std::copy(from, from + p.size, blob.begin());
    } else if (spill_->ReadAt(offset, blob.data(), blob.size()) != blob.size()) {
      throw CFileException(CFileException::endOfFile, 0, "the spilled table rows");
    }
  }
  return PackedRow{p.row_id, PackedProps::FromBlob(std::move(blob))};
}

std::size_t RowList::memory_bytes() const {
  return places_.size() * sizeof(Place) + marks_.capacity() * sizeof(std::uint64_t) + held_.capacity();
}

}  // namespace salvora::pst
