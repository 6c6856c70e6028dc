#include "fuzz_input.h"

#include <algorithm>

namespace salvora::fuzz {
namespace {

// A little-endian cursor that never reads past the input: a short field reads as what is there.
class Cursor {
 public:
  explicit Cursor(std::span<const std::uint8_t> data) : data_(data) {}
  bool done() const { return pos_ >= data_.size(); }
  std::uint32_t Le(std::size_t width) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < width && pos_ < data_.size(); ++i) v |= std::uint32_t{data_[pos_++]} << (8 * i);
    return v;
  }
  std::span<const std::uint8_t> Take(std::size_t n) {
    n = std::min(n, data_.size() - pos_);
    auto out = data_.subspan(pos_, n);
    pos_ += n;
    return out;
  }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

void PutLe(Blob& out, std::uint32_t v, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

HeapInput HeapInput::Decode(std::span<const std::uint8_t> data) {
  HeapInput in;
  Cursor c(data);
  const std::uint32_t flags = c.Le(1);
  in.wide_hids = (flags & 1) != 0;
  in.attachment_object = (flags & 2) != 0;
  while (!c.done()) {
    const std::uint32_t tag = c.Le(1);
    if (tag == 0) {
      const auto bytes = c.Take(c.Le(3));
      in.heap.emplace_back(bytes.begin(), bytes.end());
    } else if (tag == 1) {
      const std::uint32_t nid = c.Le(4);
      const auto bytes = c.Take(c.Le(3));
      in.subnodes[nid].emplace_back(bytes.begin(), bytes.end());
    } else {
      break;
    }
  }
  return in;
}

Blob HeapInput::Encode() const {
  Blob out;
  out.push_back(static_cast<std::uint8_t>((wide_hids ? 1 : 0) | (attachment_object ? 2 : 0)));
  for (const Blob& b : heap) {
    out.push_back(0);
    PutLe(out, static_cast<std::uint32_t>(b.size()), 3);
    out.insert(out.end(), b.begin(), b.end());
  }
  for (const auto& [nid, blocks] : subnodes) {
    for (const Blob& b : blocks) {
      out.push_back(1);
      PutLe(out, nid, 4);
      PutLe(out, static_cast<std::uint32_t>(b.size()), 3);
      out.insert(out.end(), b.begin(), b.end());
    }
  }
  return out;
}

TwoStreams TwoStreams::Decode(std::span<const std::uint8_t> data) {
  Cursor c(data);
  TwoStreams s;
  s.first = c.Take(c.Le(4));
  s.second = c.Take(data.size());
  return s;
}

Blob TwoStreams::Encode(std::span<const std::uint8_t> first, std::span<const std::uint8_t> second) {
  Blob out;
  PutLe(out, static_cast<std::uint32_t>(first.size()), 4);
  out.insert(out.end(), first.begin(), first.end());
  out.insert(out.end(), second.begin(), second.end());
  return out;
}

}  // namespace salvora::fuzz
