#include "format/property_context.h"

namespace salvora {

std::optional<std::vector<PcRecord>> read_pc_records(const HeapOnNode& heap, Findings& findings, ContextError* error) {
  auto fail = [&](ContextError e) -> std::optional<std::vector<PcRecord>> {
    if (error) *error = e;
    return std::nullopt;
  };
  if (heap.client_signature() != kClientPropertyContext) {
    findings.add("property context: heap client signature is not 0xBC");
    return fail(ContextError::kWrongClient);
  }
  const auto header = read_bth_header(heap, heap.user_root(), findings);
  if (!header) return fail(ContextError::kBadBthHeader);
  const bool sizes_ok = header->key_size == 2 && header->entry_size == 6;
  if (!sizes_ok) {
    findings.add("property context: BTH key/entry sizes are not 2/6");
    // Longer entries still start with type and value; a writer may have had its reasons.
    if (findings.strict() || header->key_size != 2 || header->entry_size < 6) return fail(ContextError::kBadBthHeader);
  }
  const auto records = read_bth_records(heap, *header, findings);
  if (!records) return fail(ContextError::kBadBthRoot);
  std::vector<PcRecord> out;
  out.reserve(records->size());
  for (const Bytes r : *records) out.push_back(PcRecord{load_u16(r, 0), load_u16(r, 2), r.subspan(4, 4)});
  if (error) *error = ContextError::kNone;
  return out;
}

void ObjectReference::Serialize(ByteWriter& w) const {
  w.u32(nid.value);
  w.u32(size);
}

std::optional<ObjectReference> ObjectReference::Parse(Bytes value) {
  ByteReader r(value);
  ObjectReference o;
  o.nid = Nid(r.u32());
  if (!r.ok()) return std::nullopt;
  o.size = r.has(4) ? r.u32() : 0;
  return o;
}

}  // namespace salvora
