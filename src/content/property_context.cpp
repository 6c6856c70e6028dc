// The property context reader (MS-PST 2.3.3): a BTH keyed by property id whose records hold
// the type and either the value itself or a reference to it.
#include "format/bth.h"
#include "content/value_resolver.h"

namespace salvora {

namespace {

DecodeResult Fail(DecodeError code, std::uint32_t hid = 0, std::uint64_t expected = 0,
                  std::uint64_t actual = 0) {
  DecodeResult r;
  r.failure = {code, hid, expected, actual};
  return r;
}

}  // namespace

DecodeResult ReadPropertyContext(const ValueResolver& resolver) {
  const HeapOnNode& heap = resolver.heap();
  // Salvage: what the BTH walk skips is left out of the object, which is decoded regardless.
  Findings findings(Tolerance::kSalvage);
  auto header = read_bth_header(heap, heap.user_root(), findings);
  // Property ids are 2-byte keys with 6 bytes of type and value behind them.
  if (!header || header->key_size != 2 || header->entry_size < 6) {
    return Fail(DecodeError::kBadBthHeader, heap.user_root().value, 2,
                header ? header->key_size : 0);
  }
  auto records = read_bth_records(heap, *header, findings);
  if (!records) return Fail(DecodeError::kBadBthRoot, header->root.value);

  DecodeResult result;
  PropertyBlock block;
  block.total_rows = 1;
  block.entries.reserve(records->size());
  for (Bytes rec : *records) {
    if (resolver.stopped()) return Fail(DecodeError::kStopped);
    const std::uint16_t id = load_u16(rec, 0);
    const std::uint16_t type = load_u16(rec, 2);
    const std::uint32_t value = load_u32(rec, 4);
    PropertyEntry e = resolver.MakeEntry(id, type);
    switch (value_form(type)) {
      case ValueForm::kNone:
        break;
      case ValueForm::kInline4:
        e.value = ByteVector(rec.begin() + 4, rec.begin() + 8);
        break;
      case ValueForm::kFixed8:
      case ValueForm::kVariable:
        if (!ResolveInto(resolver, e, value, result)) continue;
        break;
    }
    block.entries.push_back(std::move(e));
  }
  result.list = PropertyList{};
  result.list->table = false;
  result.list->blocks.push_back(std::move(block));
  return result;
}

}  // namespace salvora
