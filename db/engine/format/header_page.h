// Page 0 of a database file: signature, version, masked header block.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "db/engine/format/database.h"

namespace corvalin::engine {

struct HeaderPage {
  JetVersion version = JetVersion::kJet4;
  uint16_t code_page = 0;
  uint16_t sort_order = 0;      // the database's collation
  uint32_t encoding_key = 0;    // Jet RC4 page encoding; 0 when plain
  bool office_encrypted = false;  // ACE: Office encryption header present
  uint8_t sort_version = 0;     // Jet4+: 1 for the General order of ACE 2010
  double date_created = 0;
  std::vector<uint8_t> password;  // unmasked stored password bytes
  bool has_password = false;
};

// The bytes of page 0 that ParseHeaderPage reads.
inline constexpr size_t kHeaderPrefixBytes = 0x2A0;

// Decodes page 0. Throws Error kErrUnrecognisedFormat naming the file when
// the bytes are too short or carry no signature.
HeaderPage ParseHeaderPage(std::span<const uint8_t> bytes,
                           const std::string& file);

// Page 0 of a new Jet4 or ACE file of `page_size` bytes: version, code
// page, sort order and its version, creation date and `password` (ASCII,
// stored as UCS-2), with the fields Access fills the same way in every new
// file. ParseHeaderPage reads the same values back.
std::vector<uint8_t> EncodeHeaderPage(JetVersion version, uint16_t code_page,
                                      uint16_t sort_order, uint8_t sort_version,
                                      double date_created, const std::string& password,
                                      size_t page_size);

// Throws kErrNotValidPassword when the header has a password and `given`
// is not it; a password given for a file without one is ignored.
void CheckPassword(const HeaderPage& header, const std::string& given,
                   const std::string& file);

}  // namespace corvalin::engine
