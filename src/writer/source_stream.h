#pragma once
// An attachment's bytes read straight from the blocks of the source file, one block at a time,
// handed to the store as a stream instead of a temporary file.

#include <cstdint>
#include <optional>
#include <vector>

#include <memory>

#include "automation/byte_stream.h"
#include "engine/source_object.h"
#include "ndb/block_reader.h"

namespace salvora {

class SourceValueStream : public ByteStream {
 public:
  // The value stored under data_bid; the context must outlive the stream.
  SourceValueStream(const OstContext& context, Bid data_bid);

  std::size_t read(std::span<std::uint8_t> buffer) override;
  std::optional<std::uint64_t> size() const override { return size_; }
  bool failed() const override { return failed_; }

  // The value read whole now, as a stream of it would deliver it, when the index says it is at
  // most max_bytes; null (and nothing read) when it is larger or its size is not known.
  static std::shared_ptr<const ValueReadAhead> ReadAhead(const OstContext& context, Bid data_bid, std::uint64_t max_bytes);

 private:
  bool next_block();

  const OstContext& context_;
  std::vector<Bid> blocks_;
  std::size_t next_ = 0;
  ByteVector current_;
  std::size_t offset_ = 0;
  std::optional<std::uint64_t> size_;
  bool complete_ = true;  // the data tree was read whole
  bool failed_ = false;
};

// A value read ahead, delivered as its stream would have delivered it.
class ReadAheadStream : public ByteStream {
 public:
  explicit ReadAheadStream(std::shared_ptr<const ValueReadAhead> value) : value_(std::move(value)) {}
  std::size_t read(std::span<std::uint8_t> buffer) override;
  std::optional<std::uint64_t> size() const override { return value_->size; }
  bool failed() const override { return value_->failed && offset_ == value_->bytes.size(); }

 private:
  std::shared_ptr<const ValueReadAhead> value_;
  std::size_t offset_ = 0;
};

}  // namespace salvora
