#include "content/value_resolver.h"

namespace salvora {

ValueForm value_form(std::uint16_t type) {
  if ((type & kPtypMultipleFlag) != 0) return ValueForm::kVariable;
  switch (type) {
    case kPtypInteger16:
    case kPtypInteger32:
    case kPtypFloating32:
    case kPtypErrorCode:
    case kPtypBoolean:
      // PT_FLOAT and PT_ERROR are 4-byte values stored in place like PT_LONG; taking them for
      // heap ids would drop them or read unrelated bytes.
      return ValueForm::kInline4;
    case kPtypFloating64:
    case kPtypCurrency:
    case kPtypFloatingTime:
    case kPtypInteger64:
    case kPtypTime:
      return ValueForm::kFixed8;
    case kPtypObject:
    case kPtypString8:
    case kPtypString:
    case kPtypGuid:
    case kPtypServerId:
    case kPtypRestriction:
    case kPtypRuleAction:
    case kPtypBinary:
      return ValueForm::kVariable;
    default:
      return ValueForm::kNone;
  }
}

PropertyEntry ValueResolver::MakeEntry(std::uint16_t raw_id, std::uint16_t type) const {
  PropertyEntry e;
  e.raw_id = raw_id;
  e.type = type;
  e.id = raw_id;
  if (raw_id >= 0x8000 && options_.names != nullptr) {
    if (const NamedProperty* p = options_.names->Find(raw_id)) {
      if (p->kind == NamedProperty::kNumeric) {
        // Numeric names below 0x8000 (PSETID_Meeting's 0x001A, say) would pose as the standard
        // property of that id and overwrite it; they are moved out of the standard range.
        e.id = p->numeric_name >= 0x8000 ? p->numeric_name : kLowNumericNameBase + p->numeric_name;
      } else {
        e.id = kStringNamedId;
        e.name = p->name;
      }
    }
  }
  return e;
}

void ValueResolver::ReadSubnode(PropertyEntry& entry, Nid nid) const {
  if (skips(entry)) {
    // Unread, the value must still be found readable where a full load would have read it.
    if (subnodes_ != nullptr && subnodes_->Readable(nid)) {
      entry.value_skipped = true;
    } else {
      entry.unread_subnode = nid;
    }
    return;
  }
  if (subnodes_ != nullptr) {
    if (auto v = subnodes_->Value(nid)) {
      entry.value = std::move(*v);
      return;
    }
  }
  entry.unread_subnode = nid;
}

ValueResolver::Outcome ValueResolver::Resolve(PropertyEntry& entry, std::uint32_t reference) const {
  if (reference == 0) return Outcome::kEmptyReference;
  if (!hnid_is_heap(reference)) {
    // Not a heap id: the value is too large for the heap and lives in a sub-node.
    ReadSubnode(entry, Nid(reference));
    if (entry.type == kPtypObject) entry.object_nid = Nid(reference);
    return Outcome::kResolved;
  }
  auto bytes = heap_.Lookup(Hid(reference));
  if (!bytes) return Outcome::kUnresolved;
  if (entry.type == kPtypObject) {
    // The heap names the sub-node that holds the object's data.
    const auto object = ObjectReference::Parse(*bytes);
    if (!object) return Outcome::kUnresolved;
    entry.object_nid = object->nid;
    ReadSubnode(entry, object->nid);
    return Outcome::kResolved;
  }
  if (skips(entry)) {
    entry.value_skipped = true;
  } else {
    entry.value = ByteVector(bytes->begin(), bytes->end());
  }
  return Outcome::kResolved;
}

DecodeResult decode_failure(DecodeError code, std::uint32_t hid) {
  DecodeResult r;
  r.failure.code = code;
  r.failure.hid = hid;
  return r;
}

DecodeError decode_error_of(ContextError error) {
  switch (error) {
    case ContextError::kBadBthHeader: return DecodeError::kBadBthHeader;
    case ContextError::kBadBthRoot: return DecodeError::kBadBthRoot;
    case ContextError::kBadTableInfo: return DecodeError::kBadTableInfo;
    case ContextError::kBadRowMatrix: return DecodeError::kBadRowMatrix;
    case ContextError::kWrongClient: return DecodeError::kUnknownClient;
    case ContextError::kNone: break;
  }
  return DecodeError::kNone;
}

bool ResolveInto(const ValueResolver& resolver, PropertyEntry& entry, std::uint32_t reference,
                 DecodeResult& result) {
  switch (resolver.Resolve(entry, reference)) {
    case ValueResolver::Outcome::kResolved:
      return true;
    case ValueResolver::Outcome::kEmptyReference:
      // A reference of 0 is a value of no bytes (an empty string, an empty binary), which is
      // a value all the same: a copy keeps it. An object cannot be empty.
      ++result.empty_references;
      if (entry.type == kPtypObject) return false;
      entry.value = ByteVector{};
      return true;
    case ValueResolver::Outcome::kUnresolved:
      ++result.dropped_entries;
      return false;
  }
  return false;
}

}  // namespace salvora
