#pragma once
// The block encodings of the PST format. Only the data bytes of external data blocks are
// encoded; pages, trailers and internal blocks (data trees, sub-node blocks) never are.

#include <cstdint>
#include <optional>
#include <span>

namespace salvora {

enum class CryptMethod : std::uint8_t { kNone = 0, kPermute = 1, kCyclic = 2 };

void permute_encode(std::span<std::uint8_t> data);
void permute_decode(std::span<std::uint8_t> data);
// Encodes and decodes alike; the key is the low 32 bits of the block's id.
void cyclic_code(std::span<std::uint8_t> data, std::uint32_t key);

bool decode_block_bytes(std::span<std::uint8_t> data, CryptMethod method, std::uint64_t bid);
bool encode_block_bytes(std::span<std::uint8_t> data, CryptMethod method, std::uint64_t bid);

// The header's bCryptMethod byte; values other than 0, 1 and 2 have no known decoding.
std::optional<CryptMethod> crypt_method_from_byte(std::uint8_t b);
const char* crypt_method_name(CryptMethod m);

}  // namespace salvora
