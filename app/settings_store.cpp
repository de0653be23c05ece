#include "app/settings_store.h"

#include <sys/stat.h>

#include <QFile>

namespace corvalin {

namespace {
const char kSection[] = "Corvalin";
}

SettingsStore::SettingsStore()
    : settings_(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Varnholt"),
                QStringLiteral("Corvalin")) {}

QString SettingsStore::read(const char* key, const QString& fallback) {
  settings_.beginGroup(QLatin1String(kSection));
  QString value = settings_.value(QLatin1String(key), fallback).toString();
  settings_.endGroup();
  return value;
}

void SettingsStore::write(const char* key, const QString& text) {
  settings_.beginGroup(QLatin1String(kSection));
  settings_.setValue(QLatin1String(key), text);
  settings_.endGroup();
  // QSettings writes a new file and renames it over the old one; with this
  // umask the new file is never readable by others, not even for a moment.
  mode_t old = ::umask(077);
  settings_.sync();
  ::umask(old);
  // A file that existed before with wider permissions is narrowed too.
  QFile::setPermissions(settings_.fileName(), QFile::ReadOwner | QFile::WriteOwner);
}

}  // namespace corvalin
