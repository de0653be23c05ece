// "Start Appending" driven headless on databases the tests make: the
// bar, the messages, both directions, the same table on both sides, a run
// that cannot open what it needs, a save the file cannot take, and a
// window closed in the middle.
#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <unistd.h>

#include "app/settings_store.h"
#include "db/access1.h"
#include "db/engine/ado/connection.h"
#include "db/engine/ado/recordset.h"
#include "db/engine/format/check.h"
#include "db/engine/format/database.h"
#include "db/engine/format/page_write_set.h"
#include "tests/gui/test_platform.h"
#include "tests/support/corpus.h"
#include "tests/support/fixture.h"
#include "tests/support/readers.h"
#include "ui/page1/form1.h"
#include "ui/page2/append_run.h"
#include "ui/page2/form2.h"
#include "ui/page2/run_yields.h"
#include "ui/style/pointer_feedback.h"
#include "ui/style/sorted_list.h"

namespace corvalin {
namespace {

using testing::CopyOfCorpusFile;
using testing::EmptyTablesFile;
using testing::KeyedTablesFile;
using testing::OneTableFile;
using testing::TestPlatform;
using Rows = std::vector<std::vector<ado::Variant>>;

// The rows of one table as a fresh read-only connection sees them.
Rows ReadRows(const std::string& path, const std::string& table) {
  ado::Connection connection;
  connection.Open(BuildConnectionString(QString::fromStdString(path), QString()).toStdString());
  ado::Recordset records;
  records.Open("SELECT * FROM `" + table + "`", connection, ado::kOpenKeyset, ado::kLockReadOnly);
  Rows rows;
  while (!records.Eof()) {
    std::vector<ado::Variant> row;
    for (int i = 0; i < records.GetFields().Count(); ++i)
      row.push_back(records.GetFields().Item(i).Value());
    rows.push_back(std::move(row));
    records.MoveNext();
  }
  return rows;
}

// What the engine's structure check finds wrong with the file.
std::vector<std::string> Problems(const std::string& path) {
  return engine::CheckDatabase(*engine::Database::Open(path, engine::OpenOptions{}));
}

Rows Concat(Rows a, const Rows& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

QByteArray Bytes(const std::string& path) {
  QFile file(QString::fromStdString(path));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs `hook` in each pass of the window system's events that follows a new
// value of the bar: the run's one yield per record.
class EachYield : public QObject {
 public:
  EachYield(QProgressBar* bar, std::function<void(int)> hook) : hook_(std::move(hook)) {
    connect(bar, &QProgressBar::valueChanged, this, [this](int value) {
      pending_ = value;
      QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    });
  }
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) return QObject::event(e);
    hook_(pending_);
    return true;
  }

 private:
  std::function<void(int)> hook_;
  int pending_ = -1;
};

class AppendRunTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* key : {kKeyFile1, kKeyPassword1, kKeyFile2, kKeyPassword2})
      settings.write(key, QString());
  }

  // Both pages with the two databases listed, as after "Next >".
  Form2& open(const std::string& path1, const std::string& path2) {
    form1.Text1->setText(QString::fromStdString(path1));
    form1.Text3->setText(QString::fromStdString(path2));
    form1.PushButton2_Click();
    EXPECT_TRUE(platform.boxes.empty());
    return form1.form2();
  }
  static void select(SortedList* list, const char* name) {
    const auto found = list->findItems(QString::fromLatin1(name), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << name;
    list->setCurrentItem(found.first());
  }
  QStringList boxTexts() const {
    QStringList texts;
    for (const auto& box : platform.boxes) texts << box.text;
    return texts;
  }
  void expectPlainBox(size_t index, const char* text) {
    ASSERT_GT(platform.boxes.size(), index);
    EXPECT_EQ(platform.boxes[index].text, QString::fromLatin1(text));
    EXPECT_EQ(platform.boxes[index].icon, Platform::Icon::None);
    EXPECT_TRUE(platform.boxes[index].caption.isEmpty()) << "the application title";
  }

  TestPlatform platform;
  SettingsStore settings;
  AdoTableSource tables;
  Form1 form1{platform, settings, tables};
};

// One harness over both formats: a Jet 4 file and an ACE file.
class AppendRunFormats : public AppendRunTest, public ::testing::WithParamInterface<const char*> {
 protected:
  std::string copy() { return OneTableFile(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(JetAndAce, AppendRunFormats,
                         ::testing::Values("one-table.mdb", "one-table.accdb"));

TEST_P(AppendRunFormats, SameTableOnBothSidesAppendsItsRecordsOnce) {
  const std::string file = copy();
  const Rows before = ReadRows(file, "Table");
  ASSERT_EQ(before.size(), 2u);
  Form2& form2 = open(file, file);
  select(form2.List1, "Table");
  select(form2.List2, "Table");
  form2.PushButton2_Click();
  EXPECT_EQ(boxTexts(), QStringList({kAppendDone}));
  // The run stops after the records that were there when it began.
  EXPECT_EQ(ReadRows(file, "Table"), Concat(before, before));
  EXPECT_EQ(Problems(file), std::vector<std::string>());
}

// The end of a run is a sync point: when "Done." shows, a program that
// reads the target file (mdbtools knows nothing of the engine's log) finds
// every record in it, while the run's connections are still open.
TEST_P(AppendRunFormats, DoneShowsOnceTheRecordsAreInTheFileItself) {
  if (!QFile::exists("/usr/bin/mdb-export")) GTEST_SKIP() << "no mdb-export here";
  const std::string target = copy(), source = copy();
  const size_t before = ReadRows(target, "Table").size();
  const size_t added = ReadRows(source, "Table").size();
  ASSERT_EQ(testing::MdbToolsRows(target, "Table"), long(before));
  Form2& form2 = open(target, source);
  select(form2.List2, "Table");
  long rowsAtDone = -1;
  platform.onBox = [&](const testing::Box&) {
    rowsAtDone = testing::MdbToolsRows(target, "Table");
  };
  form2.PushButton2_Click();
  expectPlainBox(0, kAppendDone);
  EXPECT_EQ(rowsAtDone, long(before + added));
  EXPECT_EQ(ReadRows(target, "Table").size(), before + added);
}

TEST_P(AppendRunFormats, FourRecordsMoveTheBarThenDoneAndRunningTwiceAppendsTwice) {
  const std::string target = copy(), source = copy();
  // The source gets its four records from a first run onto itself.
  {
    Form2& form2 = open(source, source);
    select(form2.List1, "Table");
    select(form2.List2, "Table");
    form2.PushButton2_Click();
    ASSERT_EQ(boxTexts(), QStringList({kAppendDone}));
    platform.boxes.clear();
  }
  const Rows sourceRows = ReadRows(source, "Table");
  const Rows targetRows = ReadRows(target, "Table");
  ASSERT_EQ(sourceRows.size(), 4u);

  Form2& form2 = open(target, source);
  select(form2.List2, "Table");
  EXPECT_TRUE(form2.Option1->isEnabled());
  ASSERT_TRUE(form2.Option1->isChecked()) << "database #1 receives the records";
  std::vector<int> values, yields, pointers;
  QObject::connect(form2.ProgressBar1, &QProgressBar::valueChanged,
                   [&](int v) { values.push_back(v); });
  EachYield each(form2.ProgressBar1, [&](int v) {
    yields.push_back(v);
    pointers.push_back(form2.pointer->kind());
    // The pointer handlers run in the yield and leave the hourglass alone.
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), form2.PushButton2->mapToGlobal(QPointF(2, 2)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(form2.PushButton2, &move);
  });
  int barAtDone = -1;
  QString textAtDone;
  platform.onBox = [&](const testing::Box&) {
    barAtDone = form2.ProgressBar1->value();
    textAtDone = form2.ProgressBar1->format();
  };
  form2.PushButton2_Click();
  EXPECT_EQ(values, (std::vector<int>{25, 50, 75, 100, 0}));
  EXPECT_EQ(yields, (std::vector<int>{25, 50, 75, 100})) << "one pass of events after each value";
  EXPECT_EQ(pointers, (std::vector<int>(4, kPointerHourglass)));
  expectPlainBox(0, kAppendDone);
  EXPECT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(barAtDone, 0) << "the bar is reset before \"Done.\" shows";
  EXPECT_EQ(textAtDone, "Progress Bar");
  EXPECT_EQ(form2.pointer->kind(), kPointerOrdinary);
  EXPECT_EQ(ReadRows(target, "Table"), Concat(targetRows, sourceRows)) << "in the source's order";
  EXPECT_EQ(ReadRows(source, "Table"), sourceRows);

  // The page keeps its selections: the next run appends the source again.
  form2.PushButton2_Click();
  EXPECT_EQ(ReadRows(target, "Table"), Concat(Concat(targetRows, sourceRows), sourceRows));
  EXPECT_EQ(platform.boxes.size(), 2u);
  EXPECT_EQ(Problems(target), std::vector<std::string>());
  EXPECT_EQ(Problems(source), std::vector<std::string>());
}

TEST_P(AppendRunFormats, Option2SendsTheRecordsToDatabaseTwo) {
  const std::string one = copy(), two = copy();
  const Rows rows = ReadRows(one, "Table");
  Form2& form2 = open(one, two);
  select(form2.List2, "Table");
  form2.Option2->setChecked(true);
  form2.PushButton2_Click();
  EXPECT_EQ(boxTexts(), QStringList({kAppendDone}));
  EXPECT_EQ(ReadRows(two, "Table"), Concat(rows, rows));
  EXPECT_EQ(ReadRows(one, "Table"), rows);
}

TEST_P(AppendRunFormats, ClicksDuringARunAreIgnored) {
  const std::string target = copy(), source = copy();
  const Rows rows = ReadRows(source, "Table");
  Form2& form2 = open(target, source);
  select(form2.List2, "Table");
  int yields = 0;
  EachYield each(form2.ProgressBar1, [&](int) {
    if (++yields > 1) return;
    EXPECT_TRUE(form2.appending());
    form2.PushButton2->click();  // no second run inside the first
    form2.PushButton5->click();  // no way back in the middle
  });
  form2.PushButton2_Click();
  EXPECT_EQ(yields, 2);
  EXPECT_FALSE(form2.appending());
  EXPECT_TRUE(form2.isVisible());
  EXPECT_FALSE(form1.isVisible());
  EXPECT_EQ(boxTexts(), QStringList({kAppendDone}));
  EXPECT_EQ(ReadRows(target, "Table"), Concat(rows, rows)) << "the source once";
  // After the run "< Back" works again.
  form2.PushButton5->click();
  EXPECT_TRUE(form1.isVisible());
  EXPECT_FALSE(form2.isVisible());
}

TEST_F(AppendRunTest, UnequalColumnCountsAppendNothing) {
  const std::string target = OneTableFile("one-table.mdb");
  const std::string source = EmptyTablesFile("empty-tables.accdb");
  const QByteArray before = Bytes(target);
  Form2& form2 = open(target, source);
  select(form2.List2, "Table1");
  form2.PushButton2_Click();
  expectPlainBox(0, kAppendColumnsDiffer);
  EXPECT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(form2.pointer->kind(), kPointerOrdinary);
  EXPECT_EQ(form2.ProgressBar1->value(), 0);
  EXPECT_EQ(Bytes(target), before);
}

TEST_F(AppendRunTest, AnEmptySourceAppendsNothing) {
  const std::string file = EmptyTablesFile("empty-tables.mdb");
  const QByteArray before = Bytes(file);
  Form2& form2 = open(file, file);
  ASSERT_TRUE(form2.Option1->isChecked());
  select(form2.List1, "Table2");  // target
  select(form2.List2, "Table1");  // source, no records
  form2.PushButton2_Click();
  expectPlainBox(0, kAppendNoRecords);
  EXPECT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(form2.pointer->kind(), kPointerOrdinary);
  EXPECT_EQ(Bytes(file), before);
}

TEST_F(AppendRunTest, NothingSelectedOpensNothingAndLeavesThePointer) {
  const std::string file = OneTableFile("one-table.mdb");
  const QByteArray before = Bytes(file);
  Form2& form2 = open(file, file);
  ASSERT_EQ(form2.List2->count(), 1);
  ASSERT_TRUE(form2.List2->selectedItems().isEmpty()) << "one table: nothing preselected";
  form2.pointer->setKind(kPointerCustom);
  // The file is gone: opening anything would fail with a report.
  std::filesystem::remove(file);
  form2.PushButton2_Click();
  expectPlainBox(0, kAppendNothingSelected);
  EXPECT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(form2.pointer->kind(), kPointerCustom);
}

TEST_F(AppendRunTest, AConnectionThatDoesNotOpenEndsTheRunAfterOneReport) {
  const std::string target = OneTableFile("one-table.mdb");
  const std::string source = OneTableFile("one-table.mdb");
  const QByteArray before = Bytes(target);
  Form2& form2 = open(target, source);
  select(form2.List2, "Table");
  std::filesystem::remove(source);
  form2.PushButton2_Click();
  ASSERT_EQ(platform.boxes.size(), 1u) << boxTexts().join("\n").toStdString();
  EXPECT_EQ(platform.boxes[0].caption, "Application Error");
  EXPECT_NE(platform.boxes[0].text.indexOf(
                "\r\nin Mergeling2021/08/31.Form2.PushButton2_Click at line 126\r\r"),
            -1);
  EXPECT_NE(platform.boxes[0].text.indexOf(QString::fromStdString(source)), -1)
      << "the description names the file";
  EXPECT_EQ(form2.pointer->kind(), kPointerOrdinary);
  EXPECT_EQ(Bytes(target), before);
}

TEST_F(AppendRunTest, ATableThatDoesNotOpenEndsTheRunAfterOneReport) {
  const std::string file = EmptyTablesFile("empty-tables.mdb");
  const QByteArray before = Bytes(file);
  Form2& form2 = open(file, file);
  // A table that was renamed after the listing.
  form2.List1->addName("Gone");
  select(form2.List1, "Gone");
  form2.PushButton2_Click();
  ASSERT_EQ(platform.boxes.size(), 1u) << boxTexts().join("\n").toStdString();
  EXPECT_NE(platform.boxes[0].text.indexOf("PushButton2_Click at line 128\r\r"), -1);
  EXPECT_EQ(form2.pointer->kind(), kPointerOrdinary);
  EXPECT_EQ(Bytes(file), before);
}

TEST_F(AppendRunTest, AFailedAddNewEndsTheRunAndChangesNoRecord) {
  CORVALIN_REQUIRE_CORPUS();
  // A table with an attachment column opens, but the engine refuses to add
  // records to it at AddNew (Access keeps those values in a hidden table).
  const std::string target = CopyOfCorpusFile("V2016/attachments.accdb");
  const std::string source = CopyOfCorpusFile("V2000/compIndexTestV2000.mdb");
  const QByteArray before = Bytes(target);
  Form2& form2 = open(target, source);
  select(form2.List1, "Table1");
  select(form2.List2, "Table1");
  form2.PushButton2_Click();
  ASSERT_EQ(platform.boxes.size(), 1u) << boxTexts().join("\n").toStdString();
  EXPECT_NE(platform.boxes[0].text.indexOf("PushButton2_Click at line 172\r\r"), -1)
      << platform.boxes[0].text.toStdString();
  EXPECT_EQ(form2.pointer->kind(), kPointerOrdinary);
  EXPECT_EQ(form2.ProgressBar1->value(), 0);
  EXPECT_EQ(form2.ProgressBar1->format(), "Progress Bar");
  EXPECT_EQ(Bytes(target), before) << "no source value went into an existing record";
}

TEST_F(AppendRunTest, RefusedValuesAndRecordsAreReportedAndTheRunGoesOn) {
  // Text into a Long Integer key column: every value of the first column is
  // refused, and so is every record then, for its missing key.
  const std::string target = KeyedTablesFile("keyed.mdb");
  const std::string source = OneTableFile("one-table.mdb");
  const Rows before = ReadRows(target, "Table2");
  Form2& form2 = open(target, source);
  select(form2.List1, "Table2");
  select(form2.List2, "Table");
  form2.PushButton2_Click();
  QStringList lines;
  for (const auto& box : platform.boxes) {
    const int at = box.text.indexOf("at line ");
    lines << (at < 0 ? box.text : box.text.mid(at + 8, 3));
  }
  EXPECT_EQ(lines, QStringList({"176", "180", "176", "180", kAppendDone}))
      << boxTexts().join("\n---\n").toStdString();
  EXPECT_EQ(ReadRows(target, "Table2"), before);
  EXPECT_EQ(Problems(target), std::vector<std::string>());
}

// "Notes" (ID: Long, Body: Memo) with the rows 1..rows, bodies of 3,000
// characters, in a file of its own.
std::string NotesFile(const std::string& name, int rows) {
  testing::TableData notes{
      {"Notes", {testing::Column("ID", engine::DataType::kLong), testing::Column("Body", engine::DataType::kMemo)}, {}},
      {}};
  for (int32_t id = 1; id <= rows; ++id)
    notes.rows.push_back({id, std::string(3000, char('a' + id % 26))});
  return testing::MakeDatabase(name, {notes});
}

// The yields of a run handle what is queued at every record and look at
// the descriptors now and then: one watched on the user-interface thread
// is seen in the middle of the run, and at once after it.
TEST_F(AppendRunTest, ADescriptorWatchedDuringARunIsSeenBeforeItEnds) {
  const std::string target = NotesFile("target.mdb", 0);
  const std::string source = NotesFile("source.mdb", 1500);
  Form2& form2 = open(target, source);
  select(form2.List1, "Notes");
  select(form2.List2, "Notes");
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  QSocketNotifier notifier(ends[0], QSocketNotifier::Read);
  std::vector<bool> seen;  // whether the run was under way, each time
  QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
    char byte;
    ASSERT_EQ(::read(ends[0], &byte, 1), 1);
    seen.push_back(form2.appending());
  });
  const bool quickYields = QAbstractEventDispatcher::instance()->inherits("QEventDispatcherGlib");
  int values = 0;
  EachYield each(form2.ProgressBar1, [&](int) {
    EXPECT_EQ(RunYields::active(), quickYields && form2.appending());
    if (++values == 1) ASSERT_EQ(::write(ends[1], "x", 1), 1);
  });
  form2.PushButton2_Click();
  EXPECT_EQ(boxTexts(), QStringList({kAppendDone}));
  EXPECT_EQ(ReadRows(target, "Notes").size(), 1500u);
  EXPECT_EQ(seen, std::vector<bool>({true}));
  EXPECT_FALSE(RunYields::active());
  ASSERT_EQ(::write(ends[1], "y", 1), 1);
  QCoreApplication::processEvents();
  EXPECT_EQ(seen, std::vector<bool>({true, false}));
  ::close(ends[0]);
  ::close(ends[1]);
}

// A save the file cannot take (not a refused record) ends the run after one
// report: the bar reset, the ordinary pointer, no "Done.", and the target
// holds an exact prefix of the source.
class SaveFailure : public AppendRunTest {
 protected:
  // makeRoom runs after the run, before the target is read again (a full
  // disk keeps the last saves in the log until there is room).
  // checkFile: the structure check reads every page, 2 GB of a file at the
  // ceiling.
  void runInto(const std::string& target, const char* expected, bool checkFile,
               const std::function<void()>& makeRoom = [] {}) {
    const std::string source = NotesFile("source.mdb", 60);
    Form2& form2 = open(target, source);
    select(form2.List1, "Notes");
    select(form2.List2, "Notes");
    int yields = 0;
    EachYield each(form2.ProgressBar1, [&](int) { ++yields; });
    form2.PushButton2_Click();
    ASSERT_EQ(platform.boxes.size(), 1u) << boxTexts().join("\n---\n").toStdString();
    const QString text = platform.boxes[0].text;
    EXPECT_EQ(platform.boxes[0].caption, "Application Error");
    EXPECT_NE(text.indexOf("PushButton2_Click at line 180\r\r"), -1) << text.toStdString();
    EXPECT_NE(text.indexOf(QString::fromStdString(target)), -1) << "names the file: " << text.toStdString();
    EXPECT_NE(text.indexOf(QString::fromLatin1(expected)), -1) << text.toStdString();
    EXPECT_FALSE(boxTexts().contains(kAppendDone));
    EXPECT_EQ(form2.ProgressBar1->value(), 0);
    EXPECT_EQ(form2.ProgressBar1->format(), "Progress Bar");
    EXPECT_EQ(form2.pointer->kind(), kPointerOrdinary);
    EXPECT_FALSE(form2.appending());
    makeRoom();
    // The run stopped at the save that failed: the records before it are
    // the source's first ones, in order.
    const Rows rows = ReadRows(target, "Notes");
    EXPECT_GT(rows.size(), 0u);
    EXPECT_LT(rows.size(), 60u);
    EXPECT_EQ(rows.size() + 1, size_t(yields)) << "one yield per record tried";
    for (size_t i = 0; i < rows.size(); ++i)
      EXPECT_EQ(rows[i][0], ado::Variant(int32_t(i + 1))) << "row " << i;
    if (checkFile) {
      EXPECT_EQ(Problems(target), std::vector<std::string>());
    }
  }
};

TEST_F(SaveFailure, TheSizeCeilingEndsTheRunAfterOneReport) {
  const std::string target = NotesFile("ceiling.mdb", 0);
  // A few pages short of what Access can open: a sparse tail of empty pages.
  ASSERT_EQ(::truncate(target.c_str(), off_t(engine::kMostPages - 40) * 4096), 0);
  runInto(target, "would grow past the 2 GB that an Access database can hold", false);
}

TEST_F(SaveFailure, AFullDiskEndsTheRunAfterOneReport) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("corvalin-gui-small-fs-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=1m") != 0) {
    const int why = errno;
    fs::remove(dir);
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(why);
  }
  struct Unmount {
    fs::path dir;
    ~Unmount() {
      ::umount2(dir.c_str(), MNT_DETACH);
      fs::remove_all(dir);
    }
  } unmount{dir};
  const std::string target = (dir / "full.mdb").string();
  fs::copy_file(NotesFile("full.mdb", 0), target);
  {
    // A filler takes all but some 200 KB.
    std::ofstream filler(dir / "filler", std::ios::binary);
    const std::string block(4096, 'f');
    for (uintmax_t left = fs::space(dir).available; left > (200u << 10); left -= 4096)
      filler.write(block.data(), 4096);
  }
  runInto(target, std::strerror(ENOSPC), true, [&] { fs::remove(dir / "filler"); });
}

// Run in a child process by the test below, with the real end of the
// program: the window is closed in the yield of the source's last record.
TEST(AppendCloseChild, Run) {
  const QString paths = qEnvironmentVariable("CORVALIN_APPEND_CHILD");
  if (paths.isEmpty()) GTEST_SKIP() << "only run as the child of ClosingTheWindowMidRun";
  struct EndingPlatform : TestPlatform {
    void endProgram() override { QtPlatform().endProgram(); }
  } platform;
  SettingsStore settings;
  AdoTableSource tables;
  Form1 form1(platform, settings, tables);
  form1.Text1->setText(paths.section('|', 0, 0));
  form1.Text3->setText(paths.section('|', 1, 1));
  form1.PushButton2_Click();
  Form2& form2 = form1.form2();
  form2.List2->setCurrentRow(0);
  EachYield each(form2.ProgressBar1, [&](int value) {
    if (value == 100) form2.close();
  });
  form2.PushButton2_Click();
  std::printf("NOT ENDED\n");
  std::fflush(stdout);
}

TEST_F(AppendRunTest, ClosingTheWindowMidRunKeepsTheRecordsSavedSoFar) {
  const std::string target = OneTableFile("one-table.mdb");
  const std::string source = OneTableFile("one-table.mdb");
  const Rows targetRows = ReadRows(target, "Table");
  const Rows sourceRows = ReadRows(source, "Table");
  ASSERT_EQ(sourceRows.size(), 2u);
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("CORVALIN_APPEND_CHILD", QString::fromStdString(target + "|" + source));
  child.setProcessEnvironment(env);
  child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=AppendCloseChild.Run"});
  ASSERT_TRUE(child.waitForFinished(60000));
  const QByteArray out = child.readAllStandardOutput();
  EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(child.exitCode(), 0);
  EXPECT_FALSE(out.contains("NOT ENDED")) << "closing ends the program at once";
  // The first record was saved before the close; the file reads as a whole.
  EXPECT_EQ(ReadRows(target, "Table"), Concat(targetRows, {sourceRows[0]}));
  EXPECT_EQ(*tables.GetTableList(QString::fromStdString(target), QString()), QStringList({"Table"}));
  EXPECT_EQ(Problems(target), std::vector<std::string>());
  // An independent reader, when the machine has one, sees the same rows.
  if (QFile::exists("/usr/bin/mdb-export")) {
    QProcess reader;
    reader.start("/usr/bin/mdb-export", {QString::fromStdString(target), "Table"});
    ASSERT_TRUE(reader.waitForFinished(30000));
    EXPECT_EQ(reader.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(reader.readAllStandardOutput()),
              "a,b\n\"z\",\"y\"\n\"v\",\"u\"\n\"z\",\"y\"\n");
  }
}

}  // namespace
}  // namespace corvalin
