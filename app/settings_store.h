// The per-user settings: an INI file (~/.config/Varnholt/Corvalin.ini),
// section "Corvalin". Every write reaches the disk before it returns, and
// the file is readable by its owner only, because it holds passwords in
// plain text.
#pragma once

#include <QSettings>
#include <QString>

namespace corvalin {

inline constexpr const char kKeyFile1[] = "AccessMDBFile";
inline constexpr const char kKeyPassword1[] = "AccessPassword";
inline constexpr const char kKeyFile2[] = "AccessMDBFile2";
inline constexpr const char kKeyPassword2[] = "AccessPassword2";

class SettingsStore {
 public:
  SettingsStore();
  QString read(const char* key, const QString& fallback = QString());
  void write(const char* key, const QString& text);
  QString fileName() const { return settings_.fileName(); }

 private:
  QSettings settings_;
};

}  // namespace corvalin
