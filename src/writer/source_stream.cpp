#include "writer/source_stream.h"

#include <algorithm>
#include <cstring>

namespace salvora {

SourceValueStream::SourceValueStream(const OstContext& context, Bid data_bid) : context_(context) {
  auto list = ValueBlocks(context, data_bid);
  if (!list) {
    failed_ = true;
    return;
  }
  blocks_ = std::move(list->blocks);
  // A tree read only in part gives the blocks before the damage, and then fails.
  complete_ = list->complete;
  if (!complete_) return;
  // The index knows every block's size before a byte of data is read.
  std::uint64_t total = 0;
  for (const Bid bid : blocks_) {
    const auto entry = FindBlock(context, bid);
    if (!entry) return;
    total += entry->cb_inflated;
  }
  size_ = total;
}

bool SourceValueStream::next_block() {
  while (offset_ == current_.size()) {
    if (failed_) return false;
    if (next_ == blocks_.size()) {
      failed_ = !complete_;
      return false;
    }
    auto block = ReadBlockDecoded(context_, blocks_[next_++]);
    if (!block) {
      failed_ = true;
      return false;
    }
    current_ = std::move(*block);
    offset_ = 0;
  }
  return true;
}

std::size_t SourceValueStream::read(std::span<std::uint8_t> buffer) {
  std::size_t got = 0;
  while (got < buffer.size() && next_block()) {
    const std::size_t n = std::min(buffer.size() - got, current_.size() - offset_);
    std::memcpy(buffer.data() + got, current_.data() + offset_, n);
    offset_ += n;
    got += n;
  }
  return got;
}

std::shared_ptr<const ValueReadAhead> SourceValueStream::ReadAhead(const OstContext& context, Bid data_bid,
                                                                  std::uint64_t max_bytes) {
  SourceValueStream stream(context, data_bid);
  if (!stream.size_ || *stream.size_ > max_bytes) return nullptr;
  auto value = std::make_shared<ValueReadAhead>();
  value->size = stream.size_;
  value->bytes.resize(static_cast<std::size_t>(*stream.size_));
  value->bytes.resize(stream.read(value->bytes));
  value->failed = stream.failed();
  return value;
}

std::size_t ReadAheadStream::read(std::span<std::uint8_t> buffer) {
  const std::size_t n = std::min(buffer.size(), value_->bytes.size() - offset_);
  std::memcpy(buffer.data(), value_->bytes.data() + offset_, n);
  offset_ += n;
  return n;
}

}  // namespace salvora
