// The page encoding of Jet files ("encoded" databases of Access 97 to 2003):
// every page but the header is RC4-enciphered with a key of its own, the
// header's encoding key XORed with the page number (four bytes, low first).
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <span>
#include <unordered_map>
#include <vector>

#include "db/engine/format/page_file.h"

namespace corvalin::engine {

// RC4 over data in place with the given key (the same call enciphers and
// deciphers).
void Rc4(std::span<const uint8_t> key, std::span<uint8_t> data);

// The RC4 keystreams of the pages a writer enciphered last. A page's cipher
// is its bytes XORed with a keystream that depends only on its number, so
// a page enciphered again (a leaf that save after save changes, logged and
// written each time) costs an XOR instead of RC4's key schedule and a
// page of its output. Only enciphering keeps a stream, so a file that is
// only read takes no memory; deciphering uses one when it is kept. The
// streams used last are kept, at most kStreams (16 MB of 4 KB pages): the
// leaves a run keeps changing, while each new data page passes through.
// Safe to use from several threads.
class Rc4Keystreams {
 public:
  static constexpr size_t kStreams = 4096;

  // XORs data (page `number`'s bytes) with RC4 under key(number): the
  // same call enciphers and deciphers. keep: remember the stream.
  void Apply(uint32_t number, std::span<uint8_t> data, bool keep,
             const std::function<std::vector<uint8_t>(uint32_t)>& key) const;

 private:
  struct Stream {
    uint32_t number = 0;
    std::vector<uint8_t> bytes;
  };
  mutable std::mutex mutex_;
  mutable std::list<Stream> streams_;  // the one used last first
  mutable std::unordered_map<uint32_t, std::list<Stream>::iterator> by_number_;
};

class JetPageCodec : public PageCodec {
 public:
  explicit JetPageCodec(uint32_t encoding_key) : key_(encoding_key) {}
  void Decode(uint32_t page_number, std::span<uint8_t> page) const override;
  void Encode(uint32_t page_number, std::span<uint8_t> page) const override;

 private:
  std::vector<uint8_t> Key(uint32_t page_number) const;

  uint32_t key_;
  Rc4Keystreams streams_;
};

}  // namespace corvalin::engine
