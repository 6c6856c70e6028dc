#include "automation/byte_stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "automation/member_ids.h"

namespace salvora {

namespace {

// The most one late-bound read hands back: a caller asking for more gets it in several calls.
constexpr std::int32_t kMaxReadPerCall = 1 << 20;

}  // namespace

Variant ByteStream::invoke(MemberId member, InvokeKind kind, Arguments arguments) {
  switch (member) {
    case dispid::kStreamRead:
      if (kind == InvokeKind::kMethod) {
        require_argument_count(member, arguments, 1, 1);
        const std::int32_t count = int32_argument(member, arguments, 0);
        if (count < 0) throw AutomationError(AutomationError::Code::kBadArgument, member, "argument 1 is negative");
        std::vector<std::uint8_t> out(static_cast<std::size_t>(std::min(count, kMaxReadPerCall)));
        std::size_t got = 0;
        while (got < out.size()) {
          const std::size_t n = read(std::span<std::uint8_t>(out).subspan(got));
          if (n == 0) break;
          got += n;
        }
        out.resize(got);
        return Variant::Bytes(std::move(out));
      }
      break;
    case dispid::kStreamSize:
      if (kind == InvokeKind::kGet) {
        const auto n = size();
        return n ? Variant::Int64(static_cast<std::int64_t>(*n)) : Variant();
      }
      break;
    default: break;
  }
  throw_unknown_member(member, kind);
}

std::shared_ptr<ByteStream> byte_stream_of(const Variant& value) {
  return std::dynamic_pointer_cast<ByteStream>(value.dispatch_value());
}

std::size_t MemoryStream::read(std::span<std::uint8_t> buffer) {
  const std::size_t n = std::min(buffer.size(), bytes_.size() - offset_);
  if (n > 0) std::memcpy(buffer.data(), bytes_.data() + offset_, n);
  offset_ += n;
  return n;
}

}  // namespace salvora
