// Page 0, the header page.
//
// | offset | size | field                                              |
// | 0x00   | 4    | page type 0x00 0x01 0x00 0x00                      |
// | 0x04   | 16   | "Standard Jet DB\0" or "Standard ACE DB\0"         |
// | 0x14   | 4    | version: 0 Jet3, 1 Jet4, 2 ACE12, 3 ACE14, 4 ACE15, |
// |        |      |          5 ACE16, 6 ACE17                          |
// | 0x18   | 126/128 | block masked with RC4, key 0x6B39DAC7:          |
// |   0x3C | 2    |   code page (Jet4+)                                |
// |   0x3E | 4    |   page encoding key (0: pages not encoded)         |
// |   0x42 | 20/40|   database password (Jet3 bytes, Jet4 UCS-2; Jet4  |
// |        |      |   additionally XORed with the creation date)       |
// |   0x3A | 2    |   Jet3: sort order (collation)                     |
// |   0x6E | 2    |   Jet4+: sort order (collation, 1033 general)      |
// |   0x72 | 8    |   creation date (double)                           |
// | 0x298  | 1+   | ACE: Office encryption flags / EncryptionInfo      |
#include "db/engine/format/header_page.h"

#include <cstring>

#include "db/engine/error.h"
#include "db/engine/format/jet_page_codec.h"

namespace corvalin::engine {
namespace {

constexpr size_t kMaskedStart = 0x18;
constexpr size_t kMaskedJet3 = 126;
constexpr size_t kMaskedJet4 = 128;
constexpr uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr size_t kPasswordOffset = 0x42;
constexpr size_t kDateOffset = 0x72;
constexpr size_t kEncryptionInfo = 0x299;
constexpr size_t kMinimumLength = 0x2A0;

uint32_t U32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

Error Unrecognised(const std::string& file) {
  return Error(kErrUnrecognisedFormat,
               file + " is not an Access database (unrecognised format)");
}

}  // namespace

HeaderPage ParseHeaderPage(std::span<const uint8_t> bytes,
                           const std::string& file) {
  if (bytes.size() < kMinimumLength) throw Unrecognised(file);
  if (std::memcmp(bytes.data() + 4, "Standard Jet DB", 16) != 0 &&
      std::memcmp(bytes.data() + 4, "Standard ACE DB", 16) != 0) {
    throw Unrecognised(file);
  }
  HeaderPage h;
  uint32_t version = bytes[0x14];
  if (version > 6) throw Unrecognised(file);
  h.version = static_cast<JetVersion>(version);
  bool jet3 = h.version == JetVersion::kJet3;

  std::vector<uint8_t> plain(bytes.begin(), bytes.begin() + kMinimumLength);
  Rc4(kHeaderKey, std::span(plain).subspan(kMaskedStart,
                                           jet3 ? kMaskedJet3 : kMaskedJet4));
  h.code_page = plain[0x3C] | (plain[0x3D] << 8);
  size_t sort_at = jet3 ? 0x3A : 0x6E;
  h.sort_order = plain[sort_at] | (plain[sort_at + 1] << 8);
  h.encoding_key = U32(plain.data() + 0x3E);
  std::memcpy(&h.date_created, plain.data() + kDateOffset, sizeof(double));

  size_t password_size = jet3 ? 20 : 40;
  h.password.assign(plain.begin() + kPasswordOffset,
                    plain.begin() + kPasswordOffset + password_size);
  if (!jet3) {
    double date = h.date_created;
    int32_t mask = (date > -2.1e9 && date < 2.1e9) ? static_cast<int32_t>(date) : 0;
    uint8_t m[4] = {uint8_t(mask), uint8_t(mask >> 8), uint8_t(mask >> 16),
                    uint8_t(mask >> 24)};
    for (size_t i = 0; i < h.password.size(); ++i) h.password[i] ^= m[i % 4];
  }
  for (uint8_t b : h.password) h.has_password |= b != 0;
  if (version >= 2) {
    for (size_t i = kEncryptionInfo; i < kEncryptionInfo + 4; ++i) {
      h.office_encrypted |= bytes[i] != 0;
    }
  }
  return h;
}

void CheckPassword(const HeaderPage& header, const std::string& given,
                   const std::string& file) {
  if (!header.has_password) return;
  std::vector<uint8_t> expected(header.password.size(), 0);
  bool jet3 = header.version == JetVersion::kJet3;
  size_t at = 0;
  for (unsigned char c : given) {
    if (at >= expected.size()) { at = expected.size() + 1; break; }
    expected[at++] = c;
    if (!jet3) at++;  // UCS-2, Latin-1 range
  }
  if (at > expected.size() || expected != header.password) {
    throw Error(kErrNotValidPassword, "Not a valid password for file " + file + ".");
  }
}

}  // namespace corvalin::engine
