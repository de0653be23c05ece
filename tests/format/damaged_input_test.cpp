// Damaged files: a small well-formed database built from bytes (one per
// format version) reads back whole; damaged on purpose (loops, pointers out
// of the file, cut short, bytes flipped) it gives an engine::Error naming
// the file, never a crash, a hang or another kind of exception.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "db/engine/ado/connection.h"
#include "db/tool/value_json.h"
#include "db/engine/error.h"
#include "db/engine/format/database.h"
#include "db/engine/format/index_page.h"
#include "fuzz/seed_database.h"
#include "tests/support/corpus.h"

namespace corvalin::engine {
namespace {

using namespace seed;

constexpr int kVersions[] = {kSeedJet3, kSeedJet4, kSeedAce12};

std::string WriteFile(const std::vector<uint8_t>& bytes, const std::string& name = "db.mdb") {
  const std::string path = testing::TempDir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

void Set32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// Every read the program and the tool make: catalog, each table's rows and
// their JSON form, each index. Returns the first error's description, or
// "" when everything read; any other exception fails the test.
std::string ReadEverything(const std::string& path) {
  std::string first_error;
  auto note = [&](const Error& e) {
    if (first_error.empty()) first_error = e.description();
    EXPECT_NE(e.description().find(path), std::string::npos)
        << "the error does not name the file: " << e.description();
  };
  try {
    auto db = Database::Open(path, {});
    for (const CatalogEntry& entry : db->Catalog()) {
      if (entry.type != 1) continue;
      try {
        auto table = db->ReadTableDef(entry.name);
        for (RowId row : db->ListRows(*table)) {
          for (const Value& v : db->ReadRow(*table, row)) (void)tool::ToJson(v);
        }
        for (const IndexDef& index : table->indexes)
          (void)ReadIndexEntries(db->file(), db->format(), index);
      } catch (const Error& e) {
        note(e);
      }
    }
  } catch (const Error& e) {
    note(e);
  }
  return first_error;
}

class DamagedInput : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { bytes_ = MakeSeedDatabase(GetParam(), &layout_); }
  size_t At(uint32_t page, size_t offset) const {
    return size_t(page) * layout_.page_size + offset;
  }
  // The offset-table entry of a row on a data page.
  size_t RowEntry(uint32_t page, int row) const {
    return At(page, layout_.data_rows + 2 * size_t(row));
  }
  size_t RowStart(uint32_t page, int row) const {
    return At(page, (bytes_[RowEntry(page, row)] | bytes_[RowEntry(page, row) + 1] << 8) &
                        0x1FFF);
  }
  std::string Damaged() { return ReadEverything(WriteFile(bytes_)); }

  std::vector<uint8_t> bytes_;
  SeedLayout layout_;
};

TEST_P(DamagedInput, TheUndamagedFileReadsBackWhole) {
  const std::string path = WriteFile(bytes_);
  EXPECT_EQ(ReadEverything(path), "");
  auto db = Database::Open(path, {});
  EXPECT_EQ(static_cast<int>(db->version()), GetParam());
  auto table = db->ReadTableDef("T");
  ASSERT_EQ(table->columns.size(), 10u);
  std::vector<std::string> lines;
  for (RowId row : db->ListRows(*table)) {
    std::string line;
    for (const Value& v : db->ReadRow(*table, row)) line += tool::ToJson(v) + ",";
    lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), size_t(kSeedTableRows));
  EXPECT_EQ(lines[0],
            "1,1.5,true,\"alpha\",\"short note\",\"1.2345\",\"2023-03-16T12:00:00\","
            "\"-12.34\",\"{13121110-1514-1716-1819-1A1B1C1D1E1F}\",\"0x010203040506\",");
  EXPECT_EQ(lines[1].rfind("2,-2.25,false,\"beta\",\"a memo in two pieces\",\"2.4690\",", 0), 0u)
      << lines[1];
  EXPECT_EQ(lines[2].rfind("3,0,false,null,null,", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3].rfind("4,4e+10,true,\"delta\",\"moved\",", 0), 0u) << lines[3];
  ASSERT_EQ(table->indexes.size(), 2u);
  EXPECT_EQ(ReadIndexEntries(db->file(), db->format(), table->indexes[0]).size(), 4u);
  EXPECT_EQ(ReadIndexEntries(db->file(), db->format(), table->indexes[1]).size(), 4u);
}

TEST_P(DamagedInput, LoopsAreRefused) {
  const std::vector<uint8_t> good = bytes_;
  // The table definition continues to itself.
  Set32(bytes_, At(kSeedTablePage, 4), kSeedTablePage);
  EXPECT_NE(Damaged().find("page " + std::to_string(kSeedTablePage)), std::string::npos);
  // A long value chain whose first row leads back to itself.
  bytes_ = good;
  Set32(bytes_, RowStart(kSeedLongValuePage, 1), kSeedLongValuePage << 8 | 1);
  EXPECT_NE(Damaged().find("loop"), std::string::npos);
  // The leaf chain of an index leads back to its first leaf.
  bytes_ = good;
  Set32(bytes_, At(kSeedByNameLeaf2, layout_.index_next), kSeedByNameLeaf1);
  EXPECT_NE(Damaged().find("repeated page"), std::string::npos);
  // An intermediate page whose only child is itself.
  bytes_ = good;
  const size_t child = At(kSeedByNameRoot, layout_.index_entries) +
                       seed::detail::TextKey("beta").size() + 4 + 4;  // key, row, child
  bytes_[child - 4] = 0;
  bytes_[child - 3] = 0;
  bytes_[child - 2] = 0;
  bytes_[child - 1] = uint8_t(kSeedByNameRoot);
  EXPECT_NE(Damaged().find("repeated page"), std::string::npos);
  // An overflow row that points at itself is followed once, not forever.
  bytes_ = good;
  Set32(bytes_, RowStart(kSeedDataPage, 4), kSeedDataPage << 8 | 4);
  (void)Damaged();
}

TEST_P(DamagedInput, PointersOutsideTheFileAreRefused) {
  const std::vector<uint8_t> good = bytes_;
  const std::string far = std::to_string(0x00FFFFFF);
  Set32(bytes_, At(kSeedTablePage, 4), 0x00FFFFFF);
  EXPECT_NE(Damaged().find(far), std::string::npos);
  bytes_ = good;
  Set32(bytes_, RowStart(kSeedDataPage, 4), 0xFFFFFF00);
  EXPECT_NE(Damaged().find("outside the file"), std::string::npos);
  bytes_ = good;
  Set32(bytes_, RowStart(kSeedMapPage, kSeedMapTableOwned) + 1, 0x00FFFFFF);
  EXPECT_NE(Damaged().find("usage map page past the end"), std::string::npos);
  bytes_ = good;
  Set32(bytes_, At(kSeedByNameLeaf1, layout_.index_next), 0x00FFFFFF);
  EXPECT_NE(Damaged().find(far), std::string::npos);
}

TEST_P(DamagedInput, CountsAndOffsetsBeyondTheirStructureAreRefused) {
  const std::vector<uint8_t> good = bytes_;
  // A row count whose offset table runs past the page end.
  bytes_[At(kSeedDataPage, layout_.data_row_count)] = 0xFF;
  bytes_[At(kSeedDataPage, layout_.data_row_count) + 1] = 0xFF;
  EXPECT_NE(Damaged().find("row offset table past the page end"), std::string::npos);
  // A row starting inside the offset table.
  bytes_ = good;
  bytes_[RowEntry(kSeedDataPage, 1)] = 2;
  bytes_[RowEntry(kSeedDataPage, 1) + 1] = 0;
  EXPECT_NE(Damaged().find("bad bounds"), std::string::npos);
  // A column count far beyond what a table can have.
  bytes_ = good;
  bytes_[At(kSeedTablePage, layout_.tdef_column_count)] = 0xFF;
  bytes_[At(kSeedTablePage, layout_.tdef_column_count) + 1] = 0xFF;
  EXPECT_NE(Damaged().find("definition of table T"), std::string::npos);
  // A variable column whose offsets run outside the row.
  bytes_ = good;
  const size_t var_index = At(kSeedTablePage, layout_.tdef_columns) +
                           3 * layout_.column_entry + layout_.column_var_index;
  bytes_[var_index] = 0x40;
  (void)Damaged();
  // An index prefix longer than the first entry.
  bytes_ = good;
  bytes_[At(kSeedPrimaryKeyPage, layout_.index_prefix)] = 0xFF;
  EXPECT_NE(Damaged().find("index prefix longer than its entry"), std::string::npos);
}

TEST_P(DamagedInput, CutShortAtAnyPageIsAnError) {
  const std::vector<uint8_t> good = bytes_;
  for (uint32_t pages = 0; pages < kSeedPages; ++pages) {
    SCOPED_TRACE(pages);
    bytes_.assign(good.begin(), good.begin() + long(pages) * layout_.page_size);
    // Also cut in the middle of the page.
    if (pages > 0) bytes_.resize(bytes_.size() + 100, 0);
    EXPECT_NE(Damaged(), "");
  }
}

// Every byte of each page header, of the table definition and of the rows
// flipped in turn: each read either succeeds or gives an engine::Error
// naming the file. (The fuzzer goes much further; this runs everywhere.)
TEST_P(DamagedInput, AnyFlippedByteIsReadOrRefused) {
  const std::vector<uint8_t> good = bytes_;
  const std::string path = WriteFile(good, "flip.mdb");
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  auto put = [&](size_t at, uint8_t value) {
    file.seekp(long(at));
    file.put(char(value));
    file.flush();
  };
  std::vector<size_t> offsets;
  for (uint32_t page = kSeedCatalogPage; page < kSeedPages; ++page) {
    for (size_t i = 0; i < 32; ++i) offsets.push_back(At(page, i));
  }
  const size_t definition = good[At(kSeedTablePage, 8)] | good[At(kSeedTablePage, 9)] << 8;
  for (size_t i = 32; i < definition; ++i) offsets.push_back(At(kSeedTablePage, i));
  for (size_t i = RowStart(kSeedDataPage, 1); i < At(kSeedDataPage + 1, 0); ++i)
    offsets.push_back(i);
  int refused = 0;
  for (size_t at : offsets) {
    put(at, good[at] ^ 0xFF);
    refused += ReadEverything(path).empty() ? 0 : 1;
    put(at, good[at]);
  }
  EXPECT_GT(refused, 0);
  EXPECT_LT(refused, int(offsets.size()));
}

TEST_P(DamagedInput, TheAdoLayerPassesTheErrorOn) {
  Set32(bytes_, RowStart(kSeedLongValuePage, 1), kSeedLongValuePage << 8 | 1);
  const std::string path = WriteFile(bytes_);
  ado::Connection connection;
  connection.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path);
  auto rows = connection.Execute("SELECT * FROM [T]");
  try {
    for (; !rows->Eof(); rows->MoveNext()) {
      for (int i = 0; i < rows->GetFields().Count(); ++i) (void)rows->GetFields().Item(i).Value();
    }
    ADD_FAILURE() << "the damaged long value was read";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrDamagedFile);
    EXPECT_NE(e.description().find("column Notes of table T"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, DamagedInput, ::testing::ValuesIn(kVersions),
                         [](const auto& info) {
                           return std::string(info.param == kSeedJet3   ? "Jet3"
                                              : info.param == kSeedJet4 ? "Jet4"
                                                                        : "Ace12");
                         });

}  // namespace
}  // namespace corvalin::engine
