// Display names of format versions and column types.
#include "db/engine/format/database.h"
#include "db/engine/format/table_def.h"

namespace corvalin::engine {

const char* JetVersionName(JetVersion version) {
  switch (version) {
    case JetVersion::kJet3: return "Jet3";
    case JetVersion::kJet4: return "Jet4";
    case JetVersion::kAce12: return "ACE12";
    case JetVersion::kAce14: return "ACE14";
    case JetVersion::kAce15: return "ACE15";
    case JetVersion::kAce16: return "ACE16";
    case JetVersion::kAce17: return "ACE17";
  }
  return "unknown";
}

const char* DataTypeName(DataType type) {
  switch (type) {
    case DataType::kBoolean: return "Boolean";
    case DataType::kByte: return "Byte";
    case DataType::kInteger: return "Integer";
    case DataType::kLong: return "Long";
    case DataType::kCurrency: return "Currency";
    case DataType::kSingle: return "Single";
    case DataType::kDouble: return "Double";
    case DataType::kDateTime: return "Date/Time";
    case DataType::kBinary: return "Binary";
    case DataType::kText: return "Text";
    case DataType::kOle: return "OLE";
    case DataType::kMemo: return "Memo";
    case DataType::kUnknown0D: return "Unknown 0x0D";
    case DataType::kReplicationId: return "Replication ID";
    case DataType::kDecimal: return "Decimal";
    case DataType::kUnknown11: return "Unknown 0x11";
    case DataType::kComplex: return "Complex";
    case DataType::kBigInt: return "BigInt";
    case DataType::kExtDateTime: return "Date/Time Extended";
  }
  return "unknown";
}

}  // namespace corvalin::engine
