// Bounded little-endian coding of the format's numbers.
//
// Every number in an Access file is little-endian, except index keys and
// the row pointer and child page at the end of an index entry, which are
// big-endian so that they sort as bytes. Every read and write here checks that the bytes lie
// inside the span first; one that would leave it throws the damaged-page
// error naming where the bytes came from (DamagedAt) and what was being read.
// A write past the end is a fault of ours rather than of the file, but a
// page that cannot hold what its own counts promise is damaged all the same.
//
// The functions are inline and build the error only on the cold path, so a
// decoder pays one compare per number (none where the compiler sees the
// caller's own check); the row and index scans rely on it. A DamagedAt passed
// in is built by the caller on every call, so the hot decoders, which check
// their bounds before reading, use the forms without one.
//
//   uint16_t rows = Read16(page, format.data_row_count_offset,
//                          {.file = path, .page = n}, "the row count");
//
// ByteReader and ByteWriter bind a span to its DamagedAt once, for decoders
// that read many numbers of one page or blob.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "db/engine/error.h"

namespace corvalin::engine {

// Whether n bytes at `at` lie inside a span of `size` bytes (no overflow).
constexpr bool Fits(size_t size, size_t at, size_t n) {
  return at <= size && n <= size - at;
}

namespace coding_internal {

[[noreturn, gnu::cold, gnu::noinline]] inline void PastEnd(
    const DamagedAt& where, std::string_view what, size_t at, size_t n,
    size_t size) {
  std::string d = what.empty() ? std::string("it ends too early")
                               : std::string(what) + " runs past the end";
  d += " (" + std::to_string(n) + " bytes at offset " + std::to_string(at) +
       " of " + std::to_string(size) + ")";
  throw DamagedPage(where, d);
}

// Without a place: the error is built, place and all, only when thrown, so
// a check the caller has already made costs nothing.
[[noreturn, gnu::cold, gnu::noinline]] inline void PastEnd(size_t at, size_t n,
                                                           size_t size) {
  PastEnd(DamagedAt{}, {}, at, n, size);
}

inline void Check(size_t size, size_t at, size_t n) {
  if (!Fits(size, at, n)) [[unlikely]]
    PastEnd(at, n, size);
}
inline void Check(size_t size, size_t at, size_t n, const DamagedAt& where,
                  std::string_view what) {
  if (!Fits(size, at, n)) [[unlikely]]
    PastEnd(where, what, at, n, size);
}

// The unsigned type of N bytes, for the whole-word copies below.
template <size_t N>
using Word = std::conditional_t<
    N == 1, uint8_t,
    std::conditional_t<N == 2, uint16_t, std::conditional_t<N == 4, uint32_t, uint64_t>>>;
template <size_t N>
constexpr bool kWholeWord = (N == 1 || N == 2 || N == 4 || N == 8) &&
                            std::endian::native == std::endian::little;

// On a little-endian host a stored number is the host's own: one copy, which
// the compiler turns into one load or store (as leveldb's coding does).
template <size_t N>
uint64_t LoadLe(const uint8_t* p) {
  if constexpr (kWholeWord<N>) {
    Word<N> w;
    std::memcpy(&w, p, N);
    return w;
  } else {
    uint64_t v = 0;
    for (size_t i = 0; i < N; ++i) v |= uint64_t(p[i]) << (8 * i);
    return v;
  }
}

template <size_t N>
void StoreLe(uint8_t* p, uint64_t v) {
  if constexpr (kWholeWord<N>) {
    const Word<N> w = Word<N>(v);
    std::memcpy(p, &w, N);
  } else {
    for (size_t i = 0; i < N; ++i) p[i] = uint8_t(v >> (8 * i));
  }
}

template <size_t N>
uint64_t LoadBe(const uint8_t* p) {
  uint64_t v = 0;
  for (size_t i = 0; i < N; ++i) v = v << 8 | p[i];
  return v;
}

template <size_t N>
void StoreBe(uint8_t* p, uint64_t v) {
  for (size_t i = 0; i < N; ++i) p[N - 1 - i] = uint8_t(v >> (8 * i));
}

}  // namespace coding_internal

// Reading: the value of the 1, 2, 3, 4 or 8 bytes at `at`. Each comes
// with and without a DamagedAt: without one the error names no file, so it
// is for bytes whose bounds the caller has checked already (the row and
// value decoders, which name their own place) and for buffers being built.
inline uint8_t Read8(std::span<const uint8_t> b, size_t at) {
  coding_internal::Check(b.size(), at, 1);
  return uint8_t(coding_internal::LoadLe<1>(b.data() + at));
}
inline uint8_t Read8(std::span<const uint8_t> b, size_t at, const DamagedAt& where,
                     std::string_view what = {}) {
  coding_internal::Check(b.size(), at, 1, where, what);
  return uint8_t(coding_internal::LoadLe<1>(b.data() + at));
}
inline uint16_t Read16(std::span<const uint8_t> b, size_t at) {
  coding_internal::Check(b.size(), at, 2);
  return uint16_t(coding_internal::LoadLe<2>(b.data() + at));
}
inline uint16_t Read16(std::span<const uint8_t> b, size_t at, const DamagedAt& where,
                       std::string_view what = {}) {
  coding_internal::Check(b.size(), at, 2, where, what);
  return uint16_t(coding_internal::LoadLe<2>(b.data() + at));
}
inline uint32_t Read24(std::span<const uint8_t> b, size_t at) {
  coding_internal::Check(b.size(), at, 3);
  return uint32_t(coding_internal::LoadLe<3>(b.data() + at));
}
inline uint32_t Read24(std::span<const uint8_t> b, size_t at, const DamagedAt& where,
                       std::string_view what = {}) {
  coding_internal::Check(b.size(), at, 3, where, what);
  return uint32_t(coding_internal::LoadLe<3>(b.data() + at));
}
inline uint32_t Read32(std::span<const uint8_t> b, size_t at) {
  coding_internal::Check(b.size(), at, 4);
  return uint32_t(coding_internal::LoadLe<4>(b.data() + at));
}
inline uint32_t Read32(std::span<const uint8_t> b, size_t at, const DamagedAt& where,
                       std::string_view what = {}) {
  coding_internal::Check(b.size(), at, 4, where, what);
  return uint32_t(coding_internal::LoadLe<4>(b.data() + at));
}
inline uint64_t Read64(std::span<const uint8_t> b, size_t at) {
  coding_internal::Check(b.size(), at, 8);
  return uint64_t(coding_internal::LoadLe<8>(b.data() + at));
}
inline uint64_t Read64(std::span<const uint8_t> b, size_t at, const DamagedAt& where,
                       std::string_view what = {}) {
  coding_internal::Check(b.size(), at, 8, where, what);
  return uint64_t(coding_internal::LoadLe<8>(b.data() + at));
}
// Big-endian, for the tail of an index entry.
inline uint32_t Read24BE(std::span<const uint8_t> b, size_t at) {
  coding_internal::Check(b.size(), at, 3);
  return uint32_t(coding_internal::LoadBe<3>(b.data() + at));
}
inline uint32_t Read24BE(std::span<const uint8_t> b, size_t at, const DamagedAt& where,
                         std::string_view what = {}) {
  coding_internal::Check(b.size(), at, 3, where, what);
  return uint32_t(coding_internal::LoadBe<3>(b.data() + at));
}
inline uint32_t Read32BE(std::span<const uint8_t> b, size_t at) {
  coding_internal::Check(b.size(), at, 4);
  return uint32_t(coding_internal::LoadBe<4>(b.data() + at));
}
inline uint32_t Read32BE(std::span<const uint8_t> b, size_t at, const DamagedAt& where,
                         std::string_view what = {}) {
  coding_internal::Check(b.size(), at, 4, where, what);
  return uint32_t(coding_internal::LoadBe<4>(b.data() + at));
}
// The n bytes at `at`.
inline std::span<const uint8_t> ReadBytes(std::span<const uint8_t> b, size_t at,
                                          size_t n) {
  coding_internal::Check(b.size(), at, n);
  return b.subspan(at, n);
}
inline std::span<const uint8_t> ReadBytes(std::span<const uint8_t> b, size_t at,
                                          size_t n, const DamagedAt& where,
                                          std::string_view what = {}) {
  coding_internal::Check(b.size(), at, n, where, what);
  return b.subspan(at, n);
}

// A number of any arithmetic type of 1, 2, 4 or 8 bytes (integers of
// either sign, float, double) as stored: its bits, little-endian.
template <typename T, typename... Where>
T ReadAs(std::span<const uint8_t> b, size_t at, const Where&... where) {
  static_assert(std::is_arithmetic_v<T>);
  if constexpr (sizeof(T) == 1) return std::bit_cast<T>(Read8(b, at, where...));
  else if constexpr (sizeof(T) == 2) return std::bit_cast<T>(Read16(b, at, where...));
  else if constexpr (sizeof(T) == 4) return std::bit_cast<T>(Read32(b, at, where...));
  else return std::bit_cast<T>(Read64(b, at, where...));
}

// Writing: v into the 1, 2, 3, 4 or 8 bytes at `at` (higher bits dropped).
inline void Write8(std::span<uint8_t> b, size_t at, uint8_t v) {
  coding_internal::Check(b.size(), at, 1);
  coding_internal::StoreLe<1>(b.data() + at, v);
}
inline void Write8(std::span<uint8_t> b, size_t at, uint8_t v, const DamagedAt& where,
                   std::string_view what = {}) {
  coding_internal::Check(b.size(), at, 1, where, what);
  coding_internal::StoreLe<1>(b.data() + at, v);
}
inline void Write16(std::span<uint8_t> b, size_t at, uint16_t v) {
  coding_internal::Check(b.size(), at, 2);
  coding_internal::StoreLe<2>(b.data() + at, v);
}
inline void Write16(std::span<uint8_t> b, size_t at, uint16_t v, const DamagedAt& where,
                    std::string_view what = {}) {
  coding_internal::Check(b.size(), at, 2, where, what);
  coding_internal::StoreLe<2>(b.data() + at, v);
}
inline void Write24(std::span<uint8_t> b, size_t at, uint32_t v) {
  coding_internal::Check(b.size(), at, 3);
  coding_internal::StoreLe<3>(b.data() + at, v);
}
inline void Write24(std::span<uint8_t> b, size_t at, uint32_t v, const DamagedAt& where,
                    std::string_view what = {}) {
  coding_internal::Check(b.size(), at, 3, where, what);
  coding_internal::StoreLe<3>(b.data() + at, v);
}
inline void Write32(std::span<uint8_t> b, size_t at, uint32_t v) {
  coding_internal::Check(b.size(), at, 4);
  coding_internal::StoreLe<4>(b.data() + at, v);
}
inline void Write32(std::span<uint8_t> b, size_t at, uint32_t v, const DamagedAt& where,
                    std::string_view what = {}) {
  coding_internal::Check(b.size(), at, 4, where, what);
  coding_internal::StoreLe<4>(b.data() + at, v);
}
inline void Write64(std::span<uint8_t> b, size_t at, uint64_t v) {
  coding_internal::Check(b.size(), at, 8);
  coding_internal::StoreLe<8>(b.data() + at, v);
}
inline void Write64(std::span<uint8_t> b, size_t at, uint64_t v, const DamagedAt& where,
                    std::string_view what = {}) {
  coding_internal::Check(b.size(), at, 8, where, what);
  coding_internal::StoreLe<8>(b.data() + at, v);
}
inline void Write24BE(std::span<uint8_t> b, size_t at, uint32_t v) {
  coding_internal::Check(b.size(), at, 3);
  coding_internal::StoreBe<3>(b.data() + at, v);
}
inline void Write24BE(std::span<uint8_t> b, size_t at, uint32_t v, const DamagedAt& where,
                      std::string_view what = {}) {
  coding_internal::Check(b.size(), at, 3, where, what);
  coding_internal::StoreBe<3>(b.data() + at, v);
}
inline void Write32BE(std::span<uint8_t> b, size_t at, uint32_t v) {
  coding_internal::Check(b.size(), at, 4);
  coding_internal::StoreBe<4>(b.data() + at, v);
}
inline void Write32BE(std::span<uint8_t> b, size_t at, uint32_t v, const DamagedAt& where,
                      std::string_view what = {}) {
  coding_internal::Check(b.size(), at, 4, where, what);
  coding_internal::StoreBe<4>(b.data() + at, v);
}

// Writes a number of an arithmetic type as stored (see ReadAs).
template <typename T, typename... Where>
void WriteAs(std::span<uint8_t> b, size_t at, T v, const Where&... where) {
  static_assert(std::is_arithmetic_v<T>);
  if constexpr (sizeof(T) == 1) Write8(b, at, std::bit_cast<uint8_t>(v), where...);
  else if constexpr (sizeof(T) == 2) Write16(b, at, std::bit_cast<uint16_t>(v), where...);
  else if constexpr (sizeof(T) == 4) Write32(b, at, std::bit_cast<uint32_t>(v), where...);
  else Write64(b, at, std::bit_cast<uint64_t>(v), where...);
}

// Appending to a growing buffer (no bounds to check).
inline void Append8(std::vector<uint8_t>& out, uint8_t v) { out.push_back(v); }
inline void Append16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
inline void Append24(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 3; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
inline void Append32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
inline void Append64(std::vector<uint8_t>& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
// Big-endian, for index keys and the tail of an index entry.
inline void Append16BE(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}
inline void Append24BE(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 2; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}
inline void Append32BE(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 3; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}
inline void Append64BE(std::vector<uint8_t>& out, uint64_t v) {
  for (int i = 7; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}
// The low `size` bytes of v, most significant first (index keys of the
// integer and floating-point types, whose size is the column's).
inline void AppendBE(std::vector<uint8_t>& out, uint64_t v, size_t size) {
  for (size_t i = size; i-- > 0;) out.push_back(uint8_t(v >> (8 * i)));
}

// Appends a number of an arithmetic type as stored (see ReadAs).
template <typename T>
void AppendAs(std::vector<uint8_t>& out, T v) {
  static_assert(std::is_arithmetic_v<T>);
  if constexpr (sizeof(T) == 1) Append8(out, std::bit_cast<uint8_t>(v));
  else if constexpr (sizeof(T) == 2) Append16(out, std::bit_cast<uint16_t>(v));
  else if constexpr (sizeof(T) == 4) Append32(out, std::bit_cast<uint32_t>(v));
  else Append64(out, std::bit_cast<uint64_t>(v));
}

// The bytes of v, for hashing or comparing with bytes read.
inline std::array<uint8_t, 4> Encode32(uint32_t v) {
  std::array<uint8_t, 4> b;
  coding_internal::StoreLe<4>(b.data(), v);
  return b;
}

// A span and where it came from, read number by number.
class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes, DamagedAt where = {})
      : bytes_(bytes), where_(where) {}

  uint8_t U8(size_t at, std::string_view what = {}) const {
    return Read8(bytes_, at, where_, what);
  }
  uint16_t U16(size_t at, std::string_view what = {}) const {
    return Read16(bytes_, at, where_, what);
  }
  uint32_t U24(size_t at, std::string_view what = {}) const {
    return Read24(bytes_, at, where_, what);
  }
  uint32_t U32(size_t at, std::string_view what = {}) const {
    return Read32(bytes_, at, where_, what);
  }
  uint64_t U64(size_t at, std::string_view what = {}) const {
    return Read64(bytes_, at, where_, what);
  }
  std::span<const uint8_t> Bytes(size_t at, size_t n,
                                 std::string_view what = {}) const {
    return ReadBytes(bytes_, at, n, where_, what);
  }
  // Throws unless n bytes at `at` are inside.
  void Need(size_t at, size_t n, std::string_view what = {}) const {
    coding_internal::Check(bytes_.size(), at, n, where_, what);
  }
  bool Has(size_t at, size_t n) const { return Fits(bytes_.size(), at, n); }

  size_t size() const { return bytes_.size(); }
  std::span<const uint8_t> bytes() const { return bytes_; }
  const DamagedAt& where() const { return where_; }

 private:
  std::span<const uint8_t> bytes_;
  DamagedAt where_;
};

// A span being filled and where it goes, written number by number.
class ByteWriter {
 public:
  explicit ByteWriter(std::span<uint8_t> bytes, DamagedAt where = {})
      : bytes_(bytes), where_(where) {}

  void U8(size_t at, uint8_t v, std::string_view what = {}) {
    Write8(bytes_, at, v, where_, what);
  }
  void U16(size_t at, uint16_t v, std::string_view what = {}) {
    Write16(bytes_, at, v, where_, what);
  }
  void U24(size_t at, uint32_t v, std::string_view what = {}) {
    Write24(bytes_, at, v, where_, what);
  }
  void U32(size_t at, uint32_t v, std::string_view what = {}) {
    Write32(bytes_, at, v, where_, what);
  }
  void U64(size_t at, uint64_t v, std::string_view what = {}) {
    Write64(bytes_, at, v, where_, what);
  }

  size_t size() const { return bytes_.size(); }
  std::span<uint8_t> bytes() const { return bytes_; }

 private:
  std::span<uint8_t> bytes_;
  DamagedAt where_;
};

}  // namespace corvalin::engine
