#include "content/heap_builder.h"

#include <algorithm>

namespace salvora::testing {

namespace {
void put(Bv& out, const Bv& v) { out.insert(out.end(), v.begin(), v.end()); }
}  // namespace

Bv le16(std::uint16_t v) { return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}; }
Bv le32(std::uint32_t v) {
  Bv o;
  for (int i = 0; i < 4; ++i) o.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return o;
}
Bv le64(std::uint64_t v) {
  Bv o;
  for (int i = 0; i < 8; ++i) o.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return o;
}
Bv utf16(std::u16string_view s) {
  Bv o;
  for (char16_t c : s) put(o, le16(static_cast<std::uint16_t>(c)));
  return o;
}
Bv bytes(std::string_view s) { return Bv(s.begin(), s.end()); }

std::uint32_t builder_hid(std::uint32_t index, std::uint32_t block, HidLayout layout) {
  return layout == HidLayout::kWide ? (block << 19) | (index << 5) : (block << 16) | (index << 5);
}

std::uint32_t HeapBuilder::Add(const Bv& data) {
  blocks_.back().push_back(data);
  return builder_hid(static_cast<std::uint32_t>(blocks_.back().size()),
                  static_cast<std::uint32_t>(blocks_.size() - 1), layout_);
}

std::vector<Bv> HeapBuilder::Build() const {
  std::vector<Bv> out;
  for (std::size_t b = 0; b < blocks_.size(); ++b) {
    Bv block;
    if (b == 0) {
      block = {0, 0, 0xEC, client_};
      put(block, le32(user_root_));
      put(block, le32(0));  // fill levels
    } else if (b % 128 == 8) {
      block.assign(66, 0);  // HNBITMAPHDR
    } else {
      block.assign(2, 0);  // HNPAGEHDR
    }
    std::vector<std::uint16_t> offsets{static_cast<std::uint16_t>(block.size())};
    for (const auto& a : blocks_[b]) {
      put(block, a);
      offsets.push_back(static_cast<std::uint16_t>(block.size()));
    }
    if (block.size() % 2) block.push_back(0);
    const auto ib = static_cast<std::uint16_t>(block.size());
    block[0] = static_cast<std::uint8_t>(ib);
    block[1] = static_cast<std::uint8_t>(ib >> 8);
    put(block, le16(static_cast<std::uint16_t>(blocks_[b].size())));
    put(block, le16(0));
    for (auto o : offsets) put(block, le16(o));
    out.push_back(std::move(block));
  }
  return out;
}

void PcBuilder::Add(std::uint16_t id, std::uint16_t type, const Bv& value) {
  const bool in_place = (type == 0x0002 || type == 0x0003 || type == 0x0004 || type == 0x000A ||
                         type == 0x000B);
  if (in_place) {
    Bv v = value;
    v.resize(4, 0);
    Bv rec = le16(id);
    put(rec, le16(type));
    put(rec, v);
    records_[id] = rec;
    return;
  }
  AddRef(id, type, heap_.Add(value));
}

void PcBuilder::AddRef(std::uint16_t id, std::uint16_t type, std::uint32_t ref) {
  Bv rec = le16(id);
  put(rec, le16(type));
  put(rec, le32(ref));
  records_[id] = rec;
}

std::vector<Bv> PcBuilder::Build(std::size_t leaf_size) {
  std::vector<Bv> recs;
  for (const auto& [id, r] : records_) recs.push_back(r);
  std::uint8_t levels = 0;
  std::uint32_t root = 0;
  if (leaf_size == 0 || recs.size() <= leaf_size) {
    Bv all;
    for (const auto& r : recs) put(all, r);
    root = recs.empty() ? 0 : heap_.Add(all);
  } else {
    // Level by level: each allocation of index records points at up to leaf_size children.
    std::vector<std::pair<std::uint16_t, std::uint32_t>> level;  // first key, hid
    for (std::size_t i = 0; i < recs.size(); i += leaf_size) {
      Bv leaf;
      for (std::size_t j = i; j < std::min(recs.size(), i + leaf_size); ++j) put(leaf, recs[j]);
      level.emplace_back(static_cast<std::uint16_t>(recs[i][0] | (recs[i][1] << 8)), heap_.Add(leaf));
    }
    while (level.size() > 1 || levels == 0) {
      ++levels;
      std::vector<std::pair<std::uint16_t, std::uint32_t>> up;
      for (std::size_t i = 0; i < level.size(); i += leaf_size) {
        Bv idx;
        for (std::size_t j = i; j < std::min(level.size(), i + leaf_size); ++j) {
          put(idx, le16(level[j].first));
          put(idx, le32(level[j].second));
        }
        up.emplace_back(level[i].first, heap_.Add(idx));
      }
      level = up;
    }
    root = level[0].second;
  }
  Bv header{0xB5, 2, 6, levels};
  put(header, le32(root));
  heap_.SetUserRoot(heap_.Add(header));
  return heap_.Build();
}

TcBuilder::TcBuilder(std::vector<TcColumnDesc> columns, bool ansi) : heap_(0x7C), ansi_(ansi) {
  columns.insert(columns.begin(), {{0x67F2, 0x0003, 4}, {0x67F3, 0x0003, 4}});
  std::uint16_t off = 0;
  std::uint8_t bit = 0;
  for (int group : {8, 4, 2, 1}) {
    for (const auto& c : columns) {
      if (c.width != group) continue;
      columns_.push_back({c, off, bit++});
      off = static_cast<std::uint16_t>(off + c.width);
    }
    if (group == 4) end4_ = off;
    if (group == 2) end2_ = off;
    if (group == 1) end1_ = off;
  }
  // Row id and version take bits 0 and 1 as MS-PST asks; the other columns follow.
  std::stable_sort(columns_.begin(), columns_.end(), [](const Column& a, const Column& b) {
    auto rank = [](const Column& c) { return c.desc.id == 0x67F2 ? 0 : c.desc.id == 0x67F3 ? 1 : 2; };
    return rank(a) < rank(b);
  });
  for (std::size_t i = 0; i < columns_.size(); ++i) columns_[i].bit = static_cast<std::uint8_t>(i);
  row_size_ = end1_ + (columns_.size() + 7) / 8;
}

void TcBuilder::AddRow(std::uint32_t row_id, const std::map<std::uint16_t, std::uint64_t>& cells) {
  auto all = cells;
  all[0x67F2] = row_id;
  all[0x67F3] = 1;
  rows_.emplace_back(row_id, all);
}

Bv TcBuilder::RowBytes(std::size_t i) const {
  Bv row(row_size_, 0);
  for (const auto& c : columns_) {
    auto it = rows_[i].second.find(c.desc.id);
    if (it == rows_[i].second.end()) continue;
    for (std::size_t k = 0; k < c.desc.width; ++k) {
      row[c.offset + k] = static_cast<std::uint8_t>(it->second >> (8 * k));
    }
    row[end1_ + c.bit / 8] = static_cast<std::uint8_t>(row[end1_ + c.bit / 8] | (0x80 >> (c.bit % 8)));
  }
  return row;
}

std::vector<Bv> TcBuilder::Finish(std::uint32_t rows_ref) {
  Bv index;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    put(index, le32(rows_[i].first));
    if (ansi_) put(index, le16(static_cast<std::uint16_t>(i)));
    else put(index, le32(static_cast<std::uint32_t>(i)));
  }
  const std::uint32_t index_root = rows_.empty() ? 0 : heap_.Add(index);
  Bv bth{0xB5, 4, static_cast<std::uint8_t>(ansi_ ? 2 : 4), 0};
  put(bth, le32(index_root));
  const std::uint32_t bth_hid = heap_.Add(bth);
  Bv info{0x7C, static_cast<std::uint8_t>(columns_.size())};
  put(info, le16(end4_));
  put(info, le16(end2_));
  put(info, le16(end1_));
  put(info, le16(static_cast<std::uint16_t>(row_size_)));
  put(info, le32(bth_hid));
  put(info, le32(rows_ref));
  put(info, le32(0));
  auto sorted = columns_;
  std::sort(sorted.begin(), sorted.end(), [](const Column& a, const Column& b) {
    return (std::uint32_t{a.desc.id} << 16 | a.desc.type) < (std::uint32_t{b.desc.id} << 16 | b.desc.type);
  });
  for (const auto& c : sorted) {
    put(info, le16(c.desc.type));
    put(info, le16(c.desc.id));
    put(info, le16(c.offset));
    info.push_back(c.desc.width);
    info.push_back(c.bit);
  }
  heap_.SetUserRoot(heap_.Add(info));
  return heap_.Build();
}

std::vector<Bv> TcBuilder::Build() {
  Bv matrix;
  for (std::size_t i = 0; i < rows_.size(); ++i) put(matrix, RowBytes(i));
  const std::uint32_t ref = rows_.empty() ? 0 : heap_.Add(matrix);
  return Finish(ref);
}

std::vector<Bv> TcBuilder::BuildWithSubnodeMatrix(std::uint32_t matrix_nid,
                                                  const std::vector<std::size_t>& rows_per_block,
                                                  const std::vector<std::size_t>& pad,
                                                  std::vector<Bv>& matrix_blocks) {
  std::size_t next = 0;
  for (std::size_t b = 0; b < rows_per_block.size(); ++b) {
    Bv block;
    for (std::size_t k = 0; k < rows_per_block[b] && next < rows_.size(); ++k) put(block, RowBytes(next++));
    block.resize(block.size() + (b < pad.size() ? pad[b] : 0), 0xAA);
    matrix_blocks.push_back(block);
  }
  return Finish(matrix_nid);
}

}  // namespace salvora::testing
