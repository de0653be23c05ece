// A small JSON reader for the files the tools read (the create command's
// schema): the whole text into a tree. Numbers keep their text, so that each
// column type can read them without a detour through double.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace corvalin::tool {

struct JsonMember;

struct JsonValue {
  enum class Kind { kNull, kBoolean, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string text;  // a string's UTF-8 text, or a number as written
  std::vector<JsonValue> items;                             // array
  std::vector<JsonMember> members;                          // object, in order
  int line = 1;                                             // where it starts

  bool IsNull() const { return kind == Kind::kNull; }
  // The member's value, or nullptr when the object has no such member.
  const JsonValue* Find(const std::string& key) const;
};

struct JsonMember {
  std::string first;  // the name
  JsonValue second;   // the value
};

// "array", "object", ... for messages.
const char* JsonKindName(JsonValue::Kind kind);

// Parses one JSON document. Throws engine::Error (kErrSyntax) naming the
// line and column of the first fault and what was expected; documents nested
// deeper than 64 levels are refused.
JsonValue ParseJson(const std::string& text);

}  // namespace corvalin::tool
