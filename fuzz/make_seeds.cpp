// Writes the starting inputs of every fuzz target into a folder, one subfolder per target:
//
//   fuzz_make_seeds OUT_DIR [SAMPLE.ost]
//
// Nothing binary is kept in the repository: the stores are built here with the test builders in
// each layout and encoding, a small PST comes from our own writer, and objects, name-map streams
// and RTF bodies are taken from the bundled sample (when given) so that the content targets
// start from what a real client wrote. Every input is small, so thousands of mutations of them
// run in seconds. The output is the same on every run.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "content/compressed_rtf.h"
#include "content/heap_builder.h"
#include "content/property_decoder.h"
#include "fuzz_input.h"
#include "ndb/block_reader.h"
#include "ndb/ost_context.h"
#include "pststore/pst/pst_writer.h"
#include "support/ndb_builder.h"

namespace fs = std::filesystem;
using salvora::fuzz::Blob;
using salvora::fuzz::HeapInput;
using namespace salvora;
using namespace salvora::testing;

namespace {

fs::path g_out;

void Put(const std::string& target, const std::string& name, const Blob& bytes) {
  const fs::path dir = g_out / target;
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
}

Blob ReadWhole(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Blob(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Blob Concat(std::initializer_list<Blob> parts) {
  Blob out;
  for (const Blob& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A compressed-RTF value stored uncompressed ("MELA").
Blob MelaValue(const std::string& rtf) {
  const auto n = static_cast<std::uint32_t>(rtf.size());
  return Concat({le32(n + 12), le32(n), le32(0x414C454D), le32(0), bytes(rtf)});
}

// The name-to-id map streams: one numeric name in PS_MAPI, one string name in the first GUID of
// the GUID stream.
struct NameMapStreams {
  Blob guids, entries, strings;
};
NameMapStreams SmallNameMap() {
  NameMapStreams s;
  s.guids = Blob{0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  s.strings = Concat({le32(8), utf16(u"Name"), le32(6), utf16(u"Key"), Blob{0, 0}});
  // NAMEID: dwPropertyID, then wGuid with the string flag in bit 0, then wPropIdx.
  s.entries = Concat({le32(0x8233), le16(1 << 1), le16(0), le32(0), le16(static_cast<std::uint16_t>((3 << 1) | 1)),
                      le16(1), le32(12), le16(static_cast<std::uint16_t>((3 << 1) | 1)), le16(2)});
  return s;
}

struct BuiltStore {
  Blob file;
  std::vector<HeapInput> objects;
};

std::vector<Bid> AddHeapBlocks(NdbBuilder& b, const std::vector<Bv>& heap, std::uint32_t& total) {
  std::vector<Bid> bids;
  total = 0;
  for (const Bv& blk : heap) {
    bids.push_back(b.AddBlock(blk));
    total += static_cast<std::uint32_t>(blk.size());
  }
  return bids;
}

Bid AddHeap(NdbBuilder& b, const std::vector<Bv>& heap) {
  std::uint32_t total = 0;
  const auto bids = AddHeapBlocks(b, heap, total);
  return bids.size() == 1 ? bids[0] : b.AddDataTree(bids, 1, total);
}

// A store with the objects the engine looks for: the store object, the name-to-id map, the root
// folder with one subfolder, and a message with a body in a sub-node, a compressed RTF body,
// a named property, an attachment table whose rows sit in their own sub-node, and the
// attachment object.
BuiltStore BuildStore(FileLayout layout, CryptMethod crypt) {
  const bool ansi = layout == FileLayout::kAnsi;
  const bool wide = layout == FileLayout::kUnicode4k;
  const HidLayout hids = wide ? HidLayout::kWide : HidLayout::kStandard;
  const std::uint16_t text_type = ansi ? 0x001E : 0x001F;
  auto text = [&](std::u16string_view s) {
    if (!ansi) return utf16(s);
    Bv out;
    for (char16_t c : s) out.push_back(static_cast<std::uint8_t>(c));
    return out;
  };
  NdbBuilder b(layout, crypt);
  BuiltStore out;
  auto keep = [&](const std::vector<Bv>& heap, std::map<std::uint32_t, std::vector<Bv>> subs = {}, bool att = false) {
    HeapInput in;
    in.wide_hids = wide;
    in.attachment_object = att;
    in.heap = heap;
    in.subnodes = std::move(subs);
    out.objects.push_back(std::move(in));
  };

  PcBuilder store(hids);
  store.Add(0x3001, text_type, text(u"Mailbox"));
  store.Add(0x0FF9, 0x0102, Bv(16, 0x5A));
  const auto store_heap = store.Build();
  keep(store_heap);
  b.AddNode(kNidMessageStore, AddHeap(b, store_heap), Bid(), Nid());

  const NameMapStreams names = SmallNameMap();
  PcBuilder map(hids);
  map.Add(0x0001, 0x0003, le32(251));
  map.Add(0x0002, 0x0102, names.guids);
  map.Add(0x0003, 0x0102, names.entries);
  map.Add(0x0004, 0x0102, names.strings);
  const auto map_heap = map.Build();
  keep(map_heap);
  b.AddNode(kNidNameToIdMap, AddHeap(b, map_heap), Bid(), Nid());

  PcBuilder root(hids);
  root.Add(0x3001, text_type, text(u"Top of Information Store"));
  root.Add(0x3602, 0x0003, le32(1));
  root.Add(0x3603, 0x0003, le32(1));
  root.Add(0x360A, 0x000B, le32(1));
  const auto root_heap = root.Build();
  keep(root_heap);
  b.AddNode(kNidRootFolder, AddHeap(b, root_heap), Bid(), kNidRootFolder);

  const Nid inbox = Nid::make(kNidTypeNormalFolder, 0x401);
  PcBuilder folder(hids);
  folder.Add(0x3001, text_type, text(u"Inbox"));
  folder.Add(0x3613, text_type, text(u"IPF.Note"));
  folder.Add(0x3602, 0x0003, le32(1));
  const auto folder_heap = folder.Build();
  keep(folder_heap);
  b.AddNode(inbox, AddHeap(b, folder_heap), Bid(), kNidRootFolder);

  // The message: a property context over two heap blocks.
  PcBuilder pc(hids);
  pc.Add(0x001A, text_type, text(u"IPM.Note"));
  pc.Add(0x0E07, 0x0003, le32(0x11));
  pc.heap().NewBlock();
  pc.Add(0x0037, text_type, text(u"\x01\x04Re: hello"));
  pc.Add(0x0C1A, text_type, text(u"Sender"));
  pc.Add(0x0039, 0x0040, le64(0x01D9000000000000ull));
  pc.Add(0x1009, 0x0102, MelaValue("{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}}\\f0 hello \\'e9t\\'e9\\par}"));
  pc.Add(0x8000, text_type, text(u"named"));
  pc.AddRef(0x1000, text_type, 0x8001F);
  const auto message_heap = pc.Build();
  std::uint32_t message_total = 0;
  const auto message_bids = AddHeapBlocks(b, message_heap, message_total);
  const Bid message_data = b.AddDataTree(message_bids, 1, message_total);
  const Bv body_a(3000, 'a'), body_b = text(u"\u00E9nd");
  const Bid body = b.AddDataTree({b.AddBlock(body_a, wide), b.AddBlock(body_b, wide)}, 1,
                                 static_cast<std::uint32_t>(body_a.size() + body_b.size()), wide);

  TcBuilder tc({{0x3704, text_type, 4}, {0x0E20, 0x0003, 4}, {0x3705, 0x0003, 4}}, ansi);
  const std::uint32_t file_name = tc.heap().Add(text(u"a.txt"));
  tc.AddRow(0x8025, {{0x3704, file_name}, {0x0E20, 4}, {0x3705, 1}});
  tc.AddRow(0x8045, {{0x0E20, 9}});
  std::vector<Bv> matrix;
  const auto table_heap = tc.BuildWithSubnodeMatrix(0x2A1F, {1, 1}, {3, 0}, matrix);
  keep(table_heap, {{0x2A1F, matrix}});
  std::uint32_t matrix_total = 0;
  const auto matrix_bids = AddHeapBlocks(b, matrix, matrix_total);
  const Bid table_subs = b.AddSubnodeLeaf({{Nid(0x2A1F), b.AddDataTree(matrix_bids, 1, matrix_total), Bid()}});
  const Bid table = AddHeap(b, table_heap);

  PcBuilder att(hids);
  att.Add(0x3701, 0x0102, bytes("DATA"));
  att.Add(0x3705, 0x0003, le32(1));
  att.Add(0x3707, text_type, text(u"a.txt"));
  att.Add(0x3001, text_type, text(u"a.txt"));
  const auto att_heap = att.Build();
  keep(att_heap, {}, true);
  const Bid attachment = AddHeap(b, att_heap);

  keep(message_heap, {{0x8001F, {body_a, body_b}}});
  const Bid leaf1 = b.AddSubnodeLeaf({{Nid(0x671), table, table_subs}, {Nid(0x8025), attachment, Bid()}});
  const Bid leaf2 = b.AddSubnodeLeaf({{Nid(0x8001F), body, Bid()}});
  const Bid subs = b.AddSubnodeIndex({{Nid(0x671), leaf1}, {Nid(0x8001F), leaf2}});
  b.AddNode(Nid::make(kNidTypeNormalMessage, 0x100), message_data, subs, inbox);
  out.file = b.Build();
  return out;
}

// A small PST from our own writer: one folder, two messages, a recipient, an attachment and
// a named property. The writer's minimum store is most of it.
Blob WriterStore(const fs::path& scratch) {
  namespace p = salvora::pst;
  const std::string path = (scratch / "writer.pst").string();
  p::PstOptions options;
  options.crypt = CryptMethod::kPermute;
  options.now = 0x01D9000000000000ull;
  options.record_key.fill(0x11);
  auto w = p::PstWriter::Create(path, options);
  const p::FolderId inbox = w->AddFolder(w->ipm_subtree(), "Inbox", "IPF.Note");
  for (int i = 0; i < 2; ++i) {
    p::MessageSpec m;
    m.props.push_back(p::Property::String(0x001A, "IPM.Note"));
    m.props.push_back(p::Property::String(0x0037, "Subject " + std::to_string(i)));
    m.props.push_back(p::Property::String(0x1000, "Body text"));
    p::RecipientSpec r;
    r.props.push_back(p::Property::Int32(0x0C15, 1));
    r.props.push_back(p::Property::String(0x3001, "To Someone"));
    m.recipients.push_back(r);
    if (i == 1) {
      p::AttachmentSpec a;
      a.props.push_back(p::Property::String(0x3707, "note.txt"));
      a.data = bytes("attached");
      m.attachments.push_back(a);
    }
    w->AddMessage(inbox, m);
  }
  w->Close();
  w.reset();
  return ReadWhole(path);
}

// Objects, name-map streams and RTF bodies of the bundled sample, as content inputs. Small
// objects only, a few of each node type, so the seeds stay small and varied.
void SampleSeeds(const std::string& sample) {
  OstContext ctx;
  if (OpenStore(ctx, sample) != 0) {
    std::fprintf(stderr, "cannot open %s\n", sample.c_str());
    return;
  }
  const Blob head = ReadAt(ctx, 0, StoreHeader::kReadSize);
  Put("store_header", "sample", head);
  LoadBlockIndex(ctx);
  LoadNodeIndex(ctx);
  const bool wide = hid_layout_for(ctx) == HidLayout::kWide;
  std::map<std::uint8_t, int> per_type;
  int rtf = 0;
  for (const NodeRecord& node : ctx.nodes->nodes()) {
    auto blocks = ReadNodeBlocks(ctx, node.data_bid);
    if (!blocks) continue;
    std::size_t total = 0;
    for (const auto& b : *blocks) total += b.size();
    std::vector<SubnodeEntry> subs;
    if (!node.sub_bid.is_null()) {
      auto list = ReadSubnodes(ctx, node.sub_bid);
      if (list) subs = *list;
    }
    if (node.nid == kNidNameToIdMap) {
      const auto r = decode_properties(ctx, node.data_bid, &subs, nullptr);
      if (r && !r.list->blocks.empty()) {
        const PropertyEntry* entries = r.list->blocks[0].find(0x0003);
        const PropertyEntry* strings = r.list->blocks[0].find(0x0004);
        if (entries && entries->value && strings && strings->value) {
          // The first records only: the whole map of a real store runs to tens of kilobytes.
          Blob e = *entries->value, s = *strings->value;
          if (e.size() > 2048) e.resize(2048);
          if (s.size() > 4096) s.resize(4096);
          Put("named_map", "sample", salvora::fuzz::TwoStreams::Encode(e, s));
        }
      }
    }
    // Compressed RTF bodies, and their RTF for the text reader.
    if (node.nid.type() == kNidTypeNormalMessage && rtf < 4) {
      const auto r = decode_properties(ctx, node.data_bid, &subs, nullptr);
      const PropertyEntry* e = r ? r.list->blocks[0].find(0x1009) : nullptr;
      if (e && e->value && e->value->size() <= 8192) {
        Put("rtf_decompress", "sample-" + std::to_string(rtf), *e->value);
        const RtfResult d = decompress_rtf(*e->value);
        if (d.usable() && d.rtf.size() <= 16384) Put("rtf_text", "sample-" + std::to_string(rtf), d.rtf);
        ++rtf;
      }
    }
    if (total > 12000 || ++per_type[node.nid.type()] > 3) continue;
    HeapInput in;
    in.wide_hids = wide;
    in.heap = std::move(*blocks);
    std::size_t sub_total = 0;
    for (const SubnodeEntry& s : subs) {
      auto v = ReadNodeBlocks(ctx, s.data_bid);
      if (!v) continue;
      for (const auto& b : *v) sub_total += b.size();
      if (sub_total > 16000) break;
      in.subnodes[s.nid.value] = std::move(*v);
    }
    char name[64];
    std::snprintf(name, sizeof name, "sample-%08x", node.nid.value);
    Put("content_heap", name, in.Encode());
  }
}

const char* const kRtfDocuments[] = {
    "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\fcharset128 MS Gothic;}}"
    "{\\colortbl;\\red255\\green0\\blue0;}\\f0\\fs20 Hello, \\b world\\b0 !\\par"
    "{\\f1 \\'82\\'b1\\'82\\'f1}\\par\\uc1\\u1047?\\u1076?\\tab end\\line}",
    ("{\\rtf1\\ansi\\deff0{\\*\\htmltag64 <p>}{\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt link}}"
     "{\\pict\\wmetafile8 0102ab}\\bin3 abc{\\*\\unknown skipped}\\'e9\\~\\-\\_\\{\\}\\\\}"),
    "{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0\\fcharset204 Times;}}\\f0 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2\\uc2\\u8364??\\par}",
    "{\\rtf1{{{{{{{{deep}}}}}}}}}}",
    "{\\rtf1\\ansi \\'4",
};

// Header blocks as the mail writer produces them, and a few that other programs write.
const char* const kMailHeaders[] = {
    "From: Sender Name<sender@example.com>\r\nTo: A<a@example.com>; B <b@example.com>; c@example.com\r\n"
    "Date: Wed Jan  2 03:04:05 2008\r\nReceived: from x by y; Wed, 2 Jan 2008 03:04:05 +0100\r\n"
    "Delivery-date: Thu, 3 Jan 2008 23:59:59 -0830\r\nSubject: hello\r\n\r\nbody\r\n",
    "From: <Only Name>\nTo: UnKnown\nDate: Mon, 29 Feb 2016 12:00:00 GMT\n\n",
    ("From: /O=ORG/OU=EXCHANGE/CN=RECIPIENTS/CN=USER\r\nTo: \xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD <ivan@example.ru>\r\n"
     "Date: Sun, 31 Dec 1600 23:59:59 +1400\r\n Folded: continued\r\n\r\n"),
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR [SAMPLE.ost]\n", argv[0]);
    return 2;
  }
  g_out = argv[1];
  fs::create_directories(g_out);
  const fs::path scratch = g_out / "scratch";
  fs::create_directories(scratch);

  struct Variant {
    const char* name;
    FileLayout layout;
    CryptMethod crypt;
  };
  const Variant variants[] = {{"ansi-permute", FileLayout::kAnsi, CryptMethod::kPermute},
                              {"unicode-none", FileLayout::kUnicode, CryptMethod::kNone},
                              {"unicode-cyclic", FileLayout::kUnicode, CryptMethod::kCyclic},
                              {"unicode4k-permute", FileLayout::kUnicode4k, CryptMethod::kPermute}};
  for (const Variant& v : variants) {
    const BuiltStore s = BuildStore(v.layout, v.crypt);
    for (const char* target : {"ndb_file", "engine_item", "engine_analysis"}) Put(target, v.name, s.file);
    Put("store_header", v.name, Blob(s.file.begin(), s.file.begin() + std::min<std::size_t>(s.file.size(), 564)));
    if (v.crypt != CryptMethod::kCyclic) {  // one encoding is enough for objects in memory
      for (std::size_t i = 0; i < s.objects.size(); ++i) {
        Put("content_heap", std::string(v.name) + "-" + std::to_string(i), s.objects[i].Encode());
      }
    }
  }

  const Blob pst = WriterStore(scratch);
  for (const char* target : {"pst_verify", "pst_reader", "ndb_file", "engine_item"}) Put(target, "writer", pst);
  Put("store_header", "writer", Blob(pst.begin(), pst.begin() + std::min<std::size_t>(pst.size(), 564)));

  const NameMapStreams names = SmallNameMap();
  Put("named_map", "small", salvora::fuzz::TwoStreams::Encode(names.entries, names.strings));

  Put("rtf_decompress", "hello-lzfu",
      Concat({le32(0x2D), le32(0x2B), le32(0x75465A4C), le32(0xA7C7C5F1),
              Blob{0x03, 0x00, 0x0A, 0x00, 0x72, 0x63, 0x70, 0x67, 0x31, 0x32, 0x35, 0x42, 0x32, 0x0A, 0xF3, 0x20,
                   0x68, 0x65, 0x6C, 0x09, 0x00, 0x20, 0x62, 0x77, 0x05, 0xB0, 0x6C, 0x64, 0x7D, 0x0A, 0x80, 0x0F, 0xA0}}));
  int i = 0;
  for (const char* doc : kRtfDocuments) {
    Put("rtf_text", "doc-" + std::to_string(i), bytes(doc));
    Put("rtf_decompress", "mela-" + std::to_string(i), MelaValue(doc));
    ++i;
  }

  i = 0;
  for (const char* header : kMailHeaders) Put("mail_header", "header-" + std::to_string(i++), bytes(header));

  if (argc > 2) SampleSeeds(argv[2]);
  fs::remove_all(scratch);
  return 0;
}
