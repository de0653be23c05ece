#include "db/tool/json_reader.h"

#include <cstdint>

#include "db/engine/error.h"

namespace corvalin::tool {
namespace {

// Deeper documents are refused rather than recursed into.
constexpr int kMaxDepth = 64;

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  JsonValue Document() {
    SkipSpace();
    JsonValue value = Value(0);
    SkipSpace();
    if (pos_ != text_.size()) Fail("the document has more after its end");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    size_t end = pos_ < text_.size() ? pos_ : text_.size();
    size_t line_start = text_.rfind('\n', end == 0 ? 0 : end - 1);
    size_t column = line_start == std::string::npos || end == 0 ? end + 1 : end - line_start;
    throw engine::Error(engine::kErrSyntax, "JSON line " + std::to_string(line_) + ", column " +
                                                std::to_string(column) + ": " + what);
  }

  int Line() const { return line_; }

  // Line breaks only occur between tokens (strings refuse raw control
  // characters), so counting them here keeps the line number current.
  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      line_ += text_[pos_] == '\n';
      ++pos_;
    }
  }

  bool Literal(const char* word) {
    size_t n = std::char_traits<char>::length(word);
    if (text_.compare(pos_, n, word) != 0) return false;
    pos_ += n;
    return true;
  }

  JsonValue Value(int depth) {
    if (depth > kMaxDepth) Fail("nested deeper than " + std::to_string(kMaxDepth) + " levels");
    if (pos_ >= text_.size()) Fail("a value was expected, the text ended");
    JsonValue value;
    value.line = Line();
    char c = text_[pos_];
    if (c == '{') {
      value.kind = JsonValue::Kind::kObject;
      ++pos_;
      SkipSpace();
      if (pos_ < text_.size() && text_[pos_] == '}') {
        ++pos_;
        return value;
      }
      for (;;) {
        SkipSpace();
        if (pos_ >= text_.size() || text_[pos_] != '"') Fail("a member name in quotes was expected");
        std::string key = String();
        SkipSpace();
        if (pos_ >= text_.size() || text_[pos_] != ':') Fail("':' was expected after a member name");
        ++pos_;
        SkipSpace();
        value.members.push_back({std::move(key), Value(depth + 1)});
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (pos_ < text_.size() && text_[pos_] == '}') {
          ++pos_;
          return value;
        }
        Fail("',' or '}' was expected");
      }
    }
    if (c == '[') {
      value.kind = JsonValue::Kind::kArray;
      ++pos_;
      SkipSpace();
      if (pos_ < text_.size() && text_[pos_] == ']') {
        ++pos_;
        return value;
      }
      for (;;) {
        SkipSpace();
        value.items.push_back(Value(depth + 1));
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (pos_ < text_.size() && text_[pos_] == ']') {
          ++pos_;
          return value;
        }
        Fail("',' or ']' was expected");
      }
    }
    if (c == '"') {
      value.kind = JsonValue::Kind::kString;
      value.text = String();
      return value;
    }
    if (Literal("true") || Literal("false")) {
      value.kind = JsonValue::Kind::kBoolean;
      value.boolean = text_[pos_ - 1] == 'e' && text_[pos_ - 2] == 'u';
      return value;
    }
    if (Literal("null")) return value;
    if (c == '-' || (c >= '0' && c <= '9')) {
      value.kind = JsonValue::Kind::kNumber;
      value.text = Number();
      return value;
    }
    Fail("a value was expected");
  }

  static bool Digit(char c) { return c >= '0' && c <= '9'; }

  std::string Number() {
    size_t start = pos_;
    if (text_[pos_] == '-') ++pos_;
    if (pos_ >= text_.size() || !Digit(text_[pos_])) Fail("a digit was expected");
    if (text_[pos_] == '0') {
      ++pos_;
    } else {
      while (pos_ < text_.size() && Digit(text_[pos_])) ++pos_;
    }
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      if (pos_ >= text_.size() || !Digit(text_[pos_])) Fail("a digit was expected after '.'");
      while (pos_ < text_.size() && Digit(text_[pos_])) ++pos_;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (pos_ >= text_.size() || !Digit(text_[pos_])) Fail("a digit was expected in the exponent");
      while (pos_ < text_.size() && Digit(text_[pos_])) ++pos_;
    }
    return text_.substr(start, pos_ - start);
  }

  uint32_t Hex4() {
    if (pos_ + 4 > text_.size()) Fail("four hex digits were expected after \\u");
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[pos_++];
      v <<= 4;
      if (c >= '0' && c <= '9') v |= uint32_t(c - '0');
      else if (c >= 'a' && c <= 'f') v |= uint32_t(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') v |= uint32_t(c - 'A' + 10);
      else Fail("four hex digits were expected after \\u");
    }
    return v;
  }

  static void PutUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
      out += char(cp);
    } else if (cp < 0x800) {
      out += char(0xC0 | (cp >> 6));
      out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += char(0xE0 | (cp >> 12));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    } else {
      out += char(0xF0 | (cp >> 18));
      out += char(0x80 | ((cp >> 12) & 0x3F));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    }
  }

  std::string String() {
    ++pos_;  // the opening quote
    std::string out;
    for (;;) {
      if (pos_ >= text_.size()) Fail("the string has no closing quote");
      unsigned char c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (c < 0x20) Fail("a control character inside a string must be escaped");
      if (c != '\\') {
        out += char(c);
        ++pos_;
        continue;
      }
      ++pos_;
      if (pos_ >= text_.size()) Fail("the string has no closing quote");
      char e = text_[pos_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          uint32_t cp = Hex4();
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (!Literal("\\u")) Fail("a high surrogate must be followed by a low one");
            uint32_t low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("a high surrogate must be followed by a low one");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            Fail("a low surrogate without a high one");
          }
          PutUtf8(out, cp);
          break;
        }
        default:
          --pos_;
          Fail(std::string("unknown escape \\") + e);
      }
    }
  }

  const std::string& text_;
  size_t pos_ = 0;
  int line_ = 1;
};

}  // namespace

const JsonValue* JsonValue::Find(const std::string& key) const {
  for (const auto& [name, value] : members)
    if (name == key) return &value;
  return nullptr;
}

const char* JsonKindName(JsonValue::Kind kind) {
  switch (kind) {
    case JsonValue::Kind::kNull: return "null";
    case JsonValue::Kind::kBoolean: return "a boolean";
    case JsonValue::Kind::kNumber: return "a number";
    case JsonValue::Kind::kString: return "a string";
    case JsonValue::Kind::kArray: return "an array";
    case JsonValue::Kind::kObject: return "an object";
  }
  return "a value";
}

JsonValue ParseJson(const std::string& text) { return Parser(text).Document(); }

}  // namespace corvalin::tool
