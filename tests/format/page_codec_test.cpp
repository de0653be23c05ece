// RC4 and the keystreams a writer keeps for the pages it enciphers: a page
// enciphered from a kept stream must be what RC4 itself gives, whether the
// stream was kept, let go for others, or is used from two threads at once.
#include "db/engine/format/jet_page_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace corvalin::engine {
namespace {

std::vector<uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

TEST(Rc4, GivesTheKnownCiphers) {
  struct Vector {
    const char* key;
    const char* plain;
    std::vector<uint8_t> cipher;
  };
  const Vector vectors[] = {
      {"Key", "Plaintext", {0xBB, 0xF3, 0x16, 0xE8, 0xD9, 0x40, 0xAF, 0x0A, 0xD3}},
      {"Wiki", "pedia", {0x10, 0x21, 0xBF, 0x04, 0x20}},
      {"Secret",
       "Attack at dawn",
       {0x45, 0xA0, 0x1F, 0x64, 0x5F, 0xC3, 0x5B, 0x38, 0x35, 0x52, 0x54, 0x4B, 0x9B, 0xF5}},
  };
  for (const Vector& v : vectors) {
    std::vector<uint8_t> data = Text(v.plain);
    Rc4(Text(v.key), data);
    EXPECT_EQ(data, v.cipher) << v.key;
    Rc4(Text(v.key), data);
    EXPECT_EQ(data, Text(v.plain)) << v.key;
  }
}

// Page n's key in these tests, as a codec makes one from the page number.
std::vector<uint8_t> KeyOf(uint32_t n) {
  return {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), 0x5A, 0xC3};
}

std::vector<uint8_t> PagePlain(uint32_t n, size_t size) {
  std::vector<uint8_t> page(size);
  for (size_t i = 0; i < size; ++i) page[i] = uint8_t(n * 31 + i * 7);
  return page;
}

std::vector<uint8_t> Rc4Of(uint32_t n, std::vector<uint8_t> page) {
  Rc4(KeyOf(n), page);
  return page;
}

TEST(Rc4Keystreams, PagesEncipheredFromKeptStreamsAreRc4sOwnCiphers) {
  Rc4Keystreams streams;
  const size_t more = Rc4Keystreams::kStreams + 500;  // some streams are let go
  for (int pass = 0; pass < 2; ++pass) {
    for (uint32_t n = 0; n < more; n += (pass == 0 ? 1 : 7)) {
      std::vector<uint8_t> page = PagePlain(n, 4096);
      streams.Apply(n, page, true, KeyOf);
      ASSERT_EQ(page, Rc4Of(n, PagePlain(n, 4096))) << "page " << n << ", pass " << pass;
      // Deciphering, from the kept stream, gives the page back.
      streams.Apply(n, page, false, KeyOf);
      ASSERT_EQ(page, PagePlain(n, 4096)) << "page " << n;
    }
  }
  // A page of another size (a file of 2 KB pages) is not taken for the
  // kept stream of its number; nor is a page deciphered that none kept.
  std::vector<uint8_t> small = PagePlain(3, 2048 + 5);
  streams.Apply(3, small, false, KeyOf);
  EXPECT_EQ(small, Rc4Of(3, PagePlain(3, 2048 + 5)));
  std::vector<uint8_t> never = PagePlain(900000, 4096);
  streams.Apply(900000, never, false, KeyOf);
  EXPECT_EQ(never, Rc4Of(900000, PagePlain(900000, 4096)));
}

TEST(Rc4Keystreams, TwoThreadsEncipherAndDecipherAtOnce) {
  Rc4Keystreams streams;
  auto work = [&](uint32_t first, bool* right) {
    *right = true;
    for (int round = 0; round < 3; ++round) {
      for (uint32_t n = first; n < first + 3000; ++n) {
        std::vector<uint8_t> page = PagePlain(n, 512);
        streams.Apply(n, page, round != 1, KeyOf);
        if (page != Rc4Of(n, PagePlain(n, 512))) *right = false;
      }
    }
  };
  bool right_a = false, right_b = false;
  std::thread a(work, 0u, &right_a);
  std::thread b(work, 1500u, &right_b);  // half of the pages are a's too
  a.join();
  b.join();
  EXPECT_TRUE(right_a);
  EXPECT_TRUE(right_b);
}

}  // namespace
}  // namespace corvalin::engine
