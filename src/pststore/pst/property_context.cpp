#include "pststore/pst/property_context.h"

#include "format/byte_writer.h"
#include "pststore/pst/bth.h"
#include "pststore/pst/disk_layout.h"

namespace salvora::pst {

std::vector<std::vector<std::uint8_t>> BuildPropertyContext(PropertyList props, SubnodeSink& sink,
                                                            const std::vector<PrebuiltValue>& prebuilt) {
  // Prebuilt values take a placeholder in the sorted list and are swapped in below.
  for (const auto& v : prebuilt) SetProp(props, Property{v.tag, {}});
  NormalizeProps(props);
  HeapWriter heap(kHeapSigPc);
  // Outlook's order, which some readers rely on: BTH header, records, then the values.
  BthBuilder bth(heap, 2, 6);
  heap.SetUserRoot(bth.AllocateHeader());
  bth.ReserveRecords(props.size());
  ByteWriter records(props.size() * 8);
  for (const auto& p : props) {
    records.u16(p.id());
    records.u16(p.type());
    const PrebuiltValue* pre = nullptr;
    for (const auto& v : prebuilt)
      if (v.tag == p.tag) pre = &v;
    if (pre != nullptr) {
      records.u32(pre->nid);
    } else if (IsInlinePcValue(p.type())) {
      std::uint8_t cell[4] = {0, 0, 0, 0};
      std::copy(p.data.begin(), p.data.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(p.data.size(), 4)), cell);
      records.bytes(cell);
    } else if (p.data.empty()) {
      records.u32(0);  // a value of no bytes is written as reference 0, as the format writes it
    } else if (p.data.size() <= kMaxHeapAlloc) {
      records.u32(heap.Allocate(p.data));
    } else {
      records.u32(sink.AddValue(p.data));
    }
  }
  bth.Fill(records.data());
  return heap.Finish();
}

std::optional<PropertyList> ReadPropertyContext(const HeapReader& heap, const SubnodeResolver& resolve,
                                                std::vector<std::string>* problems) {
  auto report = [&](const std::string& s) {
    if (problems) problems->push_back(s);
  };
  if (heap.client_sig() != kHeapSigPc) {
    report("property context: heap client signature is not 0xBC");
    return std::nullopt;
  }
  auto bth = ReadBth(heap, heap.user_root(), problems);
  if (!bth) return std::nullopt;
  if (bth->header.cb_key != 2 || bth->header.cb_ent != 6) {
    report("property context: BTH key/entry sizes are not 2/6");
    return std::nullopt;
  }
  PropertyList out;
  for (const Bytes r : bth->records) {
    const std::uint16_t id = load_u16(r, 0);
    const std::uint16_t type = load_u16(r, 2);
    const std::uint32_t hnid = load_u32(r, 4);
    Property p;
    p.tag = PropTag(id, type);
    if (IsInlinePcValue(type)) {
      const std::size_t n = type == kPtypBoolean ? 1 : type == kPtypInteger16 ? 2 : 4;
      p.data.assign(r.begin() + 4, r.begin() + 4 + static_cast<std::ptrdiff_t>(n));
    } else if (hnid == 0) {
      // An absent value read as empty, as readers do.
    } else if ((hnid & 0x1F) == 0) {
      auto v = heap.Get(hnid);
      if (!v) {
        report("property context: value of 0x" + std::to_string(id) + " points to a missing heap allocation");
        continue;
      }
      p.data.assign(v->begin(), v->end());
    } else {
      auto v = resolve(hnid);
      if (!v) {
        report("property context: value sub-node of property " + std::to_string(id) + " is missing");
        continue;
      }
      p.data = std::move(*v);
    }
    const std::uint32_t fixed = FixedPropSize(type);
    if (fixed != 0 && !IsMultiValued(type) && p.data.size() != fixed)
      report("property context: property " + std::to_string(id) + " has the wrong size for its type");
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace salvora::pst
