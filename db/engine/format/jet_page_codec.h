// The page encoding of Jet files ("encoded" databases of Access 97 to 2003):
// every page but the header is RC4-enciphered with a key of its own, the
// header's encoding key XORed with the page number (four bytes, low first).
#pragma once

#include <cstdint>
#include <span>

#include "db/engine/format/page_file.h"

namespace corvalin::engine {

// RC4 over data in place with the given key (the same call enciphers and
// deciphers).
void Rc4(std::span<const uint8_t> key, std::span<uint8_t> data);

class JetPageCodec : public PageCodec {
 public:
  explicit JetPageCodec(uint32_t encoding_key) : key_(encoding_key) {}
  void Decode(uint32_t page_number, std::span<uint8_t> page) const override;
  void Encode(uint32_t page_number, std::span<uint8_t> page) const override;

 private:
  uint32_t key_;
};

}  // namespace corvalin::engine
