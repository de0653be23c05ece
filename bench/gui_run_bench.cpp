// The append run of the second page ("Start Appending"), driven offscreen
// through the platform seam, set against the engine's own append of the
// same records (AddNew, the fields, Update) in the same run.
//
//   corvalin_gui_run_bench [ROWS] [FILE TABLE]
//
// A copy of FILE (by default an Access-made file of the sample corpus:
// ../shared/corpus, or $CORVALIN_CORPUS) is grown to ROWS rows (50,000 by
// default) and appended, through the run, to TABLE of a second copy.
#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/platform.h"
#include "app/settings_store.h"
#include "db/access1.h"
#include "db/engine/ado/connection.h"
#include "db/engine/ado/recordset.h"
#include "db/engine/error.h"
#include "db/engine/format/database.h"
#include "db/engine/format/table_writer.h"
#include "ui/page1/form1.h"
#include "ui/page2/form2.h"
#include "ui/style/sorted_list.h"

namespace {

using Clock = std::chrono::steady_clock;
using corvalin::engine::DataType;
using corvalin::engine::Value;

// Answers every box by remembering its text: nothing is shown.
class BenchPlatform : public corvalin::Platform {
 public:
  void messageBox(QWidget*, Icon, const QString&, const QString& text) override {
    texts << text;
  }
  bool askYesNo(QWidget*, const QString&) override { return false; }
  QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
  bool openUrl(const QUrl&) override { return true; }
  void createConnectionObject() override { corvalin::ProbeDatabaseEngine(); }
  void endProgram() override {}
  QStringList texts;
};

Value Generated(DataType type, long i) {
  switch (type) {
    case DataType::kBoolean: return i % 2 == 0;
    case DataType::kByte: return uint8_t(i % 256);
    case DataType::kInteger: return int16_t(i % 30000);
    case DataType::kLong: return int32_t(i);
    case DataType::kCurrency: return corvalin::engine::Currency{i * 125};
    case DataType::kDouble: return double(i) / 8;
    case DataType::kDateTime: return corvalin::engine::DateTime{40000.0 + i % 5000 + 0.25};
    case DataType::kText: return "bench row " + std::to_string(i);
    default: return corvalin::engine::Null{};
  }
}

std::string Copy(const std::string& from, const std::string& name) {
  std::string to = (std::filesystem::temp_directory_path() /
                    (name + std::filesystem::path(from).extension().string())).string();
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(to, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  return to;
}

// Rows with distinct values until the table has `rows`; returns how many it has.
long Grow(const std::string& path, const std::string& table, long rows) {
  auto db = corvalin::engine::Database::Open(path, {.password = "", .writable = true});
  auto def = db->ReadTableDef(table);
  long have = static_cast<long>(db->ListRows(*def).size());
  corvalin::engine::TableWriter writer(db, def);
  // Numbers past any the corpus rows hold.
  for (long i = have; i < rows; ++i) {
    std::vector<Value> values;
    for (const auto& c : def->columns)
      values.push_back(c.autonumber ? Value(corvalin::engine::Null{}) : Generated(c.type, i + 1000));
    writer.Insert(std::move(values));
  }
  return std::max(have, rows);
}

// The engine alone: what the run does per record, without the window.
void EngineAppend(const std::string& source, const std::string& target, const std::string& table) {
  auto open = [](corvalin::ado::Connection& c, const std::string& path) {
    c.SetMode(corvalin::ado::kModeReadWrite);
    c.Open(corvalin::BuildConnectionString(QString::fromStdString(path), QString()).toStdString());
  };
  corvalin::ado::Connection from, to;
  open(to, target);
  open(from, source);
  corvalin::ado::Recordset in, out;
  in.Open("SELECT * FROM `" + table + "`", from, corvalin::ado::kOpenKeyset,
          corvalin::ado::kLockOptimistic);
  out.Open("SELECT * FROM `" + table + "`", to, corvalin::ado::kOpenKeyset,
           corvalin::ado::kLockOptimistic);
  const int columns = in.GetFields().Count();
  for (; !in.Eof(); in.MoveNext()) {
    out.AddNew();
    for (int k = 0; k < columns; ++k)
      out.GetFields().Item(k).SetValue(in.GetFields().Item(k).Value());
    // As in the run, a record the target refuses (the corpus rows are in
    // both files) is passed over.
    try {
      out.Update();
    } catch (const corvalin::engine::Error&) {
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::stol(argv[1]) : 50000;
  const char* corpus = std::getenv("CORVALIN_CORPUS");
  std::string file = argc > 3 ? argv[2]
                              : std::string(corpus ? corpus : CORVALIN_CORPUS_DIR) +
                                    "/V2010/testV2010.accdb";
  std::string table = argc > 3 ? argv[3] : "Table1";
  if (!std::filesystem::exists(file)) {
    std::cout << "no input file (" << file << "); give FILE TABLE\n";
    return 0;
  }
  // Settings in a folder of their own, never the user's.
  QTemporaryDir config, runtime;
  setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
  setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  int status = 0;
  std::string source = Copy(file, "corvalin-gui-bench-source");
  std::string target = Copy(file, "corvalin-gui-bench-target");
  std::string engineTarget = Copy(file, "corvalin-gui-bench-engine");
  try {
    const long records = Grow(source, table, rows);

    auto start = Clock::now();
    EngineAppend(source, engineTarget, table);
    const double engine = std::chrono::duration<double>(Clock::now() - start).count();

    BenchPlatform platform;
    corvalin::SettingsStore settings;
    corvalin::AdoTableSource tables;
    corvalin::Form1 form1(platform, settings, tables);
    form1.Text1->setText(QString::fromStdString(target));
    form1.Text3->setText(QString::fromStdString(source));
    form1.PushButton2_Click();
    corvalin::Form2& form2 = form1.form2();
    for (corvalin::SortedList* list : {form2.List1, form2.List2}) {
      const auto found = list->findItems(QString::fromStdString(table), Qt::MatchExactly);
      if (found.size() == 1) list->setCurrentItem(found.first());
    }
    platform.texts.clear();
    start = Clock::now();
    form2.PushButton2_Click();
    const double run = std::chrono::duration<double>(Clock::now() - start).count();
    if (platform.texts.isEmpty() || platform.texts.back() != QStringLiteral("Done.")) {
      std::cerr << "the run did not end with \"Done.\": "
                << platform.texts.join(QStringLiteral(" | ")).toStdString() << "\n";
      status = 1;
    }
    std::printf("file %s, table %s: %ld records appended\n", file.c_str(), table.c_str(), records);
    std::printf("  engine append (ADO, no window)  %10.0f rows/s\n", records / engine);
    std::printf("  the run of \"Start Appending\"    %10.0f rows/s  (%.2f of the engine's)\n",
                records / run, engine / run);
  } catch (const corvalin::engine::Error& e) {
    std::cerr << "error " << e.number() << ": " << e.description() << "\n";
    status = 1;
  }
  for (const auto& p : {source, target, engineTarget}) std::filesystem::remove(p);
  return status;
}
