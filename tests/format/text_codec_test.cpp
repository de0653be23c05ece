#include "db/engine/format/text_codec.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvalin::engine {
namespace {

std::string Decode(std::vector<uint8_t> b) { return DecodeUnicodeText(b); }

TEST(TextCodec, Ucs2CompressedSwitchesAndSurrogates) {
  EXPECT_EQ(Decode({'A', 0, 0xE9, 0}), "A\xC3\xA9");
  // compressed: "ab", switch to two-byte U+20AC, switch back to "c"
  EXPECT_EQ(Decode({0xFF, 0xFE, 'a', 'b', 0, 0xAC, 0x20, 0, 'c'}),
            "ab\xE2\x82\xAC" "c");
  // U+1F600 as a surrogate pair; a lone high surrogate becomes U+FFFD
  EXPECT_EQ(Decode({0x3D, 0xD8, 0x00, 0xDE}), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Decode({0x3D, 0xD8, 'x', 0}), "\xEF\xBF\xBDx");
  // a dangling half character is dropped, never read past the end
  EXPECT_EQ(Decode({0xFF, 0xFE, 'a', 0, 0x41}), "a");
}

TEST(TextCodec, Windows1252) {
  std::vector<uint8_t> b{'A', 0x80, 0xE9, 0x9C};
  EXPECT_EQ(DecodeCodePageText(b, 1252), "A\xE2\x82\xAC\xC3\xA9\xC5\x93");
}

}  // namespace
}  // namespace corvalin::engine
