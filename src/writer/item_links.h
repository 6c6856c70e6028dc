#pragma once
// Entry ids inside an item that name other objects of the source store: a message's sent mail
// folder, a distribution list's members, a recipient picked from the contacts, a contact link.
// Each names the object by the source store's record key and the object's NID, which mean
// nothing in the PST (or, worse, the NID names another object there). The copy gets each one
// as the entry id of the object made from it, or without it when that object is not in the PST.
//
// An entry id comes bare (24 bytes) or wrapped in the forms that carry one inside: the wrapped
// form of a distribution list's members and a contact-list address (flags, provider, type, the
// id), and the contact address book's form of a recipient (flags, provider, version, type,
// index, size, the id).

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "content/named_property_map.h"
#include "engine/source_object.h"
#include "writer/property_copy.h"

namespace salvora {

using StoreKey = std::array<std::uint8_t, 16>;

// The PST's entry id of the object made from a source NID; empty when none was made.
using MadeObjectLookup = std::function<std::optional<std::vector<std::uint8_t>>(Nid)>;

// The source objects that source's entry ids name, its own NID (self) left out: its properties
// and its recipient rows, bare or wrapped, single or in a list.
std::vector<Nid> linked_objects(const SourceObject& source, const StoreKey& key, Nid self);

// Rewrites every entry id of source (but its own entry id and its parent's, which the store
// computes) that names an object of the store with this key: to the PST's entry id of the
// object made from it, or out of the copy when none was made. A distribution list keeps a
// member whose contact is not in the PST as the address its one-off list gives for it, and its
// checksum follows its members. A link of the item to itself (self) is left out: the PST gives
// the item its entry id only as it is written. Returns each link taken out but those.
std::vector<DroppedProperty> relink_object(SourceObject& source, const StoreKey& key, Nid self,
                                           const NamedPropertyMap* names, const MadeObjectLookup& made);

// The CRC a distribution list keeps of its members: over the members' bytes back to back.
std::uint32_t member_checksum(Bytes members);

}  // namespace salvora
