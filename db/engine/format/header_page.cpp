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
// |   0x71 | 1    |   Jet4+: version of the sort order                 |
// |   0x72 | 8    |   creation date (double)                           |
// | 0x299  | 2+n  | ACE: Office encryption (office_crypt.cpp)          |
#include "db/engine/format/header_page.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "db/engine/error.h"
#include "db/engine/format/coding.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/jet_page_codec.h"

namespace corvalin::engine {
namespace {

// Field offsets in page 0; every field from kMaskedStart on lies within the
// masked block, and all of them within kHeaderPrefixBytes.
constexpr size_t kSignatureOffset = 0x04;
constexpr size_t kVersionOffset = 0x14;
constexpr size_t kMaskedStart = 0x18;
constexpr uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr size_t kCodePageOffset = 0x3C;
constexpr size_t kEncodingKeyOffset = 0x3E;
constexpr size_t kPasswordOffset = 0x42;
constexpr size_t kSortVersionOffset = 0x71;
constexpr size_t kDateOffset = 0x72;
constexpr size_t kEncryptionInfo = 0x299;

// Fields Access fills the same way in every new Jet4 and ACE file: the
// start of the masked block, two bytes before the collation, the engine's
// version at 0x98/0x9C, and the pattern of the page's last 512 bytes.
constexpr uint8_t kMaskedPrefix[] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,
                                     0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
                                     0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
constexpr size_t kUnknown6AOffset = 0x6A;
constexpr uint8_t kUnknown6A[] = {0xA6, 0x11};
constexpr size_t kEngineBuildOffset = 0x98;
constexpr uint8_t kEngineBuild[] = {0x54, 0x06, 0x00, 0x00, '4', '.', '0', 0x00};
constexpr size_t kTrailerPatternStart = 0xE00;

static_assert(kMaskedStart + sizeof kMaskedPrefix <= kCodePageOffset);
static_assert(kEncryptionInfo + 4 <= kHeaderPrefixBytes);

// Jet4 stores the password XORed with the whole days of the creation date.
void MaskPassword(std::span<uint8_t> password, double date) {
  int32_t mask = (date > -2.1e9 && date < 2.1e9) ? static_cast<int32_t>(date) : 0;
  uint8_t m[4];
  Write32(m, 0, uint32_t(mask));
  for (size_t i = 0; i < password.size(); ++i) password[i] ^= m[i % 4];
}

Error Unrecognised(const std::string& file) {
  return Error(kErrUnrecognisedFormat,
               file + " is not an Access database (unrecognised format)");
}

}  // namespace

HeaderPage ParseHeaderPage(std::span<const uint8_t> bytes,
                           const std::string& file) {
  if (bytes.size() < kHeaderPrefixBytes) throw Unrecognised(file);
  if (std::memcmp(bytes.data() + kSignatureOffset, "Standard Jet DB", 16) != 0 &&
      std::memcmp(bytes.data() + kSignatureOffset, "Standard ACE DB", 16) != 0) {
    throw Unrecognised(file);
  }
  HeaderPage h;
  const JetFormat* format = JetFormat::ForStored(bytes[kVersionOffset]);
  if (!format) throw Unrecognised(file);
  h.version = format->version;

  std::vector<uint8_t> plain(bytes.begin(), bytes.begin() + kHeaderPrefixBytes);
  Rc4(kHeaderKey, std::span(plain).subspan(kMaskedStart, format->header_masked_size));
  h.code_page = Read16(plain, kCodePageOffset);
  h.sort_order = Read16(plain, format->header_sort_order_offset);
  if (format->header_sort_version) h.sort_version = plain[kSortVersionOffset];
  h.encoding_key = Read32(plain, kEncodingKeyOffset);
  h.date_created = ReadAs<double>(plain, kDateOffset);

  h.password.assign(plain.begin() + kPasswordOffset,
                    plain.begin() + kPasswordOffset + format->header_password_size);
  if (format->header_password_dated) MaskPassword(h.password, h.date_created);
  for (uint8_t b : h.password) h.has_password |= b != 0;
  if (format->ace) {
    for (size_t i = kEncryptionInfo; i < kEncryptionInfo + 4; ++i) {
      h.office_encrypted |= bytes[i] != 0;
    }
  }
  return h;
}

std::vector<uint8_t> EncodeHeaderPage(JetVersion version, uint16_t code_page,
                                      uint16_t sort_order, uint8_t sort_version,
                                      double date_created, const std::string& password,
                                      size_t page_size) {
  const JetFormat& format = JetFormat::For(version);
  std::vector<uint8_t> p(std::max(page_size, kHeaderPrefixBytes), 0);
  p[1] = 0x01;
  const char* signature = format.ace ? "Standard ACE DB" : "Standard Jet DB";
  std::memcpy(p.data() + kSignatureOffset, signature, 16);
  p[kVersionOffset] = uint8_t(version);
  std::memcpy(p.data() + kMaskedStart, kMaskedPrefix, sizeof kMaskedPrefix);
  Write16(p, kCodePageOffset, code_page);
  std::span<uint8_t> stored(p.data() + kPasswordOffset, format.header_password_size);
  for (size_t c = 0; c < password.size() && 2 * c < stored.size(); ++c)
    stored[2 * c] = uint8_t(password[c]);  // UCS-2, Latin-1 range
  if (format.header_password_dated) MaskPassword(stored, date_created);
  std::memcpy(p.data() + kUnknown6AOffset, kUnknown6A, sizeof kUnknown6A);
  Write16(p, format.header_sort_order_offset, sort_order);
  p[kSortVersionOffset] = sort_version;
  Write64(p, kDateOffset, std::bit_cast<uint64_t>(date_created));
  std::memcpy(p.data() + kEngineBuildOffset, kEngineBuild, sizeof kEngineBuild);
  Rc4(kHeaderKey, std::span(p).subspan(kMaskedStart, format.header_masked_size));
  for (size_t i = kTrailerPatternStart + 1; i < p.size(); i += 2) p[i] = 0x01;
  return p;
}

void CheckPassword(const HeaderPage& header, const std::string& given,
                   const std::string& file) {
  if (!header.has_password) return;
  std::vector<uint8_t> expected(header.password.size(), 0);
  const bool ucs2 = JetFormat::For(header.version).unicode_text;
  size_t at = 0;
  for (unsigned char c : given) {
    if (at >= expected.size()) { at = expected.size() + 1; break; }
    expected[at++] = c;
    if (ucs2) at++;  // Latin-1 range
  }
  if (at > expected.size() || expected != header.password) {
    throw Error(kErrNotValidPassword, "Not a valid password for file " + file + ".");
  }
}

}  // namespace corvalin::engine
