// The GUI tests: one QApplication for all of them, with settings and
// runtime files in temporary folders created before the first QSettings.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QStyleFactory>
#include <QTemporaryDir>

#include "db/engine/error.h"
#include "tests/gui/test_platform.h"

namespace corvalin::testing {
std::optional<QStringList> TestTables::GetTableList(const QString& path, const QString&) {
  if (failing.count(path)) throw engine::Error(engine::kErrNotValidPassword, failing[path].toStdString());
  auto it = tables.find(path);
  if (it == tables.end()) return std::nullopt;
  return it->second;
}
}  // namespace corvalin::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // A child started by the settings test keeps the folders it was given.
  if (!getenv("CORVALIN_TEST_CHILD")) {
    static QTemporaryDir config, runtime;
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  return RUN_ALL_TESTS();
}
