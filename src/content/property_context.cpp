// The property context reader: the shared layout's records turned into entries, each value
// held in the record or found through its reference.
#include "content/value_resolver.h"
#include "format/property_context.h"

namespace salvora {

DecodeResult ReadPropertyContext(const ValueResolver& resolver) {
  const HeapOnNode& heap = resolver.heap();
  // Salvage: what the BTH walk skips is left out of the object, which is decoded regardless.
  Findings findings(Tolerance::kSalvage);
  ContextError error = ContextError::kNone;
  const auto records = read_pc_records(heap, findings, &error);
  if (!records) return decode_failure(decode_error_of(error), heap.user_root().value);

  DecodeResult result;
  PropertyBlock block;
  block.total_rows = 1;
  block.entries.reserve(records->size());
  for (const PcRecord& rec : *records) {
    if (resolver.stopped()) return decode_failure(DecodeError::kStopped);
    PropertyEntry e = resolver.MakeEntry(rec.id, rec.type);
    switch (value_form(rec.type)) {
      case ValueForm::kNone:
        break;
      case ValueForm::kInline4:
        e.value = ByteVector(rec.value.begin(), rec.value.end());
        break;
      case ValueForm::kFixed8:
      case ValueForm::kVariable:
        if (!ResolveInto(resolver, e, rec.hnid(), result)) continue;
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
