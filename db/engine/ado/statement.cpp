#include "db/engine/ado/statement.h"

#include <cctype>

#include "db/engine/error.h"

namespace corvalin::ado {
namespace {

class Scanner {
 public:
  explicit Scanner(const std::string& text) : text_(text) {}

  void SkipBlanks() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  void Advance() { ++pos_; }

  // A keyword followed by a non-word character (or the end).
  bool Keyword(const char* word) {
    size_t p = pos_;
    for (const char* w = word; *w; ++w, ++p) {
      if (p >= text_.size() ||
          std::toupper(static_cast<unsigned char>(text_[p])) != *w) {
        return false;
      }
    }
    if (p < text_.size() && IsWordChar(text_[p])) return false;
    pos_ = p;
    return true;
  }

  // Everything up to the closing character; false when it never comes.
  bool Until(char close, std::string* out) {
    size_t end = text_.find(close, pos_);
    if (end == std::string::npos) return false;
    *out = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    return true;
  }

  std::string Word() {
    size_t start = pos_;
    while (pos_ < text_.size() && IsWordChar(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }

  static bool IsWordChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '_' || u >= 0x80;
  }

 private:
  const std::string& text_;
  size_t pos_ = 0;
};

[[noreturn]] void Fail(const std::string& statement, const std::string& why) {
  throw engine::Error(engine::kErrSyntax,
                      "Syntax error in the statement \"" + statement + "\": " + why + ".");
}

}  // namespace

std::string ParseTableStatement(const std::string& statement) {
  Scanner s(statement);
  s.SkipBlanks();
  if (!s.Keyword("SELECT")) Fail(statement, "only SELECT * FROM a table is understood");
  s.SkipBlanks();
  if (s.Peek() != '*') Fail(statement, "only SELECT * FROM a table is understood");
  s.Advance();
  s.SkipBlanks();
  if (!s.Keyword("FROM")) Fail(statement, "FROM is missing after SELECT *");
  s.SkipBlanks();
  std::string name;
  if (s.Peek() == '`') {
    s.Advance();
    if (!s.Until('`', &name)) Fail(statement, "the table name has no closing grave accent");
  } else if (s.Peek() == '[') {
    s.Advance();
    if (!s.Until(']', &name)) Fail(statement, "the table name has no closing bracket");
  } else {
    name = s.Word();
  }
  if (name.empty()) Fail(statement, "the table name is missing");
  s.SkipBlanks();
  if (s.Peek() == ';') {
    s.Advance();
    s.SkipBlanks();
  }
  if (!s.AtEnd()) Fail(statement, "there is more after the table name");
  return name;
}

}  // namespace corvalin::ado
