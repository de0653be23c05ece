// Opening databases: versions, encryption and passwords, the catalog,
// sharing of the page file, and damaged or missing files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "db/engine/error.h"
#include "db/engine/format/database.h"
#include "db/engine/format/check.h"
#include "db/engine/format/office_crypt.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/table_writer.h"
#include "tests/support/corpus.h"
#include "tests/support/fixture.h"
#include "tests/support/readers.h"

namespace corvalin::engine {
namespace {

namespace fs = std::filesystem;
using testing::CopyOfCorpusFile;
using testing::CorpusDir;
using testing::TempDir;

int OpenError(const std::string& path, const std::string& password = "") {
  try {
    Database::Open(path, {password, false});
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

TEST(DatabaseOpen, EveryPlainCorpusFileOpensWithItsVersion) {
  CORVALIN_REQUIRE_CORPUS();
  int opened = 0;
  for (const auto& entry : fs::recursive_directory_iterator(CorpusDir())) {
    std::string p = entry.path().string();
    if (!entry.is_regular_file() || p.find("/encrypted/") != std::string::npos) continue;
    if (entry.path().extension() != ".mdb" && entry.path().extension() != ".accdb") continue;
    std::ifstream in(p, std::ios::binary);
    char header[0x15] = {};
    in.read(header, sizeof header);
    SCOPED_TRACE(p);
    auto db = Database::Open(p, {});
    EXPECT_EQ(static_cast<int>(db->version()), header[0x14]);
    EXPECT_FALSE(db->Catalog().empty());
    ++opened;
  }
  EXPECT_GT(opened, 50);
}

// Office-encrypted ACE files of each kind, with the password given in the
// manifest.
struct OfficeEncrypted {
  const char* name;
  const char* password;
  const char* table;
  size_t rows;
};
constexpr OfficeEncrypted kOfficeEncrypted[] = {
    {"encrypted/V2010_with-password.accdb", "password", "Table1", 3},  // agile, SHA-512
    {"encrypted/db2007-enc.accdb", "Test123", "Table1", 1},            // agile, SHA-1
    {"encrypted/office-agile-4.2.accdb", "password", "Table1", 3},     // RC4 CryptoAPI
    {"encrypted/db-nonstandard.accdb", "password", "Table_One", 1},    // AES, unhashed
};

TEST(DatabaseOpen, OfficeEncryptedFilesOpenWithTheirPasswordOnly) {
  CORVALIN_REQUIRE_CORPUS();
  for (const auto& f : kOfficeEncrypted) {
    SCOPED_TRACE(f.name);
    std::string path = CorpusDir() + "/" + f.name;
    auto db = Database::Open(path, {f.password, false});
    auto table = db->ReadTableDef(f.table);
    EXPECT_EQ(db->ListRows(*table).size(), f.rows);
    EXPECT_TRUE(CheckDatabase(*db).empty());
    for (const char* wrong : {"", "wrong", "Password"}) {
      try {
        Database::Open(path, {wrong, false});
        ADD_FAILURE() << "opened with " << wrong;
      } catch (const Error& e) {
        EXPECT_EQ(e.number(), kErrNotValidPassword);
        EXPECT_NE(e.description().find(path), std::string::npos);
      }
    }
  }
  std::string jet4 = CorpusDir() + "/encrypted/V2000_with-password.mdb";
  EXPECT_EQ(OpenError(jet4, "wrong"), kErrNotValidPassword);
  EXPECT_EQ(OpenError(jet4, ""), kErrNotValidPassword);
  EXPECT_EQ(OpenError(jet4, "password"), 0);
}

// A damaged encryption description is reported as such; its numbers are
// not trusted (a spin count beyond the format's limit would hang the open).
TEST(DatabaseOpen, DamagedEncryptionDescriptionsAreReported) {
  CORVALIN_REQUIRE_CORPUS();
  std::ifstream in(CorpusDir() + "/encrypted/V2010_with-password.accdb", std::ios::binary);
  std::string page(4096, '\0');
  in.read(page.data(), std::streamsize(page.size()));
  auto open = [](std::string bytes) {
    try {
      MakeOfficePageCodec(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                          0x12345678, "password", "f.accdb");
    } catch (const Error& e) {
      EXPECT_NE(e.description().find("f.accdb"), std::string::npos) << e.description();
      return e.number();
    }
    return 0;
  };
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string bytes = page;
    size_t at = bytes.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) bytes.replace(at, from.size(), to);
    return bytes;
  };
  EXPECT_EQ(open(page), 0);
  EXPECT_EQ(open(replaced("spinCount=\"100000\"", "spinCount=\"99999999999\"")), kErrDamagedFile);
  EXPECT_EQ(open(replaced("spinCount=\"100000\"", "spinCount=\"1e5\"")), kErrDamagedFile);
  EXPECT_EQ(open(replaced("keyBits=\"256\"", "keyBits=\"257\"")), kErrDamagedFile);
  EXPECT_EQ(open(replaced("encryptedKeyValue=", "encryptedKeyValu_=")), kErrDamagedFile);
  EXPECT_EQ(open(replaced("saltValue=\"lfLz", "saltValue=\"*fLz")), kErrDamagedFile);
  EXPECT_EQ(open(replaced("\"AES\"", "\"DES\"")), kErrEncrypted);
  std::string bytes = page;
  bytes[0x29B] = 1, bytes[0x29D] = 1;  // version 1.1: plain RC4
  EXPECT_EQ(open(bytes), kErrEncrypted);
  bytes = page;
  bytes[0x299] = char(0xFF), bytes[0x29A] = char(0xFF);  // longer than the page
  EXPECT_EQ(open(bytes), kErrDamagedFile);
  EXPECT_EQ(open(page.substr(0, 0x2A0)), kErrDamagedFile);
}

// Rows added to an Office-encrypted file, enough for new pages, are
// enciphered like the rest, and another reader reads them with the password.
TEST(DatabaseOpen, RowsAddedToOfficeEncryptedFilesAreEnciphered) {
  CORVALIN_REQUIRE_CORPUS();
  constexpr int kAdded = 400;
  for (const auto& f : kOfficeEncrypted) {
    SCOPED_TRACE(f.name);
    std::string copy = CopyOfCorpusFile(f.name);
    {
      auto db = Database::Open(copy, {f.password, true});
      TableWriter writer(db, db->ReadTableDef(f.table));
      for (int i = 0; i < kAdded; ++i)
        writer.Insert({Value(Null{}), Value("enciphered row " + std::to_string(i))});
    }
    std::ifstream in(copy, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.find("enciphered"), std::string::npos) << "a new row lies in plain text";
    auto db = Database::Open(copy, {f.password, false});
    EXPECT_TRUE(CheckDatabase(*db).empty());
    auto table = db->ReadTableDef(f.table);
    auto rows = db->ListRows(*table);
    ASSERT_EQ(rows.size(), f.rows + kAdded);
    EXPECT_EQ(db->ReadRow(*table, rows.back())[1],
              Value("enciphered row " + std::to_string(kAdded - 1)));
    // mdb-reader reads neither agile files with SHA-1 keys (db2007-enc) nor
    // AES CryptoAPI ones.
    if (testing::HaveMdbReader() &&
        !testing::MdbReaderExport(CorpusDir() + "/" + f.name, f.table, f.password).empty()) {
      auto lines = testing::MdbReaderExport(copy, f.table, f.password);
      ASSERT_EQ(lines.size(), 1 + f.rows + kAdded);
      EXPECT_NE(lines.back().find("enciphered row " + std::to_string(kAdded - 1)),
                std::string::npos);
    }
  }
}

// A fixed-length text column (one made as CHAR(n)) takes text in its place
// among the fixed columns, uncompressed and padded with spaces to its width;
// longer text is refused. The independent readers read what was written.
TEST(DatabaseOpen, FixedLengthTextIsPaddedToItsWidth) {
  CORVALIN_REQUIRE_CORPUS();
  for (const char* name : {"V2000/fixedTextTestV2000.mdb", "V2010/fixedTextTestV2010.accdb"}) {
    SCOPED_TRACE(name);
    const std::string copy = CopyOfCorpusFile(name);
    size_t rows = 0, flag = 0;
    {
      auto db = Database::Open(copy, {"", true});
      TableWriter writer(db, db->ReadTableDef("users"));
      rows = db->ListRows(writer.table()).size();
      std::vector<Value> row;
      for (const ColumnDef& c : writer.table().columns) {
        if (c.name == "c_flag_") flag = row.size();
        row.push_back(c.type == DataType::kLong       ? Value(int32_t(0))
                      : c.type == DataType::kDateTime ? Value(DateTime{44000.5})
                                                      : Value(std::string("x")));
      }
      for (const char* text : {"Y", "", "YN"}) {
        row[0] = int32_t(9000 + rows);
        row[flag] = std::string(text);
        try {
          writer.Insert(row);
          ++rows;
        } catch (const Error& e) {
          EXPECT_EQ(std::string(text), "YN");
          EXPECT_EQ(e.number(), kErrTooLong);
        }
      }
    }
    auto db = Database::Open(copy, {});
    EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>{});
    auto table = db->ReadTableDef("users");
    auto listed = db->ListRows(*table);
    ASSERT_EQ(listed.size(), rows);
    EXPECT_EQ(db->ReadRow(*table, listed[rows - 2])[flag], Value(std::string("Y")));
    EXPECT_EQ(db->ReadRow(*table, listed[rows - 1])[flag], Value(std::string(" ")));
    if (testing::HaveMdbReader()) {
      EXPECT_EQ(testing::MdbReaderExport(copy, "users"), testing::ToolExport(copy, "users"));
    }
    EXPECT_EQ(testing::MdbToolsRows(copy, "users"), long(rows));
  }
}

// Encoded Jet files (Access 97 and 2000) read through RC4 page by page, and
// a row added to one is enciphered like the rest.
TEST(DatabaseOpen, EncodedJetFilesReadAndTakeRows) {
  CORVALIN_REQUIRE_CORPUS();
  for (const char* name : {"encrypted/db97-enc.mdb", "encrypted/db-enc.mdb"}) {
    SCOPED_TRACE(name);
    std::string copy = CopyOfCorpusFile(name);
    {
      auto db = Database::Open(copy, {});
      auto table = db->ReadTableDef("Table1");
      auto rows = db->ListRows(*table);
      ASSERT_EQ(rows.size(), 2u);
      EXPECT_EQ(db->ReadRow(*table, rows[1])[1], Value(std::string("world")));
      EXPECT_TRUE(CheckDatabase(*db).empty());
    }
    {
      auto db = Database::Open(copy, {"", true});
      TableWriter writer(db, db->ReadTableDef("Table1"));
      writer.Insert({Value(Null{}), Value(std::string("encoded")), Value(int32_t{7})});
    }
    std::ifstream in(copy, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.find("encoded"), std::string::npos) << "the new row lies in plain text";
    auto db = Database::Open(copy, {});
    auto table = db->ReadTableDef("Table1");
    auto rows = db->ListRows(*table);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(db->ReadRow(*table, rows[2])[1], Value(std::string("encoded")));
    EXPECT_TRUE(CheckDatabase(*db).empty());
  }
}

TEST(DatabaseOpen, CatalogListsTablesAndFindsThemByName) {
  CORVALIN_REQUIRE_CORPUS();
  for (const auto& entry : fs::recursive_directory_iterator(CorpusDir())) {
    std::string p = entry.path().string();
    if (p.find("/encrypted/") != std::string::npos || entry.path().extension() != ".mdb") continue;
    auto db = Database::Open(p, {"ignored password", false});
    bool has_objects = false;
    for (const auto& e : db->Catalog()) has_objects |= e.name == "MSysObjects";
    EXPECT_TRUE(has_objects) << p;
    auto objects = db->ReadTableDef("msysobjects");
    EXPECT_EQ(db->ListRows(*objects).size(), db->Catalog().size()) << p;
    try {
      db->ReadTableDef("No Such Table");
      ADD_FAILURE();
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kErrTableNotFound);
      EXPECT_NE(e.description().find("No Such Table"), std::string::npos);
    }
    break;
  }
}

TEST(DatabaseOpen, RowsMovedToAnotherPageAreListedOnce) {
  CORVALIN_REQUIRE_CORPUS();
  auto db = Database::Open(CorpusDir() + "/V2000/overflowTestV2000.mdb", {});
  auto table = db->ReadTableDef("table1");
  std::vector<RowId> rows = db->ListRows(*table);
  EXPECT_EQ(rows.size(), 7u);  // two of them through overflow pointers
  for (RowId r : rows) EXPECT_EQ(db->ReadRow(*table, r).size(), table->columns.size());
}

TEST(DatabaseOpen, TwoOpensShareOnePageFile) {
  std::string p = testing::KeyedTablesFile("keyed.mdb");
  auto a = PageFile::Get(p, false);
  auto b = PageFile::Get(p, false);
  EXPECT_EQ(a.get(), b.get());
  auto db1 = Database::Open(p, {});
  auto db2 = Database::Open(p, {});
  EXPECT_EQ(db1->Catalog().size(), db2->Catalog().size());
}

TEST(DatabaseOpen, MissingShortAndDamagedFilesGiveErrors) {
  std::string missing = TempDir() + "/no-such-file.mdb";
  try {
    Database::Open(missing, {});
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrFileNotFound);
    EXPECT_NE(e.description().find("no-such-file.mdb"), std::string::npos);
  }
  std::string junk = TempDir() + "/junk.mdb";
  std::ofstream(junk) << "not a database";
  EXPECT_EQ(OpenError(junk), kErrUnrecognisedFormat);

  std::string source = testing::KeyedTablesFile("keyed.mdb");
  std::string cut = TempDir() + "/cut.mdb";
  fs::copy_file(source, cut, fs::copy_options::overwrite_existing);
  fs::resize_file(cut, 4096 * 2 + 100);
  EXPECT_EQ(OpenError(cut), kErrDamagedFile);

  // Flipped bytes anywhere past the header: an error or a good open, never a crash.
  std::ifstream in(source, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  for (size_t at = 4096; at < bytes.size() && at < 4096 * 12; at += 509) {
    std::vector<char> copy = bytes;
    for (size_t i = 0; i < 16 && at + i < copy.size(); ++i) copy[at + i] ^= 0xA5;
    std::string flipped = TempDir() + "/flipped.mdb";
    std::ofstream(flipped, std::ios::binary).write(copy.data(), copy.size());
    try {
      auto db = Database::Open(flipped, {});
      for (const auto& e : db->Catalog()) {
        if (e.type != 1) continue;
        try {
          auto t = db->ReadTableDef(e.name);
          for (RowId r : db->ListRows(*t)) db->ReadRow(*t, r);
        } catch (const Error&) {
        }
      }
    } catch (const Error&) {
    }
  }
}

}  // namespace
}  // namespace corvalin::engine
