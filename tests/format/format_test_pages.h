// Test doubles for the format decoders: a page file over bytes in memory,
// and the two format descriptions the decoders are tested with.
#pragma once

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/engine/error.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_file.h"

namespace corvalin::testing {

class MemoryPages : public engine::PageFile {
 public:
  MemoryPages(std::vector<uint8_t> bytes, uint32_t page_size,
              std::string path = "memory.mdb")
      : bytes_(std::move(bytes)), page_size_(page_size), path_(std::move(path)) {}

  static std::unique_ptr<MemoryPages> FromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    uint32_t size = bytes.size() > 0x14 && bytes[0x14] == 0 ? 2048 : 4096;
    return std::make_unique<MemoryPages>(std::move(bytes), size, path);
  }

  const std::string& path() const override { return path_; }
  uint32_t page_size() const override { return page_size_; }
  uint32_t page_count() const override {
    return static_cast<uint32_t>(bytes_.size() / page_size_);
  }
  void Configure(uint32_t, std::shared_ptr<engine::PageCodec>) override {}
  engine::PagePtr Read(uint32_t n) override {
    if (n >= page_count())
      throw engine::Error(engine::kErrDamagedFile, "page beyond the end");
    auto begin = bytes_.begin() + size_t(n) * page_size_;
    return std::make_shared<engine::PageData>(begin, begin + page_size_);
  }
  std::vector<uint8_t> ReadPrefix(size_t length) override {
    return {bytes_.begin(), bytes_.begin() + std::min(length, bytes_.size())};
  }
  bool writable() const override { return true; }
  void Write(uint32_t n, std::span<const uint8_t> page) override {
    if (size_t(n + 1) * page_size_ > bytes_.size()) bytes_.resize(size_t(n + 1) * page_size_);
    std::copy(page.begin(), page.end(), bytes_.begin() + size_t(n) * page_size_);
    ++writes_;
  }
  uint64_t write_count() const override { return writes_; }
  void Sync() override {}
  // Bytes of page n, for tests that build pages by hand.
  uint8_t* Page(uint32_t n) { return bytes_.data() + size_t(n) * page_size_; }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t page_size_;
  std::string path_;
  uint64_t writes_ = 0;
};

// Jet3 and Jet4: the layout numbers written out by hand, over the engine's description
// for what they leave out (the version's facts and side tables).
inline engine::JetFormat TestJet3() {
  engine::JetFormat f = engine::JetFormat::For(engine::JetVersion::kJet3);
  f.version = engine::JetVersion::kJet3;
  f.page_size = 2048; f.unicode_text = false; f.max_row_size = 2012;
  f.data_row_count_offset = 8; f.data_rows_offset = 10;
  f.data_free_space_offset = 2; f.data_owner_offset = 4;
  f.row_column_count_size = 1; f.row_var_offset_size = 1;
  f.tdef_row_count_offset = 12; f.tdef_autonumber_offset = 16;
  f.tdef_table_type_offset = 20; f.tdef_max_columns_offset = 21;
  f.tdef_var_columns_offset = 23; f.tdef_column_count_offset = 25;
  f.tdef_index_count_offset = 27; f.tdef_real_index_count_offset = 31;
  f.tdef_owned_pages_offset = 35; f.tdef_free_pages_offset = 39;
  f.tdef_index_entries_offset = 43; f.tdef_column_entry_size = 18;
  f.tdef_real_index_entry_size = 8; f.tdef_logical_index_entry_size = 20;
  f.tdef_name_length_size = 1;
  return f;
}

inline engine::JetFormat TestJet4() {
  engine::JetFormat f = engine::JetFormat::For(engine::JetVersion::kJet4);
  f.version = engine::JetVersion::kJet4;
  f.page_size = 4096; f.unicode_text = true; f.max_row_size = 4060;
  f.data_row_count_offset = 12; f.data_rows_offset = 14;
  f.data_free_space_offset = 2; f.data_owner_offset = 4;
  f.row_column_count_size = 2; f.row_var_offset_size = 2;
  f.tdef_row_count_offset = 16; f.tdef_autonumber_offset = 20;
  f.tdef_table_type_offset = 40; f.tdef_max_columns_offset = 41;
  f.tdef_var_columns_offset = 43; f.tdef_column_count_offset = 45;
  f.tdef_index_count_offset = 47; f.tdef_real_index_count_offset = 51;
  f.tdef_owned_pages_offset = 55; f.tdef_free_pages_offset = 59;
  f.tdef_index_entries_offset = 63; f.tdef_column_entry_size = 25;
  f.tdef_real_index_entry_size = 12; f.tdef_logical_index_entry_size = 28;
  f.tdef_name_length_size = 2;
  return f;
}

}  // namespace corvalin::testing
