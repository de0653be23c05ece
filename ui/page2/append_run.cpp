#include "ui/page2/append_run.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <QRadioButton>
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/platform.h"
#include "app/step_runner.h"
#include "db/access1.h"
#include "db/engine/ado/connection.h"
#include "db/engine/ado/recordset.h"
#include "db/engine/error.h"
#include "ui/page2/form2.h"
#include "ui/page2/run_yields.h"
#include "ui/style/pointer_feedback.h"
#include "ui/style/sorted_list.h"

namespace corvalin {

namespace {

// The text the bar shows; it is not changed while a run goes.
const char kProgressText[] = "Progress Bar";

// Every table is read and written through "SELECT * FROM `name`", the name
// exactly as the list shows it.
std::string TableStatement(const QString& table) {
  return (QStringLiteral("SELECT * FROM `") + table + QStringLiteral("`")).toStdString();
}

bool HasSelection(const SortedList& list) { return !list.selectedItems().isEmpty(); }

QString SelectedName(const SortedList& list, const char* listName) {
  const auto items = list.selectedItems();
  if (items.isEmpty())
    throw std::runtime_error(std::string("No table is selected in ") + listName + ".");
  return items.first()->text();
}

// An object of the run that a failed creation step left out.
template <typename T>
T& Created(std::optional<T>& object, const char* what) {
  if (!object)
    throw engine::Error(engine::kErrObjectClosed, std::string("The ") + what + " was not created.");
  return *object;
}

ado::Recordset& Created(std::unique_ptr<ado::Recordset>& object, const char* what) {
  if (!object)
    throw engine::Error(engine::kErrObjectClosed, std::string("The ") + what + " was not created.");
  return *object;
}

// The bar's value for record `number` of `total`: the share done, computed
// in double precision and rounded to the nearest whole number (halves to
// even), as assigning it to the bar's whole-number value does.
int ProgressValue(int number, int total) {
  if (total == 0) throw std::runtime_error("Division by zero");
  const double percent = static_cast<double>(number) / total * 100.0;
  return std::clamp(static_cast<int>(std::nearbyint(percent)), 0, 100);
}

class AppendRun {
 public:
  AppendRun(Platform& platform, Form2& page, const DatabaseChoice& choice)
      : platform_(platform), page_(page), choice_(choice),
        run_(platform, &page, QStringLiteral("Form2.PushButton2_Click")) {}

  void Run();

 private:
  void say(const char* text) {
    platform_.messageBox(&page_, Platform::Icon::None, QString(), QString::fromLatin1(text));
  }
  ado::Connection& connection(std::optional<ado::Connection>& c);
  bool openConnections();
  bool openRecordSets();
  bool copyAll();
  // The end of a run that stopped early: the bar and the pointer as after a
  // finished run, without "Done.".
  void stopEarly() {
    run_.step(186, [&] { resetBar(); });
    finish();
  }
  void finish() {
    run_.step(200, [&] { page_.pointer->setKind(kPointerOrdinary); });
  }
  void resetBar() {
    page_.ProgressBar1->setValue(0);
    page_.ProgressBar1->setFormat(QString::fromLatin1(kProgressText));
  }

  Platform& platform_;
  Form2& page_;
  const DatabaseChoice& choice_;
  StepRunner run_;

  // The objects of one run. Declared after the connections, the record sets
  // are released before the connections they were opened on.
  std::optional<ado::Connection> target_, source_;
  std::optional<ado::Recordset> sourceRecords_, targetRecords_;
  // The rows of each selected table, read only to count their columns.
  std::unique_ptr<ado::Recordset> checkA_, checkB_;
};

void AppendRun::Run() {
  run_.step(100, [&] { target_.emplace(); });
  run_.step(102, [&] { source_.emplace(); });
  run_.step(104, [&] { sourceRecords_.emplace(); });
  // Two spare objects, which the check results replace.
  run_.step(106, [&] { checkA_ = std::make_unique<ado::Recordset>(); });
  run_.step(108, [&] { checkB_ = std::make_unique<ado::Recordset>(); });
  run_.step(110, [&] { targetRecords_.emplace(); });

  if (!run_.test(114, [&] { return HasSelection(*page_.List1) && HasSelection(*page_.List2); })) {
    // Nothing was opened and the pointer was not touched.
    run_.step(202, [&] { say(kAppendNothingSelected); });
    return;
  }
  run_.step(116, [&] { page_.pointer->setKind(kPointerHourglass); });
  run_.step(118, [&] { Created(target_, "target connection").SetMode(ado::kModeReadWrite); });
  run_.step(120, [&] { Created(source_, "source connection").SetMode(ado::kModeReadWrite); });

  // A connection, check result or record set that did not open would fail
  // every later step that uses it, and an unopened source would never reach
  // its end: the run ends after the report instead.
  if (!openConnections()) return stopEarly();
  if (!run_.test(140, [&] {
        return Created(checkA_, "check result").GetFields().Count() ==
               Created(checkB_, "check result").GetFields().Count();
      })) {
    run_.step(198, [&] { say(kAppendColumnsDiffer); });
    return finish();
  }
  if (!openRecordSets()) return stopEarly();

  bool atEnd = false;
  if (!run_.step(152, [&] { atEnd = Created(sourceRecords_, "source record set").Eof(); }))
    return stopEarly();
  if (atEnd) {
    run_.step(196, [&] { say(kAppendNoRecords); });
    return finish();
  }
  if (!copyAll()) return stopEarly();
  // The end of the run is a sync point: "Done." shows once every record is
  // in the target file itself, where other programs read it, and on the
  // device. The close when the run's objects go finds nothing left to write.
  run_.step(184, [&] { connection(target_).Sync(); });
  run_.step(184, [&] { page_.pointer->setKind(kPointerOrdinary); });
  run_.step(186, [&] { resetBar(); });
  run_.step(194, [&] { say(kAppendDone); });
  finish();
}

ado::Connection& AppendRun::connection(std::optional<ado::Connection>& c) {
  return Created(c, &c == &target_ ? "target connection" : "source connection");
}

bool AppendRun::openConnections() {
  auto open = [&](std::optional<ado::Connection>& c, const QString& connectionString) {
    connection(c).Open(connectionString.toStdString());
  };
  auto check = [&](std::unique_ptr<ado::Recordset>& result, std::optional<ado::Connection>& c,
                   const SortedList& list, const char* listName) {
    result = connection(c).Execute(TableStatement(SelectedName(list, listName)));
  };
  const SortedList& list1 = *page_.List1;
  const SortedList& list2 = *page_.List2;
  // With Option1 database #1 receives the records; otherwise database #2.
  if (run_.test(122, [&] { return page_.Option1->isChecked(); })) {
    return run_.step(124, [&] { open(target_, GetConnectionString(choice_)); }) &&
           run_.step(126, [&] { open(source_, GetConnectionString2(choice_)); }) &&
           run_.step(128, [&] { check(checkA_, target_, list1, "List1"); }) &&
           run_.step(130, [&] { check(checkB_, source_, list2, "List2"); });
  }
  return run_.step(132, [&] { open(target_, GetConnectionString2(choice_)); }) &&
         run_.step(134, [&] { open(source_, GetConnectionString(choice_)); }) &&
         run_.step(136, [&] { check(checkA_, source_, list1, "List1"); }) &&
         run_.step(138, [&] { check(checkB_, target_, list2, "List2"); });
}

bool AppendRun::openRecordSets() {
  auto records = [&](std::optional<ado::Recordset>& r, const SortedList& list,
                     const char* listName, std::optional<ado::Connection>& c) {
    Created(r, &r == &sourceRecords_ ? "source record set" : "target record set")
        .Open(TableStatement(SelectedName(list, listName)), connection(c), ado::kOpenKeyset,
              ado::kLockOptimistic);
  };
  const SortedList& list1 = *page_.List1;
  const SortedList& list2 = *page_.List2;
  if (run_.test(142, [&] { return page_.Option1->isChecked(); })) {
    return run_.step(144, [&] { records(sourceRecords_, list2, "List2", source_); }) &&
           run_.step(146, [&] { records(targetRecords_, list1, "List1", target_); });
  }
  return run_.step(148, [&] { records(sourceRecords_, list1, "List1", source_); }) &&
         run_.step(150, [&] { records(targetRecords_, list2, "List2", target_); });
}

bool AppendRun::copyAll() {
  // The loop's state in one place: each step below captures it (and at
  // most the run) by reference, which std::function keeps without
  // allocating, once for every step of every record.
  struct Loop {
    ado::Recordset* source;
    ado::Recordset* target;
    int columnCount = 0;
    int number = 0;
    int total = 0;
    int column = 0;
    bool more = false;
    bool fileFailed = false;
  };
  // The yields below handle everything queued at every record, and ask the
  // kernel about descriptors now and then only.
  const RunYields yields;
  // Both were opened; a failed opening never gets here.
  Loop loop{&Created(sourceRecords_, "source record set"),
            &Created(targetRecords_, "target record set")};
  // Without the source's columns every record would be added empty.
  if (!run_.step(160, [&loop] { loop.columnCount = loop.source->GetFields().Count(); }))
    return false;
  run_.step(162, [&loop] { loop.number = 1; });
  // Read once: the keyset fixed the source's rows when it was opened, so the
  // records this run adds are never read back, not even from the same table.
  run_.step(164, [&loop] { loop.total = static_cast<int>(loop.source->RecordCount()); });
  for (;;) {
    // A source whose end cannot be told would loop for ever.
    if (!run_.step(166, [&loop] { loop.more = !loop.source->Eof(); })) return false;
    if (!loop.more) return true;
    run_.step(168, [this, &loop] {
      page_.ProgressBar1->setValue(ProgressValue(loop.number, loop.total));
    });
    // The one place where the window system runs during a run: repaint, the
    // pointer, the buttons and the close box.
    run_.step(170, [] { QCoreApplication::processEvents(); });
    // Without a new record pending, the assignments below would land in the
    // target's current record: a failed add ends the run, so no existing
    // record is ever changed.
    if (!run_.step(172, [&loop] { loop.target->AddNew(); })) return false;
    for (loop.column = 0; loop.column < loop.columnCount; ++loop.column) {
      // A value the target refuses is reported; the record goes on without it.
      run_.step(176, [&loop] {
        loop.target->GetFields().Item(loop.column).SetValue(
            loop.source->GetFields().Item(loop.column).Value());
      });
    }
    // A record the target refuses is reported and not appended. A save the
    // file cannot take at all (a full disk, an I/O error, the size ceiling)
    // is reported once and ends the run: every later record would fail the
    // same way, and the target keeps an exact prefix of the source.
    loop.fileFailed = false;
    run_.step(180, [&loop] {
      try {
        loop.target->Update();
      } catch (const engine::Error& e) {
        loop.fileFailed = !engine::RefusesTheRecord(e.number());
        throw;
      }
    });
    if (loop.fileFailed) return false;
    run_.step(182, [&loop] { ++loop.number; });
    // A source that cannot move on would give the same record for ever.
    if (!run_.step(184, [&loop] { loop.source->MoveNext(); })) return false;
  }
}

}  // namespace

void RunAppend(Platform& platform, Form2& page, const DatabaseChoice& choice) {
  AppendRun(platform, page, choice).Run();
}

}  // namespace corvalin
