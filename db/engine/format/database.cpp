// Database: opens a file through its PageFile, reads the header page and
// the catalog (MSysObjects, whose definition is always at page 2).
//
// | page | contents                                  |
// | 0    | header page (see header_page.cpp)         |
// | 1    | global usage map (not needed for reading) |
// | 2    | TDEF of MSysObjects, the catalog          |
#include "db/engine/format/database.h"

#include <algorithm>
#include <cctype>

#include "db/engine/error.h"
#include "db/engine/format/catalog.h"
#include "db/engine/format/data_page.h"
#include "db/engine/format/header_page.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/jet_page_codec.h"
#include "db/engine/format/office_crypt.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/page_window.h"
#include "db/engine/format/property_map.h"
#include "db/engine/format/table_def_reader.h"
#include "db/engine/format/usage_map.h"

namespace corvalin::engine {
namespace {

// The most pages a listing of rows reads at once, and the most pages of
// other objects it reads and passes by between two of the table's.
constexpr size_t kListRunPages = 32;
constexpr uint32_t kListGapPages = 3;

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

template <typename T>
T Integer(const Value& v) {
  return std::visit(
      [](const auto& x) -> T {
        using X = std::decay_t<decltype(x)>;
        if constexpr (std::is_integral_v<X>) return static_cast<T>(x);
        else return T{};
      },
      v);
}

std::string Text(const Value& v) {
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  return {};
}

}  // namespace

struct Database::Impl {
  std::shared_ptr<PageFile> file;
  bool writable = false;
  const JetFormat* format = nullptr;
  HeaderPage header;
  std::vector<CatalogEntry> catalog;
  // Where each catalog entry's row lies, for the values read only on demand
  // (the LvProp properties), and the catalog's own definition to read them.
  std::vector<RowId> catalog_rows;
  TableDef objects;
  int properties_column = -1;
  uint64_t reloads = 0;  // the file's when the catalog was read
  // The listings SharedRows handed out, each valid while someone holds it
  // and the file's write and reload counts are what they were when it was
  // made.
  struct Listing {
    uint32_t table_page = 0;
    uint32_t row_count = 0;
    uint64_t writes = 0;
    uint64_t reloads = 0;
    std::weak_ptr<const std::vector<RowId>> rows;
  };
  std::vector<Listing> listings;
};

Database::Database(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Database::~Database() {
  // A sync point: the close of a connection. A failure cannot be reported
  // from here; the log then stays for the next open to complete (callers
  // that can report it sync first, as Connection::Close does).
  if (impl_->writable) {
    try {
      impl_->file->Sync();
    } catch (...) {
    }
  }
}

const std::string& Database::path() const { return impl_->file->path(); }
JetVersion Database::version() const { return impl_->header.version; }
uint16_t Database::sort_order() const { return impl_->header.sort_order; }
PageFile& Database::file() const { return *impl_->file; }
const JetFormat& Database::format() const { return *impl_->format; }
const std::vector<CatalogEntry>& Database::Catalog() const { return impl_->catalog; }

std::shared_ptr<Database> Database::Open(const std::string& path,
                                         const OpenOptions& options) {
  return Open(PageFile::Get(path, options.writable, options.atomic_saves), options);
}

std::shared_ptr<Database> Database::Open(std::shared_ptr<PageFile> file,
                                         const OpenOptions& options) {
  auto impl = std::make_unique<Impl>();
  impl->file = std::move(file);
  impl->writable = options.writable && impl->file->writable();
  const std::string path = impl->file->path();
  impl->header = ParseHeaderPage(impl->file->ReadPrefix(kHeaderPrefixBytes), path);
  // An Office-encrypted file's password opens its page key instead; the
  // header's Jet password is not used.
  if (!impl->header.office_encrypted) CheckPassword(impl->header, options.password, path);
  impl->format = &JetFormat::For(impl->header.version);
  if (impl->header.office_encrypted) {
    impl->file->Configure(
        impl->format->page_size,
        MakeOfficePageCodec(impl->file->ReadPrefix(impl->format->page_size),
                            impl->header.encoding_key, options.password, path));
  } else if (impl->header.encoding_key != 0) {
    // An encoded Jet file: every page but the header goes through RC4.
    impl->file->Configure(impl->format->page_size,
                          std::make_shared<JetPageCodec>(impl->header.encoding_key));
  } else if (impl->file->page_size() != impl->format->page_size ||
             impl->file->page_count() == 0) {
    impl->file->Configure(impl->format->page_size, nullptr);
  }
  if (impl->file->page_count() <= kCatalogPage) {
    throw Error(kErrDamagedFile, "damaged page " + std::to_string(kCatalogPage) +
                                     " of file " + path);
  }

  impl->reloads = impl->file->reloads();
  std::shared_ptr<Database> db(new Database(std::move(impl)));
  db->ReloadCatalog();
  return db;
}

void Database::BeginWrite() {
  Impl& d = *impl_;
  if (!d.writable) throw Error(kErrReadOnly, "file " + path() + " is open for reading only");
  d.file->BeginWrite();
  // Write access found the file changed by another program since it was
  // read: the table definitions and counters decoded from it are stale.
  if (d.file->reloads() != d.reloads)
    throw Error(kErrFileLocked, "file " + path() + " was changed by another program since it "
                                "was opened; open it again to add to it");
}

void Database::ReloadCatalog() {
  Impl& d = *impl_;
  d.catalog.clear();
  d.catalog_rows.clear();
  TableDef objects = ReadTableDefinition(*d.file, *d.format, kCatalogPage, "MSysObjects");
  auto column = [&](const char* name) -> int {
    for (size_t i = 0; i < objects.columns.size(); ++i) {
      if (Lower(objects.columns[i].name) == Lower(name)) return static_cast<int>(i);
    }
    return -1;
  };
  int id = column("Id"), parent = column("ParentId"), name = column("Name"),
      type = column("Type"), flags = column("Flags"), database = column("Database"),
      foreign = column("ForeignName");
  if (id < 0 || name < 0 || type < 0) {
    throw Error(kErrDamagedFile, "damaged page 2 of file " + path() +
                                     " (catalog columns missing)");
  }
  for (RowId row : ListRows(objects)) {
    std::vector<Value> v = ReadRow(objects, row);
    CatalogEntry e;
    e.id = Integer<int32_t>(v[id]);
    if (parent >= 0) e.parent_id = Integer<int32_t>(v[parent]);
    e.name = Text(v[name]);
    e.type = Integer<int16_t>(v[type]);
    if (flags >= 0) e.flags = Integer<uint32_t>(v[flags]);
    if (database >= 0) e.database = Text(v[database]);
    if (foreign >= 0) e.foreign_name = Text(v[foreign]);
    d.catalog.push_back(std::move(e));
    d.catalog_rows.push_back(row);
  }
  d.properties_column = column("LvProp");
  d.objects = std::move(objects);
}

std::shared_ptr<const TableDef> Database::ReadTableDef(const std::string& name) const {
  std::string wanted = Lower(name);
  for (size_t i = 0; i < impl_->catalog.size(); ++i) {
    const CatalogEntry& e = impl_->catalog[i];
    if ((e.type & kObjectKindMask) == kObjectTable && Lower(e.name) == wanted) {
      uint32_t page = static_cast<uint32_t>(e.id) & kObjectPageMask;
      auto table = std::make_shared<TableDef>(
          ReadTableDefinition(*impl_->file, *impl_->format, page, e.name));
      ApplyResultTypes(*table, impl_->catalog_rows[i]);
      return table;
    }
  }
  throw Error(kErrTableNotFound,
              "cannot find table " + name + " in file " + path());
}

// A calculated column stores its result in the result's own type, which only
// the table's properties name. They are read for such tables alone, so that
// the properties of other tables never stand in the way of reading them.
void Database::ApplyResultTypes(TableDef& table, RowId catalog_row) const {
  const Impl& d = *impl_;
  bool calculated = false;
  for (const ColumnDef& c : table.columns) calculated = calculated || c.calculated;
  if (!calculated || d.properties_column < 0) return;
  std::vector<Value> row = ReadRow(d.objects, catalog_row);
  const auto* blob = std::get_if<Bytes>(&row[d.properties_column]);
  if (!blob || blob->empty()) return;
  ApplyCalculatedResultTypes(
      ParseProperties(*blob, !d.format->unicode_text, path(), table.name), table);
}

void Database::ApplyRequiredColumns(TableDef& table) const {
  const Impl& d = *impl_;
  if (d.properties_column < 0) return;
  for (size_t i = 0; i < d.catalog.size(); ++i) {
    const CatalogEntry& e = d.catalog[i];
    if ((e.type & kObjectKindMask) != kObjectTable || (uint32_t(e.id) & kObjectPageMask) != table.page)
      continue;
    std::vector<Value> row = ReadRow(d.objects, d.catalog_rows[i]);
    const auto* blob = std::get_if<Bytes>(&row[d.properties_column]);
    if (!blob || blob->empty()) return;
    std::vector<PropertyBlock> blocks =
        ParseProperties(*blob, !d.format->unicode_text, path(), table.name);
    for (ColumnDef& c : table.columns) {
      for (const PropertyBlock& b : blocks) {
        if (Lower(b.name) != Lower(c.name)) continue;
        if (const Property* p = b.Find("Required"))
          c.required = !p->value.empty() && p->value[0] != 0;
      }
    }
    return;
  }
}

std::vector<RowId> Database::ListRows(const TableDef& table) const {
  std::vector<RowId> rows;
  ScanRows(table, [&rows](RowId row) { rows.push_back(row); });
  return rows;
}

std::shared_ptr<const std::vector<RowId>> Database::SharedRows(const TableDef& table) const {
  std::vector<Impl::Listing>& listings = impl_->listings;
  const uint64_t writes = impl_->file->write_count();
  const uint64_t reloads = impl_->file->reloads();
  std::erase_if(listings, [&](const Impl::Listing& l) {
    return l.rows.expired() || l.writes != writes || l.reloads != reloads;
  });
  for (const Impl::Listing& l : listings) {
    if (l.table_page != table.page || l.row_count != table.row_count) continue;
    if (auto rows = l.rows.lock()) return rows;
  }
  auto rows = std::make_shared<const std::vector<RowId>>(ListRows(table));
  listings.push_back({table.page, table.row_count, writes, reloads, rows});
  return rows;
}

std::vector<RowId> Database::ListLiveRows(const TableDef& table) const {
  std::vector<RowId> rows;
  VisitRows(table, [&rows](RowId row) { rows.push_back(row); });
  return rows;
}

void Database::ScanRows(const TableDef& table, const std::function<void(RowId)>& visit) const {
  const size_t rows = VisitRows(table, visit);
  // Access may record fewer rows than a table holds (seen in system tables
  // and in a user table of an Access 2010 file), never more: fewer live rows
  // than the count means pages the map no longer leads to, a table read short.
  if (rows < table.row_count) {
    throw DamagedPage(path(), table.page,
                      "table " + table.name + " records " + std::to_string(table.row_count) +
                          " rows, but " + std::to_string(rows) + " rows are live");
  }
}

size_t Database::VisitRows(const TableDef& table, const std::function<void(RowId)>& visit) const {
  PageFile& file = *impl_->file;
  const JetFormat& format = *impl_->format;
  const size_t page_size = format.page_size;
  const std::vector<uint32_t> pages = ReadUsageMap(file, format, table.owned_pages_map);
  // The data pages are read once each, outside the cache (which keeps the
  // pages read again: indexes, usage maps), a stretch of pages in one call.
  // A table's data pages lie among its long-value and index pages, most
  // often one to three apart: a stretch takes the pages between, which are
  // passed by, when there are few (a call costs more than their bytes).
  std::vector<uint8_t> buffer;
  size_t rows = 0;
  for (size_t at = 0; at < pages.size();) {
    const uint32_t first = pages[at];
    size_t listed = 1;  // the listed pages in the stretch: pages[at, at + listed)
    while (at + listed < pages.size()) {
      const uint32_t last = pages[at + listed - 1], next = pages[at + listed];
      if (next <= last || next - last > kListGapPages + 1 || next - first >= kListRunPages) break;
      ++listed;
    }
    const size_t run = pages[at + listed - 1] - first + 1;
    buffer.resize(run * page_size);
    uint8_t* buffers[kListRunPages];
    for (size_t k = 0; k < run; ++k) buffers[k] = buffer.data() + k * page_size;
    const size_t got = file.ReadOnce(first, buffers, run);
    // A page past the end of the file: named as damaged, as Read names it.
    if (got == 0) {
      file.Read(first);
      throw Error(kErrDamagedFile, "damaged page " + std::to_string(first) + " of file " +
                                       file.path());
    }
    // The listed pages the file holds whole; a later stretch starts at the
    // first one it does not.
    size_t done = 0;
    for (; done < listed && pages[at + done] - first < got; ++done) {
      const uint32_t page_number = pages[at + done];
      const std::span<const uint8_t> page(buffers[page_number - first], page_size);
      // A listed page that is not the table's own data page was zeroed or
      // overwritten (no Access-made file we know lists one): skipping it
      // would hand out the table with rows missing.
      if (page[0] != kDataPageType || DataPageOwner(page, format) != table.page) {
        throw DamagedPage(file.path(), page_number,
                          "the owned-pages map of table " + table.name + " lists it, but it is "
                          "not a data page of the table");
      }
      uint16_t count = DataPageRowCount(page, format, file.path(), page_number);
      for (uint16_t r = 0; r < count; ++r) {
        DataRowSlot slot = DataPageRow(page, format, r, file.path(), page_number);
        // Overflow targets carry the deleted flag; a row flagged 0x4000 is the
        // pointer to its relocated bytes and is read through it.
        if (slot.deleted) continue;
        visit({page_number, r});
        ++rows;
      }
    }
    at += done;
  }
  return rows;
}

std::vector<Value> Database::ReadRow(const TableDef& table, RowId row) const {
  std::vector<Value> values;
  ReadRow(table, row, values);
  return values;
}

void Database::ReadRow(const TableDef& table, RowId row, std::vector<Value>& values) const {
  ReadRowFrom(*impl_->file, table, row, values);
}

void Database::ReadRow(const TableDef& table, RowId row, std::vector<Value>& values,
                       PageWindow& pages) const {
  pages.Cover(row.page);
  ReadRowFrom(pages, table, row, values);
}

void Database::ReadRowFrom(PageFile& file, const TableDef& table, RowId row,
                           std::vector<Value>& values) const {
  const JetFormat& format = *impl_->format;
  // A row stored in place is decoded straight from its page: one cache
  // look-up, no asking the file its size (page reads past the end fail on
  // their own). Overflow pointers and the header page take the general way.
  if (row.page != 0) {
    PagePtr page = file.Read(row.page);
    DataRowSlot slot = DataPageRow(*page, format, row.row, file.path(), row.page);
    if (!slot.deleted && !slot.lookup && !slot.bytes.empty()) {
      DecodeRow(file, format, table, slot.bytes, values);
      return;
    }
  }
  ResolvedRow resolved = ReadRowAt(file, format, row.page, row.row);
  if (resolved.deleted) {
    throw Error(kErrNoCurrentRecord, "row " + std::to_string(row.row) + " of page " +
                                         std::to_string(row.page) + " of file " +
                                         path() + " is deleted");
  }
  DecodeRow(file, format, table, resolved.bytes, values);
}

}  // namespace corvalin::engine
