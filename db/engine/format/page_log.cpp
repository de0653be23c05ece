#include "db/engine/format/page_log.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <stdexcept>

#include "db/engine/error.h"

namespace corvalin::engine {
namespace {

constexpr char kMagic[8] = {'C', 'r', 'v', 'l', 'L', 'o', 'g', '2'};
// The first layout's head: no file size, records from byte 40.
constexpr char kMagicV1[8] = {'C', 'r', 'v', 'l', 'L', 'o', 'g', '1'};
constexpr size_t kHeadV1 = 40;
// A record longer than this is taken for damage: the page file checkpoints
// long before its log grows near it.
constexpr uint32_t kLongestRecord = 1u << 28;

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
// A record's head: the length of its ranges, the file's page count, its
// sequence number.
void PutRecordHead(uint8_t* p, uint32_t range_bytes, uint32_t page_count, uint64_t sequence) {
  Put32(p, range_bytes);
  Put32(p + 4, page_count);
  Put64(p + 8, sequence);
}
// A range's head: its page, offset and length.
void PutRangeHead(uint8_t* p, uint32_t page, uint32_t offset, size_t length) {
  Put32(p, page);
  p[4] = uint8_t(offset);
  p[5] = uint8_t(offset >> 8);
  p[6] = uint8_t(length);
  p[7] = uint8_t(length >> 8);
}
uint32_t Get32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | p[i];
  return v;
}
uint64_t Get64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

uint64_t Word(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

uint64_t Mix(uint64_t h) {
  h ^= h >> 31;
  h *= 0x7FB5D329728EA185ull;
  h ^= h >> 27;
  h *= 0x81DADEF4BC2DD44Dull;
  h ^= h >> 33;
  return h;
}

uint64_t NewSalt(uint64_t previous) {
  std::random_device device;
  const uint64_t now = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
  uint64_t salt = Mix(previous + 0x9E3779B97F4A7C15ull) ^ Mix(now) ^
                  (uint64_t(device()) << 32 | device());
  return salt == previous ? salt + 1 : salt;
}

struct Head {
  bool valid = false;
  size_t length = PageLog::kHead;  // where the records start
  uint32_t page_size = 0;
  bool writing = false;
  uint64_t salt = 0;
  uint64_t stamp = 0;
  bool size_known = false;  // false in the first layout
  uint64_t file_size = 0;
};

// Writes head in its own layout (a recovery marks a log of the first
// layout in that layout: its records start right after it).
void WriteHead(Storage& log, const Head& head) {
  uint8_t bytes[PageLog::kHead] = {};
  const bool v1 = !head.size_known;
  std::memcpy(bytes, v1 ? kMagicV1 : kMagic, 8);
  Put32(bytes + 8, head.page_size);
  Put32(bytes + 12, head.writing ? 1 : 0);
  Put64(bytes + 16, head.salt);
  Put64(bytes + 24, head.stamp);
  const size_t summed = v1 ? 32 : 40;
  if (!v1) Put64(bytes + 32, head.file_size);
  Put64(bytes + summed, LogChecksum(0, {bytes, summed}));
  log.Write(0, {bytes, summed + 8});
}

Head ReadHead(Storage& log) {
  uint8_t bytes[PageLog::kHead];
  Head head;
  const size_t got = log.Read(0, bytes);
  if (got >= PageLog::kHead && std::memcmp(bytes, kMagic, 8) == 0) {
    if (Get64(bytes + 40) != LogChecksum(0, {bytes, 40})) return head;
    head.size_known = true;
    head.file_size = Get64(bytes + 32);
  } else if (got >= kHeadV1 && std::memcmp(bytes, kMagicV1, 8) == 0) {
    if (Get64(bytes + 32) != LogChecksum(0, {bytes, 32})) return head;
    head.length = kHeadV1;
  } else {
    return head;
  }
  head.page_size = Get32(bytes + 8);
  head.writing = Get32(bytes + 12) != 0;
  head.salt = Get64(bytes + 16);
  head.stamp = Get64(bytes + 24);
  head.valid = head.page_size >= 512 && head.page_size <= 65536;
  return head;
}

Head NewHead(uint32_t page_size, bool writing, uint64_t salt, uint64_t stamp, uint64_t file_size) {
  return {.valid = true, .page_size = page_size, .writing = writing, .salt = salt,
          .stamp = stamp, .size_known = true, .file_size = file_size};
}

// Walks the complete records of log in order, calling f(record bytes) for
// each; returns how many there were.
template <typename F>
uint64_t WalkRecords(Storage& log, const Head& head, F&& f) {
  std::vector<uint8_t> record;
  uint64_t at = head.length;
  uint64_t count = 0;
  for (;;) {
    uint8_t start[PageLog::kRecordHead];
    if (log.Read(at, start) < sizeof start) break;
    const uint32_t length = Get32(start);
    if (length > kLongestRecord || Get64(start + 8) != count + 1) break;
    record.resize(PageLog::kRecordHead + length + 8);
    if (log.Read(at, record) < record.size()) break;
    const size_t body = PageLog::kRecordHead + length;
    if (Get64(record.data() + body) != LogChecksum(head.salt, {record.data(), body})) break;
    f(std::span<const uint8_t>(record.data(), body));
    ++count;
    at += record.size();
  }
  return count;
}

}  // namespace

std::string LogPathFor(const std::string& database_path) { return database_path + "-log"; }

uint64_t LogChecksum(uint64_t seed, std::span<const uint8_t> bytes) {
  // Four lanes over 32-byte blocks, then the rest word by word: a torn or
  // stale record differs from what the checksum covers somewhere.
  uint64_t lane[4] = {seed ^ 0x243F6A8885A308D3ull, seed ^ 0x13198A2E03707344ull,
                      seed ^ 0xA4093822299F31D0ull, seed ^ 0x082EFA98EC4E6C89ull};
  const uint8_t* p = bytes.data();
  size_t n = bytes.size();
  constexpr uint64_t kPrime = 0x9E3779B97F4A7C15ull;
  for (; n >= 32; p += 32, n -= 32) {
    for (int k = 0; k < 4; ++k) {
      lane[k] = (lane[k] ^ Word(p + 8 * k)) * kPrime;
      lane[k] ^= lane[k] >> 29;
    }
  }
  uint64_t h = Mix(lane[0]) ^ Mix(lane[1] + 1) ^ Mix(lane[2] + 2) ^ Mix(lane[3] + 3);
  for (; n >= 8; p += 8, n -= 8) h = Mix(h ^ Word(p));
  uint64_t last = 0;
  for (size_t i = 0; i < n; ++i) last |= uint64_t(p[i]) << (8 * i);
  return Mix(h ^ last ^ (uint64_t(bytes.size()) << 56));
}

PageLog::PageLog(Storage* storage, uint32_t page_size, uint64_t stamp, uint64_t file_size)
    : storage_(storage), page_size_(page_size) {
  record_.resize(kRecordHead);
  if (!storage_) return;
  salt_ = ReadHead(*storage_).salt;
  // Rule 7 keeps stale records from passing under a new salt; a log just
  // made holds none, so its head need not reach the device before the
  // records do: the first sync point syncs them together (a power loss
  // before it leaves the file as it was, with or without the head).
  Reset(stamp, file_size, storage_->Size() > 0);
}

void PageLog::SyncForWriting() {
  WriteHead(*storage_, NewHead(page_size_, true, salt_, stamp_, file_size_));
  storage_->Sync();
}

void PageLog::Reset(uint64_t stamp, uint64_t file_size, bool sync) {
  salt_ = NewSalt(salt_);
  stamp_ = stamp;
  file_size_ = file_size;
  // The log keeps its length: the records of the next generation overwrite
  // those of the last (no block is allocated and the size does not change
  // while saves go on); what remains of the old ones fails its checksum
  // under the new salt.
  WriteHead(*storage_, NewHead(page_size_, false, salt_, stamp_, file_size_));
  if (sync) storage_->Sync();
  sequence_ = 0;
  end_ = kHead;
}

void PageLog::Add(uint32_t page, uint32_t offset, std::span<const uint8_t> bytes) {
  const size_t at = used_;
  Room(kRangeHead + bytes.size());
  uint8_t* p = record_.data() + at;
  PutRangeHead(p, page, offset, bytes.size());
  std::memcpy(p + kRangeHead, bytes.data(), bytes.size());
}

void PageLog::Room(size_t more) {
  if (record_.size() < used_ + more)
    record_.resize(std::max(used_ + more, record_.size() + record_.size() / 4));
  used_ += more;
}

size_t PageLog::Finish(uint32_t page_count, bool sum) {
  const size_t body = used_;
  PutRecordHead(record_.data(), uint32_t(body - kRecordHead), page_count, sequence_ + 1);
  Room(8);
  if (sum) Put64(record_.data() + body, LogChecksum(salt_, {record_.data(), body}));
  return body;
}

void PageLog::SumRecord(std::span<uint8_t> record, uint64_t salt) {
  const size_t body = record.size() - 8;
  Put64(record.data() + body, LogChecksum(salt, {record.data(), body}));
}

void PageLog::Append(uint32_t page_count) {
  const size_t body = Finish(page_count);
  try {
    storage_->Write(end_, {record_.data(), used_});
  } catch (...) {
    // A part of the record may be in the log: the next record goes in its
    // place, and whatever stays of it after that fails its checksum.
    used_ = body;
    throw;
  }
  ++sequence_;
  end_ += used_;
  used_ = kRecordHead;
}

PageLog::Placed PageLog::Place(uint32_t page_count, uint64_t range_bytes) {
  Placed placed{end_, sequence_ + 1, salt_, page_count, range_bytes};
  ++sequence_;
  end_ += kRecordHead + range_bytes + 8;
  return placed;
}

void PageLog::BuildRecord(const Placed& placed, std::span<PageRanges> pages,
                          std::span<uint8_t> out) {
  const size_t body = kRecordHead + placed.range_bytes;
  if (out.size() != body + 8) throw std::logic_error("a record's place has the wrong size");
  uint8_t* p = out.data();
  PutRecordHead(p, uint32_t(placed.range_bytes), placed.page_count, placed.sequence);
  size_t at = kRecordHead;
  for (PageRanges& page : pages) {
    const uint8_t* bytes = page.bytes->data();
    for (const auto& [from, to] : page.ranges) {
      const uint32_t length = to - from;
      if (at + kRangeHead + length > body) throw std::logic_error("a record outgrew its place");
      uint8_t* r = p + at;
      PutRangeHead(r, page.page, from, length);
      std::memcpy(r + kRangeHead, bytes + from, length);
      at += kRangeHead + length;
    }
    page.bytes.reset();
  }
  if (at != body) throw std::logic_error("a record fell short of its place");
  Put64(p + body, LogChecksum(placed.salt, {p, body}));
}

uint64_t PageLog::Seal(uint32_t page_count, std::vector<uint8_t>& out) {
  Finish(page_count, false);
  record_.resize(used_);
  std::swap(record_, out);
  if (record_.size() < kRecordHead) record_.resize(kRecordHead);
  const uint64_t at = end_;
  ++sequence_;
  end_ += used_;
  used_ = kRecordHead;
  return at;
}

LoggedSaves FindLoggedSaves(Storage& log) {
  const Head head = ReadHead(log);
  if (!head.valid) return {};
  LoggedSaves saves;
  saves.records = WalkRecords(log, head, [&](std::span<const uint8_t> record) {
    saves.most_pages = std::max(saves.most_pages, Get32(record.data() + 4));
  });
  saves.page_size = head.page_size;
  saves.writing = head.writing;
  saves.stamp = head.stamp;
  saves.size_known = head.size_known;
  saves.file_size = head.file_size;
  return saves;
}

bool LogIsForFile(const LoggedSaves& saves, Storage& file) {
  if (!saves.writing) return saves.stamp == file.Stamp();
  if (!saves.size_known) return true;
  // Cut short while writing the file: it grew from its size at the stamp
  // towards the records' page count, and no further.
  const uint64_t size = file.Size();
  const uint64_t most = std::max(saves.file_size, uint64_t(saves.most_pages) * saves.page_size);
  return size >= saves.file_size && size <= most;
}

uint64_t ReplayLog(Storage& log, Storage& file) {
  Head head = ReadHead(log);
  if (!head.valid) return 0;
  if (!head.writing && log.writable()) {
    head.writing = true;
    WriteHead(log, head);
    log.Sync();
  }
  const uint64_t page_size = head.page_size;
  uint64_t size = file.Size();
  const uint64_t applied = WalkRecords(log, head, [&](std::span<const uint8_t> record) {
    const uint64_t pages = Get32(record.data() + 4);
    if (pages * page_size > size) {
      file.Truncate(pages * page_size);
      size = pages * page_size;
    }
    for (size_t at = PageLog::kRecordHead; at + PageLog::kRangeHead <= record.size();) {
      const uint8_t* p = record.data() + at;
      const uint32_t page = Get32(p);
      const uint32_t offset = uint32_t(p[4]) | uint32_t(p[5]) << 8;
      const uint32_t length = uint32_t(p[6]) | uint32_t(p[7]) << 8;
      if (at + PageLog::kRangeHead + length > record.size() || offset + length > page_size)
        break;  // cannot happen in a record whose checksum holds
      file.Write(page * page_size + offset, {p + PageLog::kRangeHead, length});
      at += PageLog::kRangeHead + length;
    }
  });
  if (applied > 0) file.Sync();
  return applied;
}

}  // namespace corvalin::engine
