// A window of consecutive pages of a file, read in one call and kept
// outside the page cache, for a reader going once through a table's rows.
// A table's data pages and the long-value pages its rows point to lie near
// one another (a save writes them together), so that a window read from a
// row's data page usually holds the next rows' pages and their long values
// too: each page is read from the file once, and the cache keeps the pages
// that are read again and again (indexes, usage maps).
//
// The window stands in for the file (it is a PageFile) in the decoders: a
// page inside it is handed out from it, any other page comes from the file.
// Once the file is written (a save since the window was read, which may
// have changed its pages) the window is dropped, and it is read again only
// after a row read with no write in between: a run that appends to the
// table it reads reads through the cache, as a reader always did.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "db/engine/format/page_file.h"

namespace corvalin::engine {

class PageWindow : public PageFile {
 public:
  static constexpr size_t kPages = 32;

  explicit PageWindow(PageFile& file) : file_(file), writes_(file.write_count()) {}
  PageWindow(const PageWindow&) = delete;
  PageWindow& operator=(const PageWindow&) = delete;

  // Makes page n one of the window's pages when it can: reads the window
  // from n when n lies outside it (and nothing was written since the last
  // look).
  void Cover(uint32_t n);

  PagePtr Read(uint32_t n) override;

  const std::string& path() const override { return file_.path(); }
  uint32_t page_size() const override { return file_.page_size(); }
  uint32_t page_count() const override { return file_.page_count(); }
  void Configure(uint32_t page_size, std::shared_ptr<PageCodec> codec) override {
    file_.Configure(page_size, std::move(codec));
  }
  std::vector<uint8_t> ReadPrefix(size_t length) override { return file_.ReadPrefix(length); }
  bool writable() const override { return file_.writable(); }
  void Write(uint32_t n, std::span<const uint8_t> page) override { file_.Write(n, page); }
  void WriteChanged(uint32_t n, std::span<const uint8_t> page,
                    std::span<const ByteRange> changed) override {
    file_.WriteChanged(n, page, changed);
  }
  uint64_t write_count() const override { return file_.write_count(); }
  void Sync() override { file_.Sync(); }

 private:
  bool Holds(uint32_t n) const {
    return n - first_ < count_ && file_.write_count() == writes_;
  }

  PageFile& file_;
  uint32_t first_ = 0;
  size_t count_ = 0;     // pages read from first_
  uint64_t writes_ = 0;  // the file's write count when last looked at
  std::vector<std::shared_ptr<PageData>> pages_;
};

}  // namespace corvalin::engine
