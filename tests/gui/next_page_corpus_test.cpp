// "Next >" on the first page with Access-made files and the program's own
// table source: the engine lists the tables into Form2's lists.
#include <gtest/gtest.h>

#include <QLineEdit>

#include "app/settings_store.h"
#include "db/access1.h"
#include "tests/gui/test_platform.h"
#include "tests/support/corpus.h"
#include "ui/page1/form1.h"
#include "ui/page2/form2.h"
#include "ui/style/sorted_list.h"

namespace corvalin {
namespace {

using testing::TestPlatform;

QStringList Names(SortedList* list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

QString Copy(const char* relative) {
  return QString::fromStdString(corvalin::testing::CopyOfCorpusFile(relative));
}

class NextPageCorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CORVALIN_REQUIRE_CORPUS();
    jet4 = Copy("V2000/testV2000.mdb");            // Table1 .. Table4
    ace = Copy("V2007/indexTestV2007.accdb");      // Table1 .. Table3 and MSysCompactError
    protected_file = Copy("encrypted/V2000_with-password.mdb");  // Table1, password "password"
  }
  // The error reports shown so far for "Next >" at `line`.
  int ReportsAt(int line) const {
    const QString where = QStringLiteral("Form1.PushButton2_Click at line %1").arg(line);
    int n = 0;
    for (const auto& box : platform.boxes) n += box.text.contains(where) ? 1 : 0;
    return n;
  }

  TestPlatform platform;
  SettingsStore settings;
  AdoTableSource source;
  Form1 form1{platform, settings, source};
  QString jet4, ace, protected_file;
};

TEST_F(NextPageCorpusTest, ListsBothFilesTablesWithTheirPreselection) {
  form1.Text1->setText(jet4);
  form1.Text2->setText("");
  form1.Text3->setText(ace);
  form1.Text4->setText("");
  form1.PushButton2_Click();
  EXPECT_TRUE(platform.boxes.empty()) << platform.boxes.front().text.toStdString();
  Form2& form2 = form1.form2();
  EXPECT_TRUE(form2.isVisible());
  EXPECT_EQ(Names(form2.List1), QStringList({"Table1", "Table2", "Table3", "Table4"}));
  EXPECT_EQ(Names(form2.List2), QStringList({"MSysCompactError", "Table1", "Table2", "Table3"}));
  EXPECT_EQ(form2.List1->currentRow(), 0);
  EXPECT_EQ(form2.List2->currentRow(), 1);

  // The password-protected file with its password: one table, so List2
  // shows it with nothing selected.
  form1.Text3->setText(protected_file);
  form1.Text4->setText("password");
  form1.PushButton2_Click();
  EXPECT_TRUE(platform.boxes.empty());
  EXPECT_EQ(Names(form2.List2), QStringList({"Table1"}));
  EXPECT_EQ(form2.List2->currentRow(), -1);
}

TEST_F(NextPageCorpusTest, AWrongPasswordReportsOnceForItsLineAndTheOtherListFills) {
  form1.Text1->setText(jet4);
  form1.Text3->setText(ace);
  form1.PushButton2_Click();
  Form2& form2 = form1.form2();
  ASSERT_EQ(Names(form2.List2).size(), 4);

  // Database #2 (another copy of the protected file) with a wrong password:
  // line 102; List2 keeps its names.
  form1.Text1->setText(protected_file);
  form1.Text2->setText("password");
  form1.Text3->setText(Copy("encrypted/V2000_with-password.mdb"));
  form1.Text4->setText("wrong");
  form1.PushButton2_Click();
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(ReportsAt(102), 1);
  EXPECT_TRUE(platform.boxes[0].text.contains("Not a valid password"))
      << platform.boxes[0].text.toStdString();
  EXPECT_EQ(Names(form2.List1), QStringList({"Table1"}));
  EXPECT_EQ(form2.List1->currentRow(), 0);
  EXPECT_EQ(Names(form2.List2), QStringList({"MSysCompactError", "Table1", "Table2", "Table3"}));
  EXPECT_TRUE(form2.isVisible());

  // Database #1 with a wrong password: line 100; List1 keeps its names and
  // List2 is filled.
  platform.boxes.clear();
  form1.Text2->setText("wrong");
  form1.Text3->setText(jet4);
  form1.Text4->setText("");
  form1.PushButton2_Click();
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(ReportsAt(100), 1);
  EXPECT_EQ(Names(form2.List1), QStringList({"Table1"}));
  EXPECT_EQ(Names(form2.List2), QStringList({"Table1", "Table2", "Table3", "Table4"}));
  EXPECT_EQ(form2.List2->currentRow(), 1);
}

}  // namespace
}  // namespace corvalin
