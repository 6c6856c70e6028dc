#pragma once
// Seeded damage to a whole store, for the damage campaign: the kinds of harm a disk, a copy or a
// crash does to a file, each placed by a seed so that a failing copy can be made again exactly.

#include <cstdint>
#include <string>
#include <vector>

namespace salvora::testing {

using ByteVector = std::vector<std::uint8_t>;

struct StoreDamage {
  std::string name;  // what was done where, to name a failing copy
  ByteVector bytes;  // the damaged copy
};

// The damage of this seed to a store's bytes: bit flips, a zeroed 512-byte or 4 KB page, a
// truncation, a page copied over another, two B-tree pages of one index swapped, a B-tree page
// zeroed, an index root pointer broken (with and without the header checksum made right again),
// or an end-of-file offset past the file's end.
StoreDamage DamageStore(const ByteVector& original, std::uint32_t seed);

// The offsets of the pages of one index (0x80 blocks, 0x81 nodes) whose trailer names them.
std::vector<std::uint64_t> IndexPages(const ByteVector& store, std::uint8_t ptype, int level = -1);
// The pages the root of one index lists (its children, in key order), for damage to live pages.
std::vector<std::uint64_t> RootChildren(const ByteVector& store, std::uint8_t ptype);

// Points one index's root (0x80 blocks, 0x81 nodes) elsewhere; with fix_crc the header's
// checksums are made right again, as a writer that wrote a wrong value would leave them.
void SetRootPointer(ByteVector& store, std::uint8_t ptype, std::uint64_t offset, bool fix_crc);
// Sets the header's end-of-file offset, checksums made right.
void SetEndOfFile(ByteVector& store, std::uint64_t eof);

ByteVector ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const ByteVector& bytes);

}  // namespace salvora::testing
