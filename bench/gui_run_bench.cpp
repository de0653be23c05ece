// The append run of the second page ("Start Appending"), driven offscreen
// through the platform seam, set against the engine's own append of the
// same records (AddNew, the fields, Update) in the same run.
//
//   corvalin_gui_run_bench [ROWS] [FILE TABLE]
//   corvalin_gui_run_bench --once SOURCE SOURCE_TABLE TARGET TARGET_TABLE
//
// By default the source is the "Indexed" table of the bench's own database
// (bench_support.h) grown to ROWS rows (1,000,000 by default), appended
// through the run to the empty "Indexed" table of a new bench database, and
// to its "Plain" table (no indexes). With FILE, TABLE of a copy of FILE is
// grown and appended to TABLE of a second copy.
//
// With --once it makes nothing: one run from SOURCE_TABLE of SOURCE to
// TARGET_TABLE of TARGET (changed in place), printing "run SECONDS cpu
// SECONDS" (wall and CPU time from the press of "Start Appending" to
// "Done.") for a driver that measures the process (real_data_bench.cpp).
#include <sys/resource.h>

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
#include "bench/bench_support.h"
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

using namespace corvalin::bench;

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

// The process's CPU time so far (user and system).
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Seconds for "Start Appending" from source_table of source to
// target_table of target, through both pages as a user takes them; negative
// when the run does not end with "Done.".
double FormRun(const std::string& source, const std::string& source_table,
               const std::string& target, const std::string& target_table,
               double* cpu = nullptr) {
  BenchPlatform platform;
  corvalin::SettingsStore settings;
  corvalin::AdoTableSource tables;
  corvalin::Form1 form1(platform, settings, tables);
  form1.Text1->setText(QString::fromStdString(target));
  form1.Text3->setText(QString::fromStdString(source));
  form1.PushButton2_Click();
  corvalin::Form2& form2 = form1.form2();
  // The first list is the first file's (the target's), the second the source's.
  const std::pair<corvalin::SortedList*, const std::string*> picks[] = {
      {form2.List1, &target_table}, {form2.List2, &source_table}};
  for (const auto& [list, name] : picks) {
    const auto found = list->findItems(QString::fromStdString(*name), Qt::MatchExactly);
    if (found.size() == 1) list->setCurrentItem(found.first());
  }
  platform.texts.clear();
  const double cpu_before = CpuSeconds();
  auto start = Clock::now();
  form2.PushButton2_Click();
  const double run = Seconds(start);
  if (cpu) *cpu = CpuSeconds() - cpu_before;
  if (platform.texts.isEmpty() || platform.texts.back() != QStringLiteral("Done.")) {
    std::cerr << "the run did not end with \"Done.\": "
              << platform.texts.join(QStringLiteral(" | ")).toStdString() << "\n";
    return -1;
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const bool once = argc == 6 && std::string(argv[1]) == "--once";
  long rows = argc > 1 && !once ? std::stol(argv[1]) : 1000000;
  std::string file = argc > 3 && !once ? argv[2] : "";
  std::string table = argc > 3 ? argv[3] : "Indexed";
  if (!file.empty() && !std::filesystem::exists(file)) {
    std::cout << "no input file (" << file << "); give FILE TABLE\n";
    return 0;
  }
  // Settings in a folder of their own, never the user's.
  QTemporaryDir config, runtime;
  setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
  setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  if (once) {
    try {
      double cpu = 0;
      const double run = FormRun(argv[2], argv[3], argv[4], argv[5], &cpu);
      if (run < 0) return 1;
      std::printf("run %.3f cpu %.3f\n", run, cpu);
      return 0;
    } catch (const corvalin::engine::Error& e) {
      std::cerr << "error " << e.number() << ": " << e.description() << "\n";
      return 1;
    }
  }
  int status = 0;
  std::vector<std::string> made;
  try {
    // Without FILE: the bench database, its "Indexed" table grown in the
    // source and appended to the empty "Indexed" and "Plain" tables of new
    // files. With FILE: copies of it, TABLE grown in the source (numbered
    // past its own rows) and appended to TABLE of a copy.
    auto target_file = [&](const std::string& tag) {
      made.push_back(file.empty() ? MakeBenchDatabase("corvalin-gui-bench-" + tag)
                                  : FreshCopy(file, "gui-" + tag));
      return made.back();
    };
    const std::string source = target_file("source");
    const long records = Grow(source, table, rows, file.empty() ? 0 : 1000);
    std::printf("%s, table %s: %ld records appended one at a time\n",
                file.empty() ? "the bench database" : file.c_str(), table.c_str(), records);

    auto start = Clock::now();
    EngineAppend(source, target_file("engine"), table);
    const double engine = Seconds(start);
    std::printf("  engine append (ADO, no window)     %10.0f rows/s\n", records / engine);

    const double run = FormRun(source, table, target_file("target"), table);
    if (run < 0) status = 1;
    else
      std::printf("  \"Start Appending\", indexes kept   %10.0f rows/s  (%.2f of the engine's)\n",
                  records / run, engine / run);
    if (file.empty()) {
      const double plain = FormRun(source, table, target_file("plain"), "Plain");
      if (plain < 0) status = 1;
      else
        std::printf("  \"Start Appending\", no indexes     %10.0f rows/s\n", records / plain);
    }
    std::printf("  (after the runs: %s)\n", ResidentMemory().c_str());
  } catch (const corvalin::engine::Error& e) {
    std::cerr << "error " << e.number() << ": " << e.description() << "\n";
    status = 1;
  }
  for (const auto& p : made) std::filesystem::remove(p);
  return status;
}
