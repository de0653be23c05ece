// Text as the file stores it, turned into UTF-8 (the engine's text form).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace corvalin::engine {

// Jet4 and later: UCS-2 little-endian, or the compressed form that starts
// with 0xFF 0xFE. Surrogate pairs become one code point; a lone surrogate
// becomes U+FFFD.
std::string DecodeUnicodeText(std::span<const uint8_t> bytes);
// The same into out, whose storage is reused (a reader decoding row after
// row allocates only when a text is longer than any before it).
void DecodeUnicodeText(std::span<const uint8_t> bytes, std::string& out);

// Jet3: one byte per character in the file's code page. Windows-1252 is
// decoded fully; any other code page falls back to Windows-1252 for bytes
// 0x80..0xFF (ASCII is shared by every code page Access writes).
std::string DecodeCodePageText(std::span<const uint8_t> bytes,
                               uint16_t code_page);
void DecodeCodePageText(std::span<const uint8_t> bytes, uint16_t code_page,
                        std::string& out);

// Appends code point cp to out as UTF-8.
void AppendUtf8(std::string& out, uint32_t cp);

}  // namespace corvalin::engine
