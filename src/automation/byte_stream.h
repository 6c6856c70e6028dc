#pragma once
// A byte stream that travels through the call boundary where a file path would otherwise go,
// as an object model hands a reader a stream object instead of a file. The caller keeps its
// bytes where they are (in memory, or in the blocks of the source file) and the server reads
// them as it needs, so no temporary file is written and read back.
//
// A server that knows streams reads them through read(); any other caller can use the late-
// bound members kStreamRead and kStreamSize. A stream is read once, front to back.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "automation/dispatch.h"

namespace salvora {

class ByteStream : public Dispatch {
 public:
  // Up to buffer.size() bytes; 0 at the end, or when the bytes could not be read (failed()).
  virtual std::size_t read(std::span<std::uint8_t> buffer) = 0;
  // The bytes in all, when known before reading.
  virtual std::optional<std::uint64_t> size() const = 0;
  // True when reading stopped because the source could not deliver the rest.
  virtual bool failed() const { return false; }

  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;
};

// The stream passed as an argument, or null when the argument is something else.
std::shared_ptr<ByteStream> byte_stream_of(const Variant& value);

// Bytes already in memory. The stream keeps its own copy.
class MemoryStream : public ByteStream {
 public:
  explicit MemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}
  std::size_t read(std::span<std::uint8_t> buffer) override;
  std::optional<std::uint64_t> size() const override { return bytes_.size(); }

 private:
  std::string bytes_;
  std::size_t offset_ = 0;
};

}  // namespace salvora
