#include "pststore/pst/property_context.h"

#include <algorithm>

#include "format/byte_writer.h"
#include "format/bth.h"
#include "format/property_context.h"
#include "pststore/pst/disk_layout.h"

namespace salvora::pst {

std::vector<std::vector<std::uint8_t>> build_property_context(const PropertyList& given, SubnodeSink& sink,
                                                            const std::vector<PrebuiltValue>& prebuilt) {
  // Prebuilt values take a placeholder in the sorted list and are swapped in below. A list
  // already in order without them is written as it is: a message's bodies are not copied.
  const bool in_order = std::adjacent_find(given.begin(), given.end(), [](const Property& a, const Property& b) {
                          return a.id() >= b.id();
                        }) == given.end();
  PropertyList ordered;
  if (!in_order || !prebuilt.empty()) {
    ordered = given;
    for (const auto& v : prebuilt) set_prop(ordered, Property{v.tag, {}});
    normalize_props(ordered);
  }
  const PropertyList& props = in_order && prebuilt.empty() ? given : ordered;
  HeapWriter heap(kClientPropertyContext);
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
    } else if (is_inline_pc_value(p.type())) {
      std::uint8_t cell[4] = {0, 0, 0, 0};
      std::copy(p.data.begin(), p.data.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(p.data.size(), 4)), cell);
      records.bytes(cell);
    } else if (p.data.empty()) {
      records.u32(0);  // a value of no bytes is written as reference 0, as the format writes it
    } else if (p.data.size() <= kMaxHeapAlloc) {
      records.u32(heap.Allocate(p.data).value);
    } else {
      records.u32(sink.AddValue(p.data));
    }
  }
  bth.Fill(records.data());
  return std::move(heap).Finish();
}

std::optional<PropertyList> read_property_context(const HeapOnNode& heap, const SubnodeResolver& resolve,
                                                Findings& findings) {
  const auto records = read_pc_records(heap, findings);
  if (!records) return std::nullopt;
  PropertyList out;
  for (const PcRecord& r : *records) {
    Property p;
    p.tag = PropTag(r.id, r.type);
    const std::uint32_t hnid = r.hnid();
    if (is_inline_pc_value(r.type)) {
      const std::size_t n = r.type == kPtypBoolean ? 1 : r.type == kPtypInteger16 ? 2 : 4;
      p.data.assign(r.value.begin(), r.value.begin() + static_cast<std::ptrdiff_t>(n));
    } else if (hnid == 0) {
      // An absent value read as empty, as readers do.
    } else if (hnid_is_heap(hnid)) {
      auto v = heap.Lookup(Hid(hnid));
      if (!v) {
        findings.add("property context: value of 0x" + std::to_string(r.id) + " points to a missing heap allocation");
        continue;
      }
      p.data.assign(v->begin(), v->end());
    } else {
      auto v = resolve.value(hnid);
      if (!v) {
        findings.add("property context: value sub-node of property " + std::to_string(r.id) + " is missing");
        continue;
      }
      p.data = std::move(*v);
    }
    const std::uint32_t fixed = FixedPropSize(r.type);
    if (fixed != 0 && !IsMultiValued(r.type) && p.data.size() != fixed)
      findings.add("property context: property " + std::to_string(r.id) + " has the wrong size for its type");
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace salvora::pst
