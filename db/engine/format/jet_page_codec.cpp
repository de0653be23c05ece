#include "db/engine/format/jet_page_codec.h"

#include <utility>

#include "db/engine/format/coding.h"

namespace corvalin::engine {

void Rc4(std::span<const uint8_t> key, std::span<uint8_t> data) {
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % key.size()]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  for (size_t k = 0, i = 0, j = 0; k < data.size(); ++k) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    data[k] ^= s[(s[i] + s[j]) & 0xFF];
  }
}

void JetPageCodec::Decode(uint32_t page_number, std::span<uint8_t> page) const {
  const uint32_t k = key_ ^ page_number;
  Rc4(Encode32(k), page);
}

void JetPageCodec::Encode(uint32_t page_number, std::span<uint8_t> page) const {
  Decode(page_number, page);  // RC4 is its own inverse
}

}  // namespace corvalin::engine
