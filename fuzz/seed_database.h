// A small, well-formed database file built from bytes, for the fuzzer's
// seeds when no Access-made files are at hand and for the tests that damage
// a file on purpose. It is written from the format's layout alone (not with
// the engine), so that the engine is checked against it, not against itself.
//
// | page | contents                                                     |
// | 0    | header page (masked block holding no password, no encoding)  |
// | 1    | empty data page                                              |
// | 2    | TDEF of MSysObjects: Id, ParentId, Name, Type, Flags         |
// | 3    | data page of usage maps (rows: kSeedMap*)                    |
// | 4    | catalog rows: MSysObjects, table T (TDEF page 5), query Q    |
// | 5    | TDEF of T: ten columns of every kind, two indexes            |
// | 6    | T's rows: 0..2 plain, 3 deleted, 4 an overflow pointer       |
// | 7    | leaf page of index PrimaryKey (ID)                           |
// | 8    | long value rows: a single-row value and a two-row chain      |
// | 9    | intermediate page of index ByName, children 10 and 11        |
// | 10   | first leaf of ByName, next page 11                           |
// | 11   | second leaf of ByName                                        |
// | 12   | usage map page (reference map of T's owned pages)            |
// | 13   | the row the overflow pointer of page 6 leads to              |
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace corvalin::seed {

// Header version byte: 0 Jet3, 1 Jet4, 2 ACE12, 3 ACE14.
constexpr int kSeedJet3 = 0;
constexpr int kSeedJet4 = 1;
constexpr int kSeedAce12 = 2;

constexpr uint32_t kSeedCatalogPage = 2;
constexpr uint32_t kSeedMapPage = 3;
constexpr uint32_t kSeedCatalogDataPage = 4;
constexpr uint32_t kSeedTablePage = 5;
constexpr uint32_t kSeedDataPage = 6;
constexpr uint32_t kSeedPrimaryKeyPage = 7;
constexpr uint32_t kSeedLongValuePage = 8;
constexpr uint32_t kSeedByNameRoot = 9;
constexpr uint32_t kSeedByNameLeaf1 = 10;
constexpr uint32_t kSeedByNameLeaf2 = 11;
constexpr uint32_t kSeedUsagePage = 12;
constexpr uint32_t kSeedOverflowPage = 13;
constexpr uint32_t kSeedPages = 14;

// Rows of the usage map page.
constexpr uint8_t kSeedMapCatalogOwned = 0;
constexpr uint8_t kSeedMapCatalogFree = 1;
constexpr uint8_t kSeedMapTableOwned = 2;
constexpr uint8_t kSeedMapTableFree = 3;
constexpr uint8_t kSeedMapIndex = 4;

// The live rows of T that a reader lists (rows 0, 1, 2 and the overflow
// pointer 4, whose bytes are on page 13).
constexpr int kSeedTableRows = 4;

// Where the builder put things that tests damage.
struct SeedLayout {
  uint32_t page_size = 0;
  bool jet3 = false;
  size_t data_row_count = 0;    // row count of a data page
  size_t data_rows = 0;         // first entry of a data page's offset table
  size_t tdef_column_count = 0;
  size_t tdef_columns = 0;      // first column entry (no real index entries)
  size_t column_entry = 0;      // size of a column entry
  size_t column_var_index = 0;  // variable table index within a column entry
  size_t index_prefix = 0;      // index pages: shared prefix length
  size_t index_mask = 0;        // index pages: entry-end bitmap
  size_t index_entries = 0;     // index pages: first entry
  size_t index_next = 0;        // index pages: next page on the same level
};

namespace detail {

struct Column {
  uint8_t type;
  uint16_t number, var_index, fixed_offset, length;
  uint8_t flags, ext_flags, precision, scale;
  std::string name;
};

class Builder {
 public:
  explicit Builder(int version) : version_(version) {
    jet3_ = version == kSeedJet3;
    l_.page_size = jet3_ ? 2048 : 4096;
    l_.jet3 = jet3_;
    l_.data_row_count = jet3_ ? 8 : 12;
    l_.data_rows = jet3_ ? 10 : 14;
    l_.tdef_column_count = jet3_ ? 25 : 45;
    l_.column_entry = jet3_ ? 18 : 25;
    l_.column_var_index = jet3_ ? 3 : 7;
    l_.index_prefix = jet3_ ? 20 : 24;
    l_.index_mask = jet3_ ? 22 : 27;
    l_.index_entries = jet3_ ? 248 : 480;
    l_.index_next = jet3_ ? 12 : 16;
    bytes_.assign(size_t(kSeedPages) * l_.page_size, 0);
  }

  const SeedLayout& layout() const { return l_; }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

  uint8_t* Page(uint32_t n) { return bytes_.data() + size_t(n) * l_.page_size; }

  static void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
  }
  static void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
  }
  static void Set16(uint8_t* p, uint16_t x) { p[0] = uint8_t(x); p[1] = uint8_t(x >> 8); }
  static void Set32(uint8_t* p, uint32_t x) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(x >> (8 * i));
  }
  static uint32_t Pointer(uint32_t page, uint8_t row) { return page << 8 | row; }

  // Text as a row or a name stores it: code page bytes (Jet3) or UCS-2,
  // or for row values optionally the compressed form.
  std::vector<uint8_t> Text(const std::string& s, bool compressed = false) const {
    std::vector<uint8_t> out;
    if (jet3_) return std::vector<uint8_t>(s.begin(), s.end());
    if (compressed) {
      out = {0xFF, 0xFE};
      out.insert(out.end(), s.begin(), s.end());
      return out;
    }
    for (unsigned char c : s) {
      out.push_back(c);
      out.push_back(0);
    }
    return out;
  }

  void Header() {
    uint8_t* p = Page(0);
    p[0] = 0x00; p[1] = 0x01;
    std::memcpy(p + 4, version_ >= kSeedAce12 ? "Standard ACE DB" : "Standard Jet DB", 16);
    p[0x14] = uint8_t(version_);
    // The block at 0x18 is stored masked with RC4; the plain block holds
    // the code page and the collation and nothing else (no password, no
    // page encoding, creation date 0).
    uint8_t plain[128] = {};
    Set16(plain + 0x3C - 0x18, 1252);
    Set16(plain + (jet3_ ? 0x3A : 0x6E) - 0x18, 1033);
    const uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
    for (int i = 0, j = 0; i < 256; ++i) {
      j = (j + s[i] + key[i % 4]) & 0xFF;
      std::swap(s[i], s[j]);
    }
    size_t masked = jet3_ ? 126 : 128;
    for (size_t k = 0, i = 0, j = 0; k < masked; ++k) {
      i = (i + 1) & 0xFF;
      j = (j + s[i]) & 0xFF;
      std::swap(s[i], s[j]);
      p[0x18 + k] = plain[k] ^ s[(s[i] + s[j]) & 0xFF];
    }
  }

  // A data page: rows from the page end downward; flags per row go into
  // the offset table (0x8000 deleted, 0x4000 lookup).
  void DataPage(uint32_t n, uint32_t owner, const std::vector<std::vector<uint8_t>>& rows,
                const std::vector<uint16_t>& flags = {}) {
    uint8_t* p = Page(n);
    p[0] = 0x01;
    p[1] = 0x01;
    Set32(p + 4, owner);
    Set16(p + l_.data_row_count, uint16_t(rows.size()));
    size_t end = l_.page_size;
    for (size_t r = 0; r < rows.size(); ++r) {
      size_t start = end - rows[r].size();
      std::memcpy(p + start, rows[r].data(), rows[r].size());
      uint16_t f = r < flags.size() ? flags[r] : 0;
      Set16(p + l_.data_rows + 2 * r, uint16_t(start | f));
      end = start;
    }
    Set16(p + 2, uint16_t(end - (l_.data_rows + 2 * rows.size())));
  }

  // A table definition on one page.
  struct Index {
    std::vector<uint16_t> columns;
    uint32_t first_page;
    uint32_t used_pages;
    uint8_t flags;
    uint8_t type;
    std::string name;
  };
  void TableDef(uint32_t n, uint8_t table_type, const std::vector<Column>& columns,
                const std::vector<Index>& indexes, uint32_t owned, uint32_t free,
                uint32_t rows) {
    std::vector<uint8_t> d;
    uint16_t var_columns = 0;
    for (const Column& c : columns) var_columns += (c.flags & 0x01) ? 0 : 1;
    d.resize(jet3_ ? 43 : 63, 0);
    d[0] = 0x02;
    d[1] = 0x01;
    Set32(&d[jet3_ ? 12 : 16], rows);
    Set32(&d[jet3_ ? 16 : 20], rows + 1);
    d[jet3_ ? 20 : 40] = table_type;
    Set16(&d[jet3_ ? 21 : 41], uint16_t(columns.size()));
    Set16(&d[jet3_ ? 23 : 43], var_columns);
    Set16(&d[jet3_ ? 25 : 45], uint16_t(columns.size()));
    Set32(&d[jet3_ ? 27 : 47], uint32_t(indexes.size()));
    Set32(&d[jet3_ ? 31 : 51], uint32_t(indexes.size()));
    Set32(&d[jet3_ ? 35 : 55], owned);
    Set32(&d[jet3_ ? 39 : 59], free);
    for (size_t i = 0; i < indexes.size(); ++i) {
      // Jet3: row count, unknown; Jet4: unknown, row count, unknown.
      if (!jet3_) Put32(d, 0);
      Put32(d, rows);
      Put32(d, 0);
    }
    l_.tdef_columns = d.size();
    for (size_t i = 0; i < columns.size(); ++i) {
      const Column& c = columns[i];
      std::vector<uint8_t> e(l_.column_entry, 0);
      e[0] = c.type;
      Set16(&e[jet3_ ? 1 : 5], c.number);
      Set16(&e[jet3_ ? 3 : 7], c.var_index);
      Set16(&e[jet3_ ? 5 : 9], uint16_t(i));
      if (c.type == 0x0A || c.type == 0x0C) Set16(&e[jet3_ ? 9 : 11], 1033);
      if (jet3_ && (c.type == 0x0A || c.type == 0x0C)) Set16(&e[11], 1252);
      if (c.type == 0x10) {
        e[11] = c.precision;
        e[12] = c.scale;
      }
      e[jet3_ ? 13 : 15] = c.flags;
      if (!jet3_) e[16] = c.ext_flags;
      Set16(&e[jet3_ ? 14 : 21], c.fixed_offset);
      Set16(&e[jet3_ ? 16 : 23], c.length);
      d.insert(d.end(), e.begin(), e.end());
    }
    auto name = [&](const std::string& s) {
      std::vector<uint8_t> t = Text(s);
      if (jet3_) d.push_back(uint8_t(t.size()));
      else Put16(d, uint16_t(t.size()));
      d.insert(d.end(), t.begin(), t.end());
    };
    for (const Column& c : columns) name(c.name);
    for (const Index& x : indexes) {
      if (!jet3_) Put32(d, 0);
      for (size_t s = 0; s < 10; ++s) {
        Put16(d, s < x.columns.size() ? x.columns[s] : 0xFFFF);
        d.push_back(s < x.columns.size() ? 0x01 : 0x00);
      }
      Put32(d, x.used_pages);
      Put32(d, x.first_page);
      if (!jet3_) Put32(d, 0);
      d.push_back(x.flags);
      if (!jet3_) d.insert(d.end(), 5, 0);
    }
    for (size_t i = 0; i < indexes.size(); ++i) {
      if (!jet3_) Put32(d, 0);
      Put32(d, uint32_t(i));
      Put32(d, uint32_t(i));
      d.insert(d.end(), 11, 0);
      d.push_back(indexes[i].type);
      if (!jet3_) Put32(d, 0);
    }
    for (const Index& x : indexes) name(x.name);
    Set32(&d[8], uint32_t(d.size()));
    std::memcpy(Page(n), d.data(), d.size());
  }

  // A row: the column count, the fixed area, the variable data, the
  // variable offset table (last column first), the variable column count
  // and the null mask. Rows stay under 256 bytes, so Jet3 needs no jump
  // table.
  struct Cell {
    bool present;
    std::vector<uint8_t> bytes;
  };
  std::vector<uint8_t> Row(const std::vector<Column>& columns, const std::vector<Cell>& cells,
                           size_t fixed_size) {
    std::vector<uint8_t> r;
    uint16_t count = 0;
    for (const Column& c : columns) count = std::max<uint16_t>(count, uint16_t(c.number + 1));
    if (jet3_) r.push_back(uint8_t(count));
    else Put16(r, count);
    size_t fixed_at = r.size();
    r.resize(fixed_at + fixed_size, 0);
    std::vector<const Column*> vars;
    std::vector<size_t> var_cells;
    for (size_t i = 0; i < columns.size(); ++i) {
      const Column& c = columns[i];
      if (c.flags & 0x01) {
        if (cells[i].present && !cells[i].bytes.empty())
          std::memcpy(&r[fixed_at + c.fixed_offset], cells[i].bytes.data(), cells[i].bytes.size());
      } else {
        if (vars.size() <= c.var_index) {
          vars.resize(c.var_index + 1);
          var_cells.resize(c.var_index + 1);
        }
        vars[c.var_index] = &c;
        var_cells[c.var_index] = i;
      }
    }
    std::vector<uint16_t> offsets;
    for (size_t v = 0; v < vars.size(); ++v) {
      offsets.push_back(uint16_t(r.size()));
      const Cell& cell = cells[var_cells[v]];
      if (cell.present) r.insert(r.end(), cell.bytes.begin(), cell.bytes.end());
    }
    offsets.push_back(uint16_t(r.size()));
    for (size_t i = offsets.size(); i-- > 0;) {
      if (jet3_) r.push_back(uint8_t(offsets[i]));
      else Put16(r, offsets[i]);
    }
    if (jet3_) r.push_back(uint8_t(vars.size()));
    else Put16(r, uint16_t(vars.size()));
    std::vector<uint8_t> mask((count + 7) / 8, 0);
    for (size_t i = 0; i < columns.size(); ++i) {
      if (cells[i].present) mask[columns[i].number / 8] |= uint8_t(1 << (columns[i].number % 8));
    }
    r.insert(r.end(), mask.begin(), mask.end());
    return r;
  }

  // An index page: entries as stored (the first whole, later ones without
  // the shared prefix), each followed by its row pointer (3-byte page,
  // 1-byte row, big-endian) and on intermediate pages the child page.
  struct Entry {
    std::vector<uint8_t> key;
    uint32_t page;
    uint8_t row;
    uint32_t child;
  };
  void IndexPage(uint32_t n, bool leaf, uint32_t owner, uint32_t prev, uint32_t next,
                 uint32_t tail, const std::vector<Entry>& entries, size_t prefix) {
    uint8_t* p = Page(n);
    p[0] = leaf ? 0x04 : 0x03;
    p[1] = 0x01;
    Set32(p + 4, owner);
    Set32(p + l_.index_prefix - 12, prev);
    Set32(p + l_.index_prefix - 8, next);
    Set32(p + l_.index_prefix - 4, tail);
    p[l_.index_prefix] = uint8_t(prefix);
    if (!jet3_) p[l_.index_prefix + 1] = uint8_t(prefix >> 8);
    size_t at = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      std::vector<uint8_t> e(entries[i].key.begin() + (i == 0 ? 0 : prefix),
                             entries[i].key.end());
      e.push_back(uint8_t(entries[i].page >> 16));
      e.push_back(uint8_t(entries[i].page >> 8));
      e.push_back(uint8_t(entries[i].page));
      e.push_back(entries[i].row);
      if (!leaf) {
        for (int b = 3; b >= 0; --b) e.push_back(uint8_t(entries[i].child >> (8 * b)));
      }
      std::memcpy(p + l_.index_entries + at, e.data(), e.size());
      at += e.size();
      p[l_.index_mask + at / 8] |= uint8_t(1 << (at % 8));
    }
    Set16(p + 2, uint16_t(l_.page_size - l_.index_entries - at));
  }

 private:
  int version_;
  bool jet3_;
  SeedLayout l_;
  std::vector<uint8_t> bytes_;
};

inline std::vector<uint8_t> Le(uint64_t v, size_t n) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < n; ++i) out.push_back(uint8_t(v >> (8 * i)));
  return out;
}

inline std::vector<uint8_t> DoubleBytes(double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  return Le(u, 8);
}

// An index key for a Long: a 0x7F flag byte, then the value big-endian
// with its sign bit flipped.
inline std::vector<uint8_t> LongKey(int32_t v) {
  uint32_t u = uint32_t(v) ^ 0x80000000u;
  return {0x7F, uint8_t(u >> 24), uint8_t(u >> 16), uint8_t(u >> 8), uint8_t(u)};
}

inline std::vector<uint8_t> TextKey(const std::string& s) {
  std::vector<uint8_t> out{0x7F};
  for (char c : s) out.push_back(uint8_t(c));
  out.push_back(0x00);
  return out;
}

}  // namespace detail

// The whole file for one version; layout (when given) tells where the
// builder put the structures.
inline std::vector<uint8_t> MakeSeedDatabase(int version, SeedLayout* layout = nullptr) {
  using namespace detail;
  Builder b(version);
  b.Header();
  b.DataPage(1, 0, {});
  const bool jet3 = version == kSeedJet3;
  const uint16_t text_length = jet3 ? 64 : 128;

  // The catalog.
  std::vector<Column> catalog = {
      {0x04, 0, 0, 0, 4, 0x01, 0, 0, 0, "Id"},
      {0x04, 1, 0, 4, 4, 0x01, 0, 0, 0, "ParentId"},
      {0x0A, 2, 0, 0, text_length, 0x02, 0, 0, 0, "Name"},
      {0x03, 3, 0, 8, 2, 0x01, 0, 0, 0, "Type"},
      {0x04, 4, 0, 10, 4, 0x01, 0, 0, 0, "Flags"},
  };
  auto catalog_row = [&](int32_t id, const std::string& name, int16_t type, uint32_t flags) {
    return b.Row(catalog,
                 {{true, Le(uint32_t(id), 4)},
                  {true, Le(0, 4)},
                  {true, b.Text(name)},
                  {true, Le(uint16_t(type), 2)},
                  {true, Le(flags, 4)}},
                 14);
  };
  b.TableDef(kSeedCatalogPage, 0x53, catalog, {},
             Builder::Pointer(kSeedMapPage, kSeedMapCatalogOwned),
             Builder::Pointer(kSeedMapPage, kSeedMapCatalogFree), 3);
  b.DataPage(kSeedCatalogDataPage, kSeedCatalogPage,
             {catalog_row(int32_t(kSeedCatalogPage), "MSysObjects", 1, 0x80000000u),
              catalog_row(int32_t(kSeedTablePage), "T", 1, 0),
              catalog_row(0x7F000001, "Q", 5, 0)});

  // Table T: every kind of column.
  std::vector<Column> table = {
      {0x04, 0, 0, 0, 4, 0x05, 0, 0, 0, "ID"},
      {0x07, 1, 0, 4, 8, 0x03, 0, 0, 0, "Amount"},
      {0x01, 2, 0, 0, 0, 0x03, 0, 0, 0, "Done"},
      {0x0A, 3, 0, 0, text_length, 0x02, uint8_t(jet3 ? 0 : 0x01), 0, 0, "Name"},
      {0x0C, 4, 1, 0, 0, 0x02, 0, 0, 0, "Notes"},
      {0x05, 5, 0, 12, 8, 0x03, 0, 0, 0, "Price"},
      {0x08, 6, 0, 20, 8, 0x03, 0, 0, 0, "When"},
      {0x10, 7, 0, 28, 17, 0x03, 0, 18, 2, "Dec"},
      {0x0F, 8, 0, 45, 16, 0x03, 0, 0, 0, "Guid"},
      {0x0B, 9, 2, 0, 0, 0x02, 0, 0, 0, "Blob"},
  };
  const size_t fixed_size = 61;
  auto long_header = [](uint32_t length, uint8_t kind, uint32_t pointer) {
    std::vector<uint8_t> h = Le(length, 3);
    h.push_back(kind);
    auto p = Le(pointer, 4);
    h.insert(h.end(), p.begin(), p.end());
    h.insert(h.end(), 4, 0);
    return h;
  };
  auto inline_memo = [&](const std::string& s) {
    std::vector<uint8_t> t = b.Text(s);
    std::vector<uint8_t> h = long_header(uint32_t(t.size()), 0x80, 0);
    h.insert(h.end(), t.begin(), t.end());
    return h;
  };
  std::vector<uint8_t> decimal(17, 0);
  decimal[0] = 0x80;  // -12.34
  decimal[13] = 0xD2;
  decimal[14] = 0x04;
  std::vector<uint8_t> guid(16);
  for (int i = 0; i < 16; ++i) guid[i] = uint8_t(0x10 + i);
  std::vector<uint8_t> single_value = {1, 2, 3, 4, 5, 6};
  std::vector<uint8_t> chained = b.Text("a memo in two pieces");
  size_t half = chained.size() / 2;

  auto row = [&](int32_t id, double amount, bool done, const std::string& name,
                 std::vector<uint8_t> notes, std::vector<uint8_t> blob) {
    return b.Row(table,
                 {{true, Le(uint32_t(id), 4)},
                  {true, DoubleBytes(amount)},
                  {done, {}},
                  {!name.empty(), b.Text(name, id % 2 == 1)},
                  {!notes.empty(), notes},
                  {true, Le(uint64_t(int64_t(id) * 12345), 8)},
                  {true, DoubleBytes(45000.5 + id)},
                  {true, decimal},
                  {true, guid},
                  {!blob.empty(), blob}},
                 fixed_size);
  };
  std::vector<uint8_t> r0 = row(1, 1.5, true, "alpha", inline_memo("short note"),
                                long_header(uint32_t(single_value.size()), 0x40,
                                            Builder::Pointer(kSeedLongValuePage, 0)));
  std::vector<uint8_t> r1 =
      row(2, -2.25, false, "beta",
          long_header(uint32_t(chained.size()), 0x00, Builder::Pointer(kSeedLongValuePage, 1)),
          {});
  std::vector<uint8_t> r2 = row(3, 0, false, "", {}, {});
  std::vector<uint8_t> gone = row(99, 0, false, "deleted", {}, {});
  std::vector<uint8_t> moved = row(4, 4e10, true, "delta", inline_memo("moved"), {});
  b.DataPage(kSeedDataPage, kSeedTablePage,
             {r0, r1, r2, gone, Le(Builder::Pointer(kSeedOverflowPage, 0), 4)},
             {0, 0, 0, 0x8000, 0x4000});
  b.DataPage(kSeedOverflowPage, kSeedTablePage, {moved}, {0xC000});

  std::vector<uint8_t> piece1 = Le(Builder::Pointer(kSeedLongValuePage, 2), 4);
  piece1.insert(piece1.end(), chained.begin(), chained.begin() + long(half));
  std::vector<uint8_t> piece2 = Le(0, 4);
  piece2.insert(piece2.end(), chained.begin() + long(half), chained.end());
  b.DataPage(kSeedLongValuePage, kSeedTablePage, {single_value, piece1, piece2});

  std::vector<Builder::Index> indexes = {
      {{0}, kSeedPrimaryKeyPage, Builder::Pointer(kSeedMapPage, kSeedMapIndex), 0x01, 1,
       "PrimaryKey"},
      {{3}, kSeedByNameRoot, Builder::Pointer(kSeedMapPage, kSeedMapIndex), 0x00, 0, "ByName"},
  };
  b.TableDef(kSeedTablePage, 0x4E, table, indexes,
             Builder::Pointer(kSeedMapPage, kSeedMapTableOwned),
             Builder::Pointer(kSeedMapPage, kSeedMapTableFree), kSeedTableRows);

  // Usage maps: inline (type 0: first page, then the bitmap) and reference
  // (type 1: the map pages).
  auto inline_map = [](uint32_t first, std::vector<uint32_t> pages) {
    std::vector<uint8_t> m = {0x00};
    auto f = Le(first, 4);
    m.insert(m.end(), f.begin(), f.end());
    m.resize(5 + 8, 0);
    for (uint32_t p : pages) m[5 + (p - first) / 8] |= uint8_t(1 << ((p - first) % 8));
    return m;
  };
  std::vector<uint8_t> reference = {0x01};
  auto rp = Le(kSeedUsagePage, 4);
  reference.insert(reference.end(), rp.begin(), rp.end());
  reference.resize(1 + 4 * 4, 0);
  b.DataPage(kSeedMapPage, 0,
             {inline_map(0, {kSeedCatalogDataPage}), inline_map(0, {}), reference,
              inline_map(0, {}), inline_map(0, {kSeedPrimaryKeyPage, kSeedByNameRoot})});
  uint8_t* usage = b.Page(kSeedUsagePage);
  usage[0] = 0x05;
  usage[1] = 0x01;
  usage[4 + kSeedDataPage / 8] |= uint8_t(1 << (kSeedDataPage % 8));

  // Indexes: PrimaryKey one leaf; ByName a root over two chained leaves.
  using detail::LongKey;
  using detail::TextKey;
  b.IndexPage(kSeedPrimaryKeyPage, true, kSeedTablePage, 0, 0, 0,
              {{LongKey(1), kSeedDataPage, 0, 0},
               {LongKey(2), kSeedDataPage, 1, 0},
               {LongKey(3), kSeedDataPage, 2, 0},
               {LongKey(4), kSeedDataPage, 4, 0}},
              1);
  b.IndexPage(kSeedByNameLeaf1, true, kSeedTablePage, 0, kSeedByNameLeaf2, 0,
              {{{0x00}, kSeedDataPage, 2, 0},
               {TextKey("alpha"), kSeedDataPage, 0, 0},
               {TextKey("beta"), kSeedDataPage, 1, 0}},
              0);
  b.IndexPage(kSeedByNameLeaf2, true, kSeedTablePage, kSeedByNameLeaf1, 0, 0,
              {{TextKey("delta"), kSeedDataPage, 4, 0}}, 0);
  b.IndexPage(kSeedByNameRoot, false, kSeedTablePage, 0, 0, kSeedByNameLeaf2,
              {{TextKey("beta"), kSeedDataPage, 1, kSeedByNameLeaf1}}, 0);

  if (layout) *layout = b.layout();
  return b.Take();
}

}  // namespace corvalin::seed
