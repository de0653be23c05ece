// The database choice: two pairs of path and password, held only in the
// first page's four fields and read at the moment of use, so what the
// fields hold when a listing or an append starts is what is used.
#pragma once

#include <QString>

namespace corvalin {

class DatabaseChoice {
 public:
  virtual ~DatabaseChoice() = default;
  virtual QString path1() const = 0;      // Text1
  virtual QString password1() const = 0;  // Text2
  virtual QString path2() const = 0;      // Text3
  virtual QString password2() const = 0;  // Text4
};

}  // namespace corvalin
