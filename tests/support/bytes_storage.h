// A Storage over bytes a test keeps in memory: the reading half that the
// tests' page files share; each test says how its bytes are written.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "db/engine/format/page_log.h"
#include "db/engine/format/storage.h"

namespace corvalin::testing {

class BytesStorage : public engine::Storage {
 public:
  explicit BytesStorage(std::string path, bool writable = true)
      : path_(std::move(path)), writable_(writable) {}
  const std::string& path() const override { return path_; }
  bool writable() const override { return writable_; }
  uint64_t Size() override { return bytes().size(); }
  uint64_t Stamp() override { return engine::LogChecksum(0, bytes()); }
  size_t Read(uint64_t offset, uint8_t* const* buffers, size_t count, size_t each) override {
    size_t done = 0;
    for (size_t k = 0; k < count; ++k) {
      const uint64_t at = offset + k * each;
      if (at >= bytes().size()) break;
      const size_t n = std::min<uint64_t>(each, bytes().size() - at);
      std::copy_n(bytes().begin() + at, n, buffers[k]);
      done += n;
      if (n < each) break;
    }
    return done;
  }

 protected:
  // The file's bytes as they are now.
  virtual std::vector<uint8_t>& bytes() = 0;
  std::string path_;

 private:
  bool writable_;
};

// The same over a vector the test keeps, written in place; Sync has
// nothing to do.
class VectorStorage : public BytesStorage {
 public:
  VectorStorage(std::string path, std::vector<uint8_t>& bytes)
      : BytesStorage(std::move(path)), bytes_(bytes) {}
  void Write(uint64_t offset, std::span<const uint8_t> data) override {
    if (bytes_.size() < offset + data.size()) bytes_.resize(offset + data.size());
    std::copy(data.begin(), data.end(), bytes_.begin() + ptrdiff_t(offset));
  }
  void Truncate(uint64_t size) override { bytes_.resize(size); }
  void Sync() override {}

 protected:
  std::vector<uint8_t>& bytes() override { return bytes_; }

 private:
  std::vector<uint8_t>& bytes_;
};

}  // namespace corvalin::testing
