// The verifier against files damaged on purpose: one case per rule it checks. Each case
// writes a fresh mailbox, applies one small damage and expects a line naming the fault.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "format/crc.h"
#include "format/ids.h"
#include "platform/file64.h"
#include "format/block.h"
#include "pststore/pst/disk_layout.h"
#include "format/header.h"
#include "format/page.h"
#include "pststore/pst/pst_file_reader.h"
#include "pststore/pst/pst_verifier.h"
#include "pststore/sample_mailbox.h"

namespace salvora::pst {
namespace {

// Damage verbs over an open file.
class Damage {
 public:
  explicit Damage(const std::string& path) : path_(path), reader_([](const std::string&) {}) {
    EXPECT_TRUE(file_.Open(path, CFile64::Access::kReadWrite));
    EXPECT_TRUE(reader_.Open(path));
    reader_.LoadTrees();
  }
  const PstFileReader& reader() const { return reader_; }

  std::vector<std::uint8_t> Read(std::uint64_t ib, std::size_t n) {
    std::vector<std::uint8_t> b(n);
    file_.ReadAt(ib, b.data(), n);
    return b;
  }
  void Write(std::uint64_t ib, const std::vector<std::uint8_t>& b) { file_.WriteAt(ib, b.data(), b.size()); }
  void FlipByte(std::uint64_t ib) {
    auto b = Read(ib, 1);
    b[0] ^= 0x5A;
    Write(ib, b);
  }
  // Edits a header field and recomputes both CRCs.
  void EditHeader(const std::function<void(PstHeader&)>& edit) {
    Findings findings(Tolerance::kStrict);
    auto h = parse_header(Read(0, 564), findings);
    edit(h.header);
    Write(0, h.header.Serialize());
  }
  // Edits a page's bytes and recomputes its CRC, so only the edit itself is wrong.
  void EditPage(std::uint64_t ib, const std::function<void(std::vector<std::uint8_t>&)>& edit) {
    auto page = Read(ib, 512);
    edit(page);
    store_u32(page, 500, ComputeCrc(Bytes(page).first(496)));
    Write(ib, page);
  }
  // The leaf page holding a key, and the entry's offset in it.
  std::pair<std::uint64_t, std::size_t> FindLeafEntry(std::uint8_t ptype, std::uint64_t key) {
    for (auto ib : reader_.pages()) {
      auto raw = Read(ib, 512);
      auto page = BtPage::Parse(raw);
      if (!page || page->ptype != ptype || page->level != 0) continue;
      for (std::size_t i = 0; i < page->c_ent; ++i) {
        const std::uint64_t k = ptype == kPtypeNbt ? load_u32(raw, i * page->cb_ent) : load_u64(raw, i * page->cb_ent);
        if (k == key) return {ib, i * page->cb_ent};
      }
    }
    ADD_FAILURE() << "key " << key << " not found";
    return {0, 0};
  }
  // Edits a block's stored payload (internal blocks are stored as they are) and fixes its CRC.
  void EditBlock(std::uint64_t bid, const std::function<void(std::vector<std::uint8_t>&)>& edit) {
    const BbtEntry& e = reader_.blocks().at(Bid(bid).key());
    auto disk = Read(e.ib, BlockDiskSize(e.cb));
    std::vector<std::uint8_t> payload(disk.begin(), disk.begin() + e.cb);
    edit(payload);
    std::copy(payload.begin(), payload.end(), disk.begin());
    store_u32(disk, disk.size() - 12, ComputeCrc(Bytes(disk).first(e.cb)));
    Write(e.ib, disk);
  }

 private:
  std::string path_;
  CFile64 file_;
  PstFileReader reader_;
};

std::uint64_t FirstInternalBlock(const PstFileReader& r, std::uint8_t btype, std::uint8_t level) {
  for (const auto& [bid, e] : r.blocks()) {
    if (!bid.is_internal()) continue;
    auto data = r.ReadBlock(bid);
    if (data && data->size() > 2 && (*data)[0] == btype && (*data)[1] == level) return bid.value;
  }
  ADD_FAILURE() << "no internal block of type " << int(btype);
  return 0;
}

void list_first_child_twice(Damage& d) {
  const std::uint64_t root = d.reader().header().header.bbt.ib;
  d.EditPage(root, [](auto& p) {
    ASSERT_GT(p[491], 0) << "the block index needs an intermediate root";
    ASSERT_GE(p[488], 2);
    std::copy_n(p.begin() + 8, 16, p.begin() + 32);  // the second entry's BREF := the first's
  });
}

struct DamageCase {
  const char* name;
  std::function<void(Damage&)> damage;
  const char* expect;  // a part of the violation line
};

TEST(PstVerifier, FindsEveryDamage) {
  const std::vector<DamageCase> cases = {
      {"header CRC", [](Damage& d) { d.FlipByte(40); }, "dwCRCPartial"},
      {"header sentinel", [](Damage& d) { d.EditHeader([](PstHeader&) {}); d.FlipByte(512); }, "bSentinel"},
      {"bidNextB too low", [](Damage& d) { d.EditHeader([](PstHeader& h) { h.bid_next_b = 4; }); }, "bidNextB"},
      {"rgnid below a NID in use", [](Damage& d) { d.EditHeader([](PstHeader& h) { h.rgnid[4] = 0x400; }); }, "rgnid[4]"},
      {"ibFileEof", [](Damage& d) { d.EditHeader([](PstHeader& h) { h.file_eof += 512; }); }, "ibFileEof"},
      {"cbAMapFree", [](Damage& d) { d.EditHeader([](PstHeader& h) { h.amap_free += 64; }); }, "cbAMapFree"},
      {"B-tree page CRC", [](Damage& d) { d.FlipByte(d.reader().header().header.nbt.ib + 3); }, "CRC does not match"},
      {"B-tree page signature",
       [](Damage& d) { d.EditPage(d.reader().header().header.bbt.ib, [](auto& p) { p[498] ^= 1; }); }, "signature wrong"},
      {"B-tree entry size",
       [](Damage& d) { d.EditPage(d.reader().header().header.nbt.ib, [](auto& p) { p[489] = 30; }); }, "cbEnt/cEntMax"},
      {"B-tree key order",
       [](Damage& d) {
         auto [ib, off] = d.FindLeafEntry(kPtypeNbt, 0x21);
         d.EditPage(ib, [off = off](auto& p) { store_u64(p, off, 0x7FFFFFF1); });
       },
       "not strictly ascending"},
      // The root lists its first child a second time, in its second entry's place: the page
      // is counted once in the maps, and its entries once in the index.
      {"B-tree page listed twice (space)", list_first_child_twice, "overlaps space already in use"},
      {"B-tree page listed twice (entries)", list_first_child_twice, "listed twice"},
      {"block CRC",
       [](Damage& d) { d.FlipByte(d.reader().blocks().begin()->second.ib); }, "trailer CRC wrong"},
      {"block trailer size",
       [](Damage& d) {
         const auto& e = d.reader().blocks().begin()->second;
         d.FlipByte(e.ib + BlockDiskSize(e.cb) - 16);
       },
       "trailer cb"},
      {"reference count",
       [](Damage& d) {
         auto [ib, off] = d.FindLeafEntry(kPtypeBbt, d.reader().blocks().begin()->first.value);
         d.EditPage(ib, [off = off](auto& p) { store_u16(p, off + 18, 7); });
       },
       "cRef is 7, expected"},
      {"AMap bit of a used slot",
       [](Damage& d) {
         d.EditPage(kFirstAmapOffset, [](auto& p) {
           for (std::size_t i = 8; i < 496; ++i)
             if (p[i] == 0xFF) {
               p[i] = 0x7F;
               break;
             }
         });
       },
       "marked free"},
      {"AMap bit of a free slot",
       [](Damage& d) {
         d.EditPage(kFirstAmapOffset, [](auto& p) {
           for (std::size_t i = 8; i < 496; ++i)
             if (p[i] != 0xFF) {
               p[i] = 0xFF;
               break;
             }
         });
       },
       "hold nothing"},
      {"AMap page CRC", [](Damage& d) { d.FlipByte(kFirstAmapOffset + 495); }, "AMap page"},
      {"PMap page", [](Damage& d) { d.FlipByte(pmap_offset(0) + 100); }, "PMap page"},
      {"required node missing",
       [](Damage& d) {
         auto [ib, off] = d.FindLeafEntry(kPtypeNbt, 0x1E1);
         d.EditPage(ib, [off = off](auto& p) { store_u64(p, off, 0x1E9); });
       },
       "node 0x1E1: required node missing"},
      {"receive folder gone",
       [](Damage& d) {
         // The Inbox's NBT entry renamed to a NID no folder has.
         for (const auto& [nid, n] : d.reader().nodes()) {
           if (nid.type() != kNidTypeNormalFolder || nid.value <= 0x8062) continue;
           auto [ib, off] = d.FindLeafEntry(kPtypeNbt, nid.value);
           d.EditPage(ib, [off = off](auto& p) { store_u64(p, off, load_u64(p, off) | 0x10); });
           return;
         }
       },
       "receive-folder table"},
      {"message moved to another folder",
       [](Damage& d) {
         for (const auto& [nid, n] : d.reader().nodes()) {
           if (nid.type() != kNidTypeNormalMessage) continue;
           auto [ib, off] = d.FindLeafEntry(kPtypeNbt, nid.value);
           d.EditPage(ib, [off = off](auto& p) { store_u32(p, off + 24, 0x8062); });
           return;
         }
       },
       "has no row"},
      {"data tree total",
       [](Damage& d) {
         d.EditBlock(FirstInternalBlock(d.reader(), 1, 1), [](auto& b) { store_u32(b, 4, load_u32(b, 4) + 1); });
       },
       "lcbTotal"},
      {"attachment object without a row",
       [](Damage& d) {
         // Turn a message's attachment table sub-node into something else.
         for (const auto& [bid, e] : d.reader().blocks()) {
           auto data = bid.is_internal() ? d.reader().ReadBlock(bid) : std::nullopt;
           auto sl = data ? SubnodeBlock::Parse(*data, FileLayout::kUnicode, Tolerance::kStrict) : std::nullopt;
           if (!sl || sl->level != 0) continue;
           for (std::size_t i = 0; i < sl->entries.size(); ++i) {
             if (sl->entries[i].nid != 0x671) continue;
             d.EditBlock(bid.value, [i](auto& b) { store_u64(b, 8 + i * 24, 0x673); });
             return;
           }
         }
       },
       "attachment objects without an attachment table"},
  };
  for (const auto& c : cases) {
    const std::string path = testing::TempPath("damaged.pst");
    testing::SampleOptions o;
    o.messages_per_folder = 2;
    o.big_attachment = 20000;
    testing::WriteSampleMailbox(path, o);
    ASSERT_TRUE(PstVerifier::Verify(path).violations.empty());
    {
      Damage d(path);
      c.damage(d);
    }
    const VerifyResult r = PstVerifier::Verify(path);
    bool found = false;
    for (const auto& v : r.violations) found = found || v.find(c.expect) != std::string::npos;
    std::string all;
    for (std::size_t i = 0; i < r.violations.size() && i < 8; ++i) all += "  " + r.violations[i] + "\n";
    EXPECT_TRUE(found) << c.name << ": expected a line with \"" << c.expect << "\", got:\n" << all;
  }
}

// A message nesting `levels` embedded messages in a chain; every chain message also has
// fanout - 1 attachments, ahead of the chain one, that embed a leaf message of their own.
struct Nesting {
  std::vector<NodeRef> chain;                       // chain[l] sits at nesting depth l
  std::vector<std::vector<std::uint64_t>> leaves;  // per level: each leaf attachment's sub-node block
};

Nesting WriteNesting(const std::string& path, int levels, int fanout) {
  auto leaf = std::make_shared<MessageSpec>(), inner = std::make_shared<MessageSpec>();
  for (int l = 0; l < levels; ++l) {
    auto outer = std::make_shared<MessageSpec>();
    for (int i = 1; i < fanout; ++i) outer->attachments.push_back(AttachmentSpec{{}, {}, {}, nullptr, leaf});
    outer->attachments.push_back(AttachmentSpec{{}, {}, {}, nullptr, inner});
    inner = outer;
  }
  auto w = PstWriter::Create(path, PstOptions{});
  const std::uint32_t top = w->AddMessage(w->ipm_subtree(), *inner);
  w->Close();

  PstFileReader r([](const std::string&) {});
  EXPECT_TRUE(r.Open(path));
  r.LoadTrees();
  const auto subnodes = [&](Bid bid, std::uint8_t type) {
    std::vector<SubnodeBlockEntry> out;
    for (const auto& e : r.ReadSubnodes(bid).value_or(std::vector<SubnodeBlockEntry>{}))
      if (Nid(e.nid).type() == type) out.push_back(e);
    return out;
  };
  Nesting n;
  for (auto m = r.Node(Nid(top)); m;) {
    n.chain.push_back(*m);
    n.leaves.emplace_back();
    const auto attachments = subnodes(m->bid_sub, kNidTypeAttachment);
    m.reset();
    for (std::size_t i = 0; i + 1 < attachments.size(); ++i) n.leaves.back().push_back(attachments[i].bid_sub);
    if (!attachments.empty())
      for (const auto& e : subnodes(Bid(attachments.back().bid_sub), kNidTypeNormalMessage)) m = NodeRef::Of(e);
  }
  EXPECT_EQ(n.chain.size(), static_cast<std::size_t>(levels) + 1);
  return n;
}

// Edits each entry of a leaf sub-node block (24 bytes from offset 8: NID, bid_data, bid_sub).
void EditSubnodeEntries(Damage& d, std::uint64_t bid, const std::function<void(std::vector<std::uint8_t>&, std::size_t)>& edit) {
  d.EditBlock(bid, [&](auto& b) {
    for (std::size_t off = 8; off < 8 + 24 * std::size_t{load_u16(b, 2)}; off += 24) edit(b, off);
  });
}

// Points the embedded message of an attachment's sub-node block at another message's blocks.
void Redirect(Damage& d, std::uint64_t slblock, const NodeRef& to) {
  EditSubnodeEntries(d, slblock, [&](auto& b, std::size_t off) {
    store_u64(b, off + 8, to.bid_data.value);
    store_u64(b, off + 16, to.bid_sub.value);
  });
}

std::size_t CountLines(const VerifyResult& r, const std::string& part) {
  std::size_t n = 0;
  for (const auto& v : r.violations) n += v.find(part) != std::string::npos;
  return n;
}

struct SharingCase {
  const char* name;
  int levels, fanout;
  std::function<void(Damage&, const Nesting&)> damage;
  std::size_t too_deep;  // "nested too deep" lines expected
};

// Attachments that share sub-node blocks. Walking every path of the first two files would take
// 4^14 message visits and never finish; each message is checked once instead, a fault inside
// it is reported once, and nesting that only a longer path reaches still counts. The
// redirected leaves leave block reference counts wrong, which is reported and not asserted.
TEST(PstVerifier, SharedEmbeddedMessagesAreCheckedOnce) {
  const auto share_every_level = [](Damage& d, const Nesting& n) {
    for (std::size_t l = 0; l + 1 < n.chain.size(); ++l)
      for (auto sl : n.leaves[l]) Redirect(d, sl, n.chain[l + 1]);
  };
  const std::vector<SharingCase> cases = {
      {"fan-out 4 at every level", 14, 4, share_every_level, 0},
      {"a message that contains itself", 14, 4,
       [&](Damage& d, const Nesting& n) {
         share_every_level(d, n);
         Redirect(d, n.leaves[13].back(), n.chain[0]);
       },
       1},
      // The leaf comes first: depth 1 with 15 levels below is allowed; the chain then meets
      // the same message at depth 2, one level too deep.
      {"met first by a shorter path, too deep by the chain", 17, 2,
       [](Damage& d, const Nesting& n) { Redirect(d, n.leaves[0][0], n.chain[2]); }, 1},
  };
  for (const auto& c : cases) {
    const std::string path = testing::TempPath("shared.pst");
    const Nesting n = WriteNesting(path, c.levels, c.fanout);
    {
      Damage d(path);
      c.damage(d, n);
      // A fault in the innermost message, which every path reaches: its recipient table renamed.
      EditSubnodeEntries(d, n.chain.back().bid_sub.value, [](auto& b, std::size_t off) {
        if (load_u64(b, off) == 0x692) store_u64(b, off, 0x6B2);
      });
    }
    const VerifyResult r = PstVerifier::Verify(path);
    EXPECT_EQ(CountLines(r, "recipient table missing"), 1u) << c.name;
    EXPECT_EQ(CountLines(r, "nested too deep"), c.too_deep) << c.name;
    EXPECT_EQ(CountLines(r, "block 0x") + 1 + c.too_deep, r.violations.size()) << c.name;
  }
}

// The 4 KB layout the writer also makes: its pages, maps and compressed blocks are read in their
// own sizes, a clean file has nothing to report, and a damaged compressed block is still found.
TEST(PstVerifier, ReadsTheFourKilobyteLayout) {
  const std::string path = testing::TempPath("layout4k.pst");
  {
    PstOptions options;
    options.layout = FileLayout::kUnicode4k;
    auto w = PstWriter::Create(path, options);
    for (int i = 0; i < 40; ++i) {
      MessageSpec m;
      m.props = {Property::String(kPidSubject, "m" + std::to_string(i)),
                 Property::String(kPidBody, std::string(30000 + i, static_cast<char>('a' + i % 26)))};
      m.attachments.push_back(AttachmentSpec{{Property::String(kPidAttachLongFilename, "a.txt")},
                                             std::vector<std::uint8_t>(150000 + i, static_cast<std::uint8_t>(i)), {}, nullptr, nullptr});
      w->AddMessage(w->ipm_subtree(), m);
    }
    w->Close();
  }
  const VerifyResult clean = PstVerifier::Verify(path);
  EXPECT_TRUE(clean.violations.empty()) << clean.violations.front();
  EXPECT_EQ(clean.messages, 40u);
  {
    Damage d(path);
    const auto compressed = std::find_if(d.reader().blocks().begin(), d.reader().blocks().end(),
                                         [](const auto& b) { return b.second.cb != b.second.cb_inflated; });
    ASSERT_NE(compressed, d.reader().blocks().end()) << "no compressed block";
    d.FlipByte(compressed->second.ib + 5);
  }
  const VerifyResult damaged = PstVerifier::Verify(path);
  EXPECT_EQ(CountLines(damaged, "trailer CRC wrong"), 1u);
}

TEST(PstVerifier, RefusesWhatIsNoPst) {
  const std::string path = testing::TempPath("text.pst");
  {
    CFile64 f;
    ASSERT_TRUE(f.Open(path, CFile64::Access::kCreate));
    const std::string text(1000, 'x');
    f.Write(text.data(), text.size());
  }
  EXPECT_FALSE(PstVerifier::Verify(path).opened);
  EXPECT_FALSE(PstVerifier::Verify(path + ".missing").opened);
}

}  // namespace
}  // namespace salvora::pst
