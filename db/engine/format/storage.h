// The bytes of one file as the page file reaches them: the database file
// and the log of saves beside it. The page file's cache, its log and its
// recovery are written against this interface, so that a test can put a
// file of its own underneath (one that fails a write, counts writes and
// syncs, or stops after write k and forgets what a power loss would).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace corvalin::engine {

class Storage {
 public:
  virtual ~Storage() = default;

  virtual const std::string& path() const = 0;
  // Whether Write, Truncate and Sync may be called.
  virtual bool writable() const = 0;
  virtual uint64_t Size() = 0;
  // A value that changes whenever anyone changes the file (its size and
  // modification time): a log knows by it whether the file is still the
  // one it was written for.
  virtual uint64_t Stamp() = 0;

  // Reads `count` buffers of `each` bytes, one after another from offset.
  // Returns the bytes read: fewer at the end of the file.
  virtual size_t Read(uint64_t offset, uint8_t* const* buffers, size_t count, size_t each) = 0;
  size_t Read(uint64_t offset, std::span<uint8_t> bytes) {
    uint8_t* buffer = bytes.data();
    return Read(offset, &buffer, 1, bytes.size());
  }

  // The bytes reach the operating system before Write returns (a process
  // that ends afterwards loses nothing); only Sync makes them survive a
  // power loss. Each throws Error kErrIo naming the file.
  virtual void Write(uint64_t offset, std::span<const uint8_t> bytes) = 0;
  // Writes `count` buffers of `each` bytes, one after another from offset,
  // as Write would write them one by one (a file on disk takes them in one
  // call).
  virtual void WriteAll(uint64_t offset, const uint8_t* const* buffers, size_t count,
                        size_t each) {
    for (size_t k = 0; k < count; ++k) Write(offset + k * each, {buffers[k], each});
  }
  // The same for pages nobody is expected to read back soon (those a file
  // has just grown by): a file on disk writes them past the kernel's page
  // cache where it can, as filling fresh cache pages costs the writer about
  // as much as making them.
  virtual void WriteAllPastCache(uint64_t offset, const uint8_t* const* buffers, size_t count,
                                 size_t each) {
    WriteAll(offset, buffers, count, each);
  }
  virtual void Truncate(uint64_t size) = 0;
  virtual void Sync() = 0;

  // Makes the device hold blocks for the first `end` bytes without changing
  // the size, so that writes there later cannot fail for want of room.
  // Throws Error kErrIo when the device has no room; does nothing where the
  // file system cannot reserve.
  virtual void Reserve(uint64_t end) { (void)end; }
  // Gives back the blocks past the end of the file that Reserve held.
  virtual void Unreserve() {}
  // Asks the system to start writing the bytes written at [offset, offset
  // + length) to the device without waiting, so that a Sync to come finds
  // less to do. Promises nothing; errors are left for Sync to report.
  virtual void StartWriteback(uint64_t offset, uint64_t length) {
    (void)offset;
    (void)length;
  }
  // The largest size a write may give the file (the process's limit on the
  // size of the files it writes).
  virtual uint64_t MostSize() { return UINT64_MAX; }
};

// A file opened with open(2): reading, or reading and writing. Takes fd.
std::unique_ptr<Storage> PosixStorage(std::string path, int fd, bool writable);

// The same, for a file written in large appends that only a recovery reads
// back (the log of saves): the whole 4 KB blocks of a large write go past
// the kernel's page cache (O_DIRECT, through a second descriptor), and only
// its partial first and last blocks through it. Filling fresh cache pages
// with bytes nobody reads cost the writer as much as making them. Where the
// file system refuses such writes, every write goes through the cache.
std::unique_ptr<Storage> PosixAppendStorage(std::string path, int fd);

// Direct writes go in whole blocks of this many bytes, from memory aligned
// to it. A writer whose bytes for file offset o lie at an address that is o
// modulo this (AlignedBytes::For) has them written without a copy.
inline constexpr size_t kDirectBlock = 4096;

// A growing buffer for such a writer. Its memory is mapped in 2 MB steps on
// a 2 MB boundary, so that the kernel may back it with huge pages: a record
// of several megabytes, faulted in 4 KB at a time, cost its writer a fault
// per page.
class AlignedBytes {
 public:
  AlignedBytes() = default;
  AlignedBytes(const AlignedBytes&) = delete;
  AlignedBytes& operator=(const AlignedBytes&) = delete;
  ~AlignedBytes();

  // Room for `size` bytes to be written at file offset `offset` (what it
  // held before is not kept).
  std::span<uint8_t> For(uint64_t offset, size_t size);

 private:
  uint8_t* memory_ = nullptr;
  size_t capacity_ = 0;
};

}  // namespace corvalin::engine
