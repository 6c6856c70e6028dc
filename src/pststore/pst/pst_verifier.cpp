#include "pststore/pst/pst_verifier.h"

#include <algorithm>
#include <map>
#include <unordered_set>

#include "format/page.h"
#include "pststore/pst/disk_layout.h"
#include "pststore/pst/pst_file_reader.h"
#include "pststore/pst/verifier_objects.h"

namespace salvora::pst {

namespace {

class NdbChecks {
 public:
  NdbChecks(PstFileReader& r, VerifyResult& out) : r_(r), out_(out) {}

  void Header() {
    const PstHeader& h = r_.header().header;
    const SpaceGeometry& g = r_.space();
    if (h.file_eof < g.amap_offset(1) || (h.file_eof - g.first_amap) % g.coverage() != 0)
      Fail("header: ibFileEof " + hex(h.file_eof) + " is not the end of an allocation interval");
    if (h.file_eof > r_.file_size()) Fail("header: ibFileEof is past the end of the file");
    if (h.file_eof >= g.amap_offset(1) && h.amap_last != h.file_eof - g.coverage())
      Fail(field_mismatch("header: ibAMapLast", hex(h.amap_last), hex(h.file_eof - g.coverage()) + ", the last AMap page"));
    if (r_.file_size() > h.file_eof)
      out_.notes.push_back("file is " + std::to_string(r_.file_size() - h.file_eof) + " bytes longer than ibFileEof (left over from an interrupted write)");
  }

  // Reads every block, counts the references that internal blocks and nodes hold, and checks
  // each block's cRef against them.
  void BlocksAndReferences() {
    std::map<Bid, std::uint32_t> refs;
    Bid max_bid;
    for (const auto& [key, e] : r_.blocks()) {
      max_bid = std::max(max_bid, key);
      auto data = r_.ReadBlock(key);
      if (!data || !key.is_internal()) continue;
      if (!data->empty() && (*data)[0] == kBlockTypeDataTree) {
        if (auto x = XBlock::Parse(*data, r_.layout(), Tolerance::kStrict)) {
          for (auto b : x->bids) ++refs[Bid(b).key()];
        } else {
          Fail("block " + hex(key) + ": malformed XBLOCK/XXBLOCK");
        }
      } else if (!data->empty() && (*data)[0] == kBlockTypeSubnodes) {
        if (auto s = SubnodeBlock::Parse(*data, r_.layout(), Tolerance::kStrict)) {
          for (const auto& e2 : s->entries) {
            ++refs[Bid(e2.bid_data).key()];
            if (s->level == 0 && e2.bid_sub != 0) ++refs[Bid(e2.bid_sub).key()];
          }
        } else {
          Fail("block " + hex(key) + ": malformed SLBLOCK/SIBLOCK");
        }
      } else {
        Fail("block " + hex(key) + ": internal block of unknown type");
      }
    }
    for (const auto& [nid, n] : r_.nodes()) {
      if (n.bid_data != 0) ++refs[Bid(n.bid_data).key()];
      if (n.bid_sub != 0) ++refs[Bid(n.bid_sub).key()];
    }
    for (const auto& [bid, count] : refs) {
      auto it = r_.blocks().find(bid);
      if (it == r_.blocks().end()) {
        Fail("block " + hex(bid) + ": referenced " + std::to_string(count) + " time(s) but not in the block tree");
      } else if (it->second.cref != count + 1) {
        Fail(field_mismatch("block " + hex(bid) + ": cRef", it->second.cref, count + 1));
      }
    }
    for (const auto& [bid, e] : r_.blocks())
      if (!refs.count(bid)) Fail("block " + hex(bid) + ": in the block tree but referenced by nothing");
    if (r_.header().header.bid_next_b <= max_bid.value)
      Fail(field_mismatch("header: bidNextB", hex(r_.header().header.bid_next_b), "above " + hex(max_bid.value) + ", the highest block id"));
    std::array<std::uint32_t, 32> highest{};
    for (const auto& [nid, n] : r_.nodes()) highest[nid.type()] = std::max(highest[nid.type()], nid.index());
    for (std::size_t t = 0; t < 32; ++t)
      if (highest[t] >= kFirstUserNidIndex && r_.header().header.rgnid[t] < highest[t])
        Fail(field_mismatch("header: rgnid[" + std::to_string(t) + "]", hex(r_.header().header.rgnid[t]),
                      "at least " + hex(highest[t]) + ", the highest NID index in use"));
  }

  void AllocationMaps() {
    const PstHeader& h = r_.header().header;
    const SpaceGeometry& g = r_.space();
    if (h.file_eof < g.amap_offset(1) || h.file_eof > r_.file_size()) return;
    const std::uint64_t count = g.interval_of(h.file_eof - 1) + 1;
    std::vector<std::vector<std::uint8_t>> want(count, std::vector<std::uint8_t>(g.map_bytes, 0));
    std::uint64_t overlaps = 0;
    auto mark = [&](std::uint64_t ib, std::uint64_t size, const std::string& what) {
      if (ib < g.first_amap || ib + size > h.file_eof) {
        Fail(what + " at " + hex(ib) + " lies outside the mapped part of the file");
        return;
      }
      for (std::uint64_t at = ib; at < ib + size; at += g.slot_size) {
        const std::uint64_t k = g.interval_of(at);
        const std::uint64_t slot = (at - g.amap_offset(k)) / g.slot_size;
        auto& byte = want[k][slot / 8];
        const auto bit = map_slot_mask(slot);
        if (byte & bit) {
          if (overlaps++ < 20) Fail(what + " at " + hex(ib) + " overlaps space already in use");
        }
        byte = static_cast<std::uint8_t>(byte | bit);
      }
    };
    for (std::uint64_t k = 0; k < count; ++k) {
      mark(g.amap_offset(k), g.reserved_map_bytes(k), "map pages");
      CheckMapPage(g.amap_offset(k), kPtypeAMap, "AMap");
      if (g.has_pmap(k)) CheckMapPage(g.pmap_offset(k), kPtypePMap, "PMap");
      if (g.has_fmap(k)) CheckMapPage(g.fmap_offset(k), kPtypeFMap, "FMap");
      if (g.has_fpmap(k)) CheckMapPage(g.fpmap_offset(k), kPtypeFPMap, "FPMap");
    }
    for (auto ib : r_.pages()) mark(ib, g.page_size, "B-tree page");
    for (const auto& [bid, e] : r_.blocks()) mark(e.ib, g.block_disk_size(e.cb), "block " + hex(bid));
    if (h.amap_valid != 2) {
      out_.notes.push_back("allocation maps are marked not valid (fAMapValid 0): a reader rebuilds them; their bits were not compared");
      return;
    }
    std::uint64_t free_slots = 0;
    for (std::uint64_t k = 0; k < count; ++k) {
      const auto raw = r_.ReadRaw(g.amap_offset(k), g.page_size);
      if (raw.size() < g.page_size) continue;
      std::uint64_t leaked = 0, unmarked = 0;
      for (std::uint64_t s = 0; s < g.map_bytes * 8; ++s) {
        const bool have = map_slot_set(raw, s);
        const bool need = map_slot_set(want[k], s);
        if (!have) ++free_slots;
        if (have && !need) ++leaked;
        if (!have && need) ++unmarked;
      }
      if (unmarked) Fail("AMap at " + hex(g.amap_offset(k)) + ": " + std::to_string(unmarked) + " slot(s) in use are marked free");
      if (leaked) Fail("AMap at " + hex(g.amap_offset(k)) + ": " + std::to_string(leaked) + " slot(s) marked allocated hold nothing");
    }
    if (free_slots * g.slot_size != h.amap_free)
      Fail(field_mismatch("header: cbAMapFree", h.amap_free, free_slots * g.slot_size));
  }

 private:
  void Fail(const std::string& s) { out_.violations.push_back(s); }
  void CheckMapPage(std::uint64_t ib, std::uint8_t ptype, const char* name) {
    const auto raw = r_.ReadRaw(ib, r_.space().page_size);
    for (const auto& p : check_page_trailer(raw, ptype, ib, ib, false, r_.layout())) Fail(std::string(name) + " page at " + hex(ib) + ": " + p);
  }

  PstFileReader& r_;
  VerifyResult& out_;
};

}  // namespace

VerifyResult PstVerifier::Verify(const std::string& path, CFile64::Lock lock) {
  VerifyResult out;
  PstFileReader reader([&out](const std::string& s) { out.violations.push_back(s); });
  if (!reader.Open(path, lock)) return out;
  out.opened = true;
  reader.LoadTrees();
  out.blocks = reader.blocks().size();
  out.nodes = reader.nodes().size();
  NdbChecks ndb(reader, out);
  ndb.Header();
  ndb.BlocksAndReferences();
  ndb.AllocationMaps();
  check_objects(reader, out);
  // A damaged file can repeat one fault thousands of times; identical lines say nothing new.
  std::vector<std::string> unique;
  std::unordered_set<std::string> seen;
  for (auto& v : out.violations)
    if (seen.insert(v).second) unique.push_back(std::move(v));
  out.violations = std::move(unique);
  return out;
}

}  // namespace salvora::pst
