// Office encryption of ACE files ("Encrypt with Password", Access 2007 and
// later): the header page carries an encryption description, and every
// other page is enciphered with a key of its own, made from the password
// and the page number.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "db/engine/format/page_file.h"

namespace corvalin::engine {

// The page codec of an Office-encrypted file, from its header page as
// stored (the encryption description lies outside the masked block), the
// header's page encoding key and the password. Throws Error
// kErrNotValidPassword when the password is not the file's, kErrEncrypted
// naming the file when its kind of encryption is not one we read, and
// kErrDamagedFile when the description is malformed.
std::shared_ptr<PageCodec> MakeOfficePageCodec(std::span<const uint8_t> header_page,
                                               uint32_t encoding_key,
                                               const std::string& password,
                                               const std::string& file);

}  // namespace corvalin::engine
