// Property values (the LvProp column of MSysObjects). All integers
// little-endian.
//
// | Offset | Size | Meaning                                             |
// |--------|------|-----------------------------------------------------|
// | 0      | 4    | signature: "KKD\0" (Jet3) or "MR2\0" (Jet4, ACE)    |
// | 4      | ...  | chunks, one after the other to the end of the value |
//
// Chunk:
// | 0      | 4    | chunk length, these 6 bytes included                |
// | 4      | 2    | kind: 0x80 the property names; 0x00 the table's own |
// |        |      | properties; 0x01 the properties of one column       |
// | 6      | ...  | the chunk's body                                    |
//
// Names body: one entry per name: 2-byte length in bytes, then the name
// (code page text in Jet3, UCS-2 later). Entries are numbered from 0.
// Properties body: a name block (4-byte length, itself included; when longer
// than 6 it holds the object's name as 2-byte length + text), then entries:
// | 0      | 2    | entry length, itself included                       |
// | 2      | 1    | DDL flag                                            |
// | 3      | 1    | data type of the value (the column type codes)      |
// | 4      | 2    | number of the property's name in the names chunk    |
// | 6      | 2    | value length                                        |
// | 8      | n    | value                                               |
//
// Every length is checked against the part that holds it before it is
// used, and each length covers at least its own header, so parsing always
// moves forward and ends at the end of the value.
#include "db/engine/format/property_map.h"

#include <cctype>

#include "db/engine/error.h"
#include "db/engine/format/coding.h"
#include "db/engine/format/text_codec.h"
#include "db/engine/format/value_encoder.h"

namespace corvalin::engine {
namespace {

constexpr size_t kSignatureSize = 4;
constexpr uint8_t kJet3Signature[] = {'K', 'K', 'D', 0};
constexpr uint8_t kJet4Signature[] = {'M', 'R', '2', 0};
constexpr size_t kChunkHeaderSize = 6;
constexpr uint16_t kNamesChunk = 0x80;
constexpr size_t kNameBlockHeaderSize = 4;
constexpr size_t kEntryHeaderSize = 8;
constexpr uint16_t kTableChunk = 0x00;
constexpr uint16_t kColumnChunk = 0x01;

void AppendUnicodeName(Bytes& b, const std::string& name) {
  std::u16string units = Utf8ToUtf16(name);
  Append16(b, uint16_t(units.size() * 2));
  for (char16_t u : units) Append16(b, u);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

bool KnownResultType(DataType type) {
  switch (type) {
    case DataType::kBoolean: case DataType::kByte: case DataType::kInteger:
    case DataType::kLong: case DataType::kCurrency: case DataType::kSingle:
    case DataType::kDouble: case DataType::kDateTime: case DataType::kText:
    case DataType::kMemo: case DataType::kReplicationId:
    case DataType::kDecimal: case DataType::kBigInt:
    case DataType::kExtDateTime:
      return true;
    default:
      return false;
  }
}

class Parser {
 public:
  Parser(std::span<const uint8_t> blob, bool jet3, const std::string& file,
         const std::string& table)
      : blob_(blob),
        bytes_(blob, {.file = file, .table = table, .part = "properties"}),
        jet3_(jet3) {}

  std::vector<PropertyBlock> Parse() {
    Need(0, kSignatureSize, "it has no signature");
    const uint8_t* expected = jet3_ ? kJet3Signature : kJet4Signature;
    for (size_t i = 0; i < kSignatureSize; ++i) {
      if (blob_[i] != expected[i]) throw Damaged("its signature is unknown");
    }
    std::vector<PropertyBlock> blocks;
    size_t at = kSignatureSize;
    while (at < blob_.size()) {
      Need(at, kChunkHeaderSize, "a chunk is cut short");
      const uint32_t length = bytes_.U32(at);
      if (length < kChunkHeaderSize) throw Damaged("a chunk has a bad length");
      Need(at, length, "a chunk runs past the end");
      const uint16_t kind = bytes_.U16(at + 4);
      const size_t body = at + kChunkHeaderSize, end = at + length;
      if (kind == kNamesChunk) {
        ReadNames(body, end);
      } else {
        blocks.push_back(ReadBlock(body, end));
      }
      at = end;
    }
    return blocks;
  }

 private:
  Error Damaged(const std::string& what) const {
    return DamagedPage(bytes_.where(), what);
  }
  void Need(size_t at, size_t n, const char* what) const {
    if (!bytes_.Has(at, n)) throw Damaged(what);
  }
  // A 2-byte length and the text after it, which must end by `end`.
  std::string Name(size_t& at, size_t end) const {
    if (at + 2 > end) throw Damaged("a name is cut short");
    const size_t length = bytes_.U16(at);
    at += 2;
    if (length > end - at) throw Damaged("a name runs past its chunk");
    auto text = blob_.subspan(at, length);
    at += length;
    return jet3_ ? DecodeCodePageText(text, 1252) : DecodeUnicodeText(text);
  }

  void ReadNames(size_t at, size_t end) {
    names_.clear();
    while (at < end) names_.push_back(Name(at, end));
  }

  PropertyBlock ReadBlock(size_t at, size_t end) {
    PropertyBlock block;
    if (at >= end) return block;
    if (end - at < kNameBlockHeaderSize) throw Damaged("a name block is cut short");
    const uint32_t name_length = bytes_.U32(at);
    if (name_length < kNameBlockHeaderSize || name_length > end - at)
      throw Damaged("a name block has a bad length");
    const size_t name_end = at + name_length;
    if (name_length > kNameBlockHeaderSize + 2) {
      size_t name_at = at + kNameBlockHeaderSize;
      block.name = Name(name_at, name_end);
    }
    at = name_end;
    while (at < end) {
      if (end - at < kEntryHeaderSize) throw Damaged("a property is cut short");
      const uint16_t entry_length = bytes_.U16(at);
      if (entry_length < kEntryHeaderSize || entry_length > end - at)
        throw Damaged("a property has a bad length");
      const uint16_t name_index = bytes_.U16(at + 4);
      const uint16_t value_length = bytes_.U16(at + 6);
      if (value_length > entry_length - kEntryHeaderSize)
        throw Damaged("a property value runs past its entry");
      if (name_index >= names_.size())
        throw Damaged("a property names no known property name");
      Property p;
      p.name = names_[name_index];
      p.type = static_cast<DataType>(blob_[at + 3]);
      auto value = blob_.subspan(at + kEntryHeaderSize, value_length);
      p.value.assign(value.begin(), value.end());
      block.properties.push_back(std::move(p));
      at += entry_length;
    }
    return block;
  }

  std::span<const uint8_t> blob_;
  ByteReader bytes_;
  bool jet3_;
  std::vector<std::string> names_;
};

}  // namespace

const Property* PropertyBlock::Find(const std::string& property) const {
  for (const Property& p : properties) {
    if (SameName(p.name, property)) return &p;
  }
  return nullptr;
}

std::vector<PropertyBlock> ParseProperties(std::span<const uint8_t> blob,
                                           bool jet3, const std::string& file,
                                           const std::string& table) {
  return Parser(blob, jet3, file, table).Parse();
}

Bytes EncodeProperties(const PropertyBlock& table,
                       const std::vector<PropertyBlock>& columns) {
  std::vector<std::string> names;
  auto number = [&](const std::string& name) {
    for (size_t i = 0; i < names.size(); ++i)
      if (SameName(names[i], name)) return i;
    names.push_back(name);
    return names.size() - 1;
  };
  Bytes chunks;
  auto add_block = [&](const PropertyBlock& block, uint16_t kind) {
    if (block.properties.empty()) return;
    const size_t start = chunks.size();
    Append32(chunks, 0);
    Append16(chunks, kind);
    const size_t name_start = chunks.size();
    Append32(chunks, 0);
    AppendUnicodeName(chunks, block.name);
    Write32(chunks, name_start, uint32_t(chunks.size() - name_start));
    for (const Property& p : block.properties) {
      Append16(chunks, uint16_t(kEntryHeaderSize + p.value.size()));
      chunks.push_back(0);  // DDL flag
      chunks.push_back(uint8_t(p.type));
      Append16(chunks, uint16_t(number(p.name)));
      Append16(chunks, uint16_t(p.value.size()));
      chunks.insert(chunks.end(), p.value.begin(), p.value.end());
    }
    Write32(chunks, start, uint32_t(chunks.size() - start));
  };
  add_block(table, kTableChunk);
  for (const PropertyBlock& c : columns) add_block(c, kColumnChunk);
  if (chunks.empty()) return {};

  Bytes out(kJet4Signature, kJet4Signature + kSignatureSize);
  const size_t names_start = out.size();
  Append32(out, 0);
  Append16(out, kNamesChunk);
  for (const std::string& n : names) AppendUnicodeName(out, n);
  Write32(out, names_start, uint32_t(out.size() - names_start));
  out.insert(out.end(), chunks.begin(), chunks.end());
  return out;
}

std::optional<DataType> CalculatedResultType(
    const std::vector<PropertyBlock>& blocks, const std::string& column) {
  for (const PropertyBlock& block : blocks) {
    if (!SameName(block.name, column)) continue;
    const Property* p = block.Find("ResultType");
    // A type code is one byte, whatever integer type the property uses.
    if (p && !p->value.empty()) return static_cast<DataType>(p->value[0]);
  }
  return std::nullopt;
}

void ApplyCalculatedResultTypes(const std::vector<PropertyBlock>& blocks,
                                TableDef& table) {
  for (ColumnDef& c : table.columns) {
    if (!c.calculated) continue;
    std::optional<DataType> type = CalculatedResultType(blocks, c.name);
    // Only the types a result can have; anything else leaves the column's
    // own type, and its values are then checked against that.
    if (type && KnownResultType(*type)) c.type = *type;
  }
}

}  // namespace corvalin::engine
