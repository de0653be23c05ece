// Answers the program's boxes and dialogs in tests, and remembers them.
#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <map>
#include <optional>
#include <ostream>

#include "app/platform.h"
#include "db/access1.h"
#include "db/engine/error.h"

// Readable texts in test failures.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace corvalin::testing {

struct Box {
  Platform::Icon icon;
  QString caption;
  QString text;
};

class TestPlatform : public Platform {
 public:
  void messageBox(QWidget*, Icon icon, const QString& caption, const QString& text) override {
    boxes.push_back({icon, caption, text});
    if (onBox) onBox(boxes.back());
  }
  bool askYesNo(QWidget*, const QString& text) override {
    questions << text;
    return answerYes;
  }
  QString openFileName(QWidget*, const QString& title, const QString& filter) override {
    dialogTitle = title;
    dialogFilter = filter;
    return fileToPick;
  }
  bool openUrl(const QUrl& url) override {
    urls << url.toString();
    return true;
  }
  void createConnectionObject() override {
    if (connectionError) throw *connectionError;
    ProbeDatabaseEngine();
  }
  void endProgram() override { ++ended; }

  std::vector<Box> boxes;
  // Called as each box shows, to look at the windows at that moment.
  std::function<void(const Box&)> onBox;
  QStringList questions;
  bool answerYes = false;
  // When set, creating the connection object fails with it.
  std::optional<engine::Error> connectionError;
  QString fileToPick, dialogTitle, dialogFilter;
  QStringList urls;
  int ended = 0;
};

// Tables by path; a path listed in `failing` raises the engine's error.
class TestTables : public TableSource {
 public:
  std::optional<QStringList> GetTableList(const QString& path, const QString&) override;
  std::map<QString, QStringList> tables;
  std::map<QString, QString> failing;
};

}  // namespace corvalin::testing
