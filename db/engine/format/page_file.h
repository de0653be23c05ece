// The one seam through which every page of a database file is read and
// written. One PageFile exists per open file in the process (looked up by
// device and inode), so that every connection to the same file shares its
// page cache and sees the others' writes. Encryption (a page codec) and
// crash safety are layered here and nowhere else.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace corvalin::engine {

// A page as read from the file (decoded when the file is encoded), owned by
// the cache; holders keep it alive while they read it.
using PageData = std::vector<uint8_t>;
using PagePtr = std::shared_ptr<const PageData>;

// Turns stored page bytes into plain ones and back (RC4 and Office
// encryption plug in here).
class PageCodec {
 public:
  virtual ~PageCodec() = default;
  virtual void Decode(uint32_t page_number, std::span<uint8_t> page) const = 0;
  virtual void Encode(uint32_t page_number, std::span<uint8_t> page) const = 0;
};

class PageFile {
 public:
  // The process-wide PageFile of the file at path (opened on first use).
  // Throws Error: file not found, locked by another process, I/O error.
  static std::shared_ptr<PageFile> Get(const std::string& path, bool writable);
  virtual ~PageFile() = default;

  virtual const std::string& path() const = 0;
  virtual uint32_t page_size() const = 0;
  virtual uint32_t page_count() const = 0;

  // Set once the header has told the page size and the codec.
  virtual void Configure(uint32_t page_size, std::shared_ptr<PageCodec> codec) = 0;

  // Reads page n through the cache. Throws Error "damaged page N of file F"
  // when the page lies beyond the end of the file.
  virtual PagePtr Read(uint32_t page_number) = 0;

  // Reads raw bytes from the start of the file (the header, before the
  // page size is known).
  virtual std::vector<uint8_t> ReadPrefix(size_t length) = 0;

  // The write side. Only a PageFile got with writable = true (or upgraded
  // by a later writable Get) accepts them; the others throw Error.
  virtual bool writable() const = 0;

  // Replaces page n (n <= page_count(): n == page_count() extends the file
  // by one page). The bytes go to the file (the kernel's page cache) before
  // Write returns, so a process that ends right afterwards loses nothing;
  // the cache keeps the new bytes. Throws Error on an I/O failure.
  virtual void Write(uint32_t page_number, std::span<const uint8_t> page) = 0;

  // As Write, for a caller that gives up its buffer: the file may keep
  // `page` (as its cached copy) and hand back another buffer of the page
  // size in its place, whose bytes are then unspecified.
  virtual void WriteTaking(uint32_t page_number, PageData& page) { Write(page_number, page); }

  // Counts the Write calls so far: a holder of something decoded from
  // pages knows nobody wrote in between when the count has not moved.
  virtual uint64_t write_count() const = 0;

  // Forces written pages to the storage device (on close).
  virtual void Sync() = 0;
};

}  // namespace corvalin::engine
