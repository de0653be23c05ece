// The start-up sequence as a whole: the provider check that can end the
// program before any window shows, and the automatic advance to the second
// page when both remembered files exist.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include "app/settings_store.h"
#include "app/step_runner.h"
#include "db/access1.h"
#include "db/engine/error.h"
#include "tests/gui/test_platform.h"
#include "tests/support/corpus.h"
#include "tests/support/fixture.h"
#include "ui/page1/form1.h"
#include "ui/page2/form2.h"
#include "ui/style/sorted_list.h"

namespace corvalin {
namespace {

using testing::TestPlatform;

QStringList Names(const SortedList* list) {
  QStringList names;
  for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
  return names;
}

class StartupTest : public ::testing::Test {
 protected:
  void remember(const QString& path1, const QString& path2) {
    settings.write(kKeyFile1, path1);
    settings.write(kKeyPassword1, QString());
    settings.write(kKeyFile2, path2);
    settings.write(kKeyPassword2, QString());
  }
  void TearDown() override { remember(QString(), QString()); }

  TestPlatform platform;
  SettingsStore settings;
  AdoTableSource tables;
};

TEST_F(StartupTest, TheEngineItselfPassesTheProviderCheck) {
  EXPECT_NO_THROW(ProbeDatabaseEngine());
  EXPECT_TRUE(CheckProvider(platform, nullptr));
  EXPECT_TRUE(platform.questions.empty());
  EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(StartupTest, GuidanceHasItsSevenParagraphs) {
  EXPECT_EQ(ProviderGuidanceText(),
            "Error #3706: Provider cannot be found. It may not be properly installed.\r\n\r\n"
            "You are getting this error because:\r\n\r\n"
            "1. Microsoft Access is not installed on your computer.\r\n\r\n"
            "2. A set of Microsoft components to transfer data is not installed on your "
            "computer.\r\n\r\n"
            "You need to download and install Microsoft Access Database Engine 2010 or 2016 to "
            "solve this problem.\r\n\r\n"
            "Would you like me to open the Microsoft site now so you can do this?\r\n\r\n"
            "(If you have any further questions please email a screenshot of this error message "
            "to " +
                QString::fromLatin1(kSupportAddress) + ")");
}

TEST_F(StartupTest, AMissingProviderIsRecognisedByNumberOrByPhrase) {
  struct Case {
    int number;
    const char* description;
    bool missing;
  };
  const Case cases[] = {
      {engine::kErrProviderNotFound, "Provider cannot be found. It may not be properly installed.", true},
      {engine::kErrProviderNotFound, "no such component", true},
      {1, "The PROVIDER CANNOT BE FOUND on this machine", true},
      {2, "Provider Cannot Be Found", true},
      {3, "Class not registered", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    TestPlatform probe;
    probe.connectionError = engine::Error(c.number, c.description);
    EXPECT_FALSE(CheckProvider(probe, nullptr));
    EXPECT_EQ(probe.questions.size(), c.missing ? 1 : 0);
    EXPECT_TRUE(probe.boxes.empty()) << "never the error report";
    EXPECT_TRUE(probe.urls.isEmpty()) << "the answer was No";
  }
}

TEST_F(StartupTest, YesOpensBothPagesInOrderThenTheProgramEnds) {
  remember(QString(), QString());
  platform.connectionError = engine::Error(engine::kErrProviderNotFound, "Provider cannot be found.");
  platform.answerYes = true;
  Form1 form1(platform, settings, tables);
  form1.Start();
  EXPECT_EQ(platform.questions, QStringList({ProviderGuidanceText()}));
  EXPECT_EQ(platform.urls,
            QStringList({"https://www.microsoft.com/en-us/download/details.aspx?id=13255",
                         "https://www.microsoft.com/en-us/download/details.aspx?id=54920"}));
  EXPECT_EQ(platform.ended, 1);
  EXPECT_FALSE(form1.isVisible());
  EXPECT_FALSE(form1.hasForm2()) << "nothing after the check ran";
  EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(StartupTest, NoOrAnotherFailureEndsTheProgramWithoutPages) {
  for (bool missing : {true, false}) {
    TestPlatform probe;
    probe.connectionError = missing ? engine::Error(engine::kErrProviderNotFound, "")
                                    : engine::Error(engine::kErrIo, "cannot load the engine");
    Form1 form1(probe, settings, tables);
    form1.Start();
    EXPECT_EQ(probe.questions.size(), missing ? 1 : 0);
    EXPECT_TRUE(probe.urls.isEmpty());
    EXPECT_EQ(probe.ended, 1);
    EXPECT_FALSE(form1.isVisible());
    EXPECT_TRUE(probe.boxes.empty());
  }
}

TEST_F(StartupTest, FirstStartAndAMissingFileOpenOnTheFirstPage) {
  for (const char* second : {"", "/no/such/moved.accdb"}) {
    SCOPED_TRACE(second);
    const std::string first = testing::OneTableFile("one-table.mdb");
    remember(QString::fromStdString(first), QString::fromLatin1(second));
    Form1 form1(platform, settings, tables);
    form1.Start();
    EXPECT_TRUE(form1.isVisible());
    EXPECT_FALSE(form1.hasForm2());
    EXPECT_EQ(form1.Text3->text(), QString::fromLatin1(second));
    EXPECT_EQ(platform.ended, 0);
    EXPECT_TRUE(platform.boxes.empty());
  }
}

TEST_F(StartupTest, BothRememberedFilesOpenTheSecondPage) {
  const QString one = QString::fromStdString(testing::EmptyTablesFile("empty-tables.mdb"));
  const QString two = QString::fromStdString(testing::OneTableFile("one-table.accdb"));
  remember(one, two);
  Form1 form1(platform, settings, tables);
  form1.Start();
  ASSERT_TRUE(form1.hasForm2());
  Form2& form2 = form1.form2();
  EXPECT_TRUE(form2.isVisible());
  EXPECT_FALSE(form1.isVisible());
  EXPECT_EQ(Names(form2.List1), QStringList({"Table1", "Table2", "Table3"}));
  EXPECT_EQ(form2.List1->currentRow(), 0);
  EXPECT_EQ(Names(form2.List2), QStringList({"Table"}));
  EXPECT_EQ(form2.Frame1->title(), "Access Database #1");
  EXPECT_TRUE(platform.boxes.empty());
  // "< Back" shows the first page with the restored fields; the second page
  // keeps its lists.
  form2.PushButton5_Click();
  EXPECT_TRUE(form1.isVisible());
  EXPECT_FALSE(form2.isVisible());
  EXPECT_EQ(form1.Text1->text(), one);
  EXPECT_EQ(form1.Text3->text(), two);
  EXPECT_EQ(Names(form2.List1), QStringList({"Table1", "Table2", "Table3"}));
  EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(StartupTest, OneRememberedFileForBothOpensTheSecondPageForASharedFile) {
  const QString file = QString::fromStdString(testing::EmptyTablesFile("empty-tables.mdb"));
  remember(file, file);
  Form1 form1(platform, settings, tables);
  form1.Start();
  Form2& form2 = form1.form2();
  EXPECT_TRUE(form2.isVisible());
  EXPECT_EQ(form2.Frame1->title(), "Access Database #1 (same file)");
  EXPECT_FALSE(form2.Option1->isEnabled());
  EXPECT_EQ(form2.List1->currentItem()->text(), "Table1");
  EXPECT_EQ(form2.List2->currentItem()->text(), "Table2");
}

TEST_F(StartupTest, AWrongPasswordIsReportedByNextThenTheSecondPageShows) {
  CORVALIN_REQUIRE_CORPUS();
  const QString one = QString::fromStdString(
      testing::CopyOfCorpusFile("encrypted/V2000_with-password.mdb"));
  const QString two = QString::fromStdString(testing::OneTableFile("one-table.accdb"));
  remember(one, two);
  settings.write(kKeyPassword1, "wrong");
  Form1 form1(platform, settings, tables);
  form1.Start();
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_NE(platform.boxes[0].text.indexOf(
                "in Mergeling2021/08/31.Form1.PushButton2_Click at line 100\r\r"),
            -1);
  EXPECT_TRUE(form1.form2().isVisible());
  EXPECT_FALSE(form1.isVisible());
  EXPECT_EQ(Names(form1.form2().List2), QStringList({"Table"}));
}

TEST_F(StartupTest, ClosingEitherPageEndsTheProgram) {
  for (bool second : {false, true}) {
    TestPlatform closing;
    Form1 form1(closing, settings, tables);
    form1.Start();
    QWidget& window = second ? static_cast<QWidget&>(form1.form2()) : form1;
    window.show();
    EXPECT_TRUE(window.close());
    EXPECT_EQ(closing.ended, 1);
  }
}

}  // namespace
}  // namespace corvalin
