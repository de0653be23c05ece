// The first page's buttons, fields and the way to the second page.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include "app/main_module.h"
#include "app/settings_store.h"
#include "db/access1.h"
#include "tests/gui/test_platform.h"
#include "ui/page1/form1.h"
#include "ui/page2/form2.h"
#include "ui/style/sorted_list.h"

namespace corvalin {
namespace {

using testing::TestPlatform;
using testing::TestTables;

class Page1Test : public ::testing::Test {
 protected:
  TestPlatform platform;
  SettingsStore settings;
  TestTables tables;
  Form1 form1{platform, settings, tables};
  QStringList names(SortedList* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
  }
};

TEST_F(Page1Test, BrowseShowsTitleAndFiltersAndStoresThePick) {
  platform.fileToPick = "/data/my file.accdb";
  form1.PushButton1_Click();
  EXPECT_EQ(platform.dialogTitle, "Select Access Database");
  EXPECT_EQ(platform.dialogFilter,
            "All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
            "Microsoft 2007 Database (*.accdb)|*.accdb|");
  EXPECT_EQ(form1.Text1->text(), "/data/my file.accdb");
  EXPECT_EQ(settings.read(kKeyFile1), "/data/my file.accdb");
  platform.fileToPick.clear();  // cancelled
  form1.PushButton1_Click();
  EXPECT_EQ(form1.Text1->text(), "/data/my file.accdb");
  platform.fileToPick = "/data/b.mdb";
  form1.PushButton3_Click();
  EXPECT_EQ(form1.Text3->text(), "/data/b.mdb");
  EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(Page1Test, ConnectionStringsFollowEachPath) {
  form1.Text1->setText("/d/one.mdb");
  form1.Text2->setText("");
  form1.Text3->setText("/d/TWO.ACCDB");
  form1.Text4->setText("a; b");
  EXPECT_EQ(GetConnectionString(form1), "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=/d/one.mdb;JET OLEDB:Database Password=");
  EXPECT_EQ(GetConnectionString2(form1), "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/d/TWO.ACCDB;JET OLEDB:Database Password=a; b");
  EXPECT_EQ(GetConnectionString(form1, "", "ignored"), GetConnectionString(form1));
  EXPECT_EQ(GetConnectionString(form1, "/x/noaccdb", "p"), "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/x/noaccdb;JET OLEDB:Database Password=p");
  EXPECT_TRUE(GetConnectionString(form1, "/x/a.accdb ", "").startsWith("PROVIDER=Microsoft.Jet"));
}

TEST_F(Page1Test, SampleButtonGivesTheSameFileOnBothSides) {
  SetProgramFolder("/opt/corvalin");
  form1.PushButton4_Click();
  SetProgramFolder(QString());
  EXPECT_EQ(form1.Text1->text(), "/opt/corvalin/Samples/sample.mdb");
  EXPECT_EQ(form1.Text3->text(), form1.Text1->text());
  tables.tables["/opt/corvalin/Samples/sample.mdb"] = {"Orders", "Customers", "Archive"};
  form1.PushButton2_Click();
  Form2& form2 = form1.form2();
  EXPECT_TRUE(form2.isVisible());
  EXPECT_FALSE(form1.isVisible());
  EXPECT_EQ(names(form2.List1), QStringList({"Archive", "Customers", "Orders"}));
  EXPECT_EQ(form2.List1->currentRow(), 0);
  EXPECT_EQ(form2.List2->currentRow(), 1);
  EXPECT_FALSE(form2.Option1->isEnabled());
  EXPECT_FALSE(form2.Option2->isEnabled());
  EXPECT_TRUE(form2.Option1->isChecked());
  EXPECT_EQ(form2.Frame1->title(), "Access Database #1 (same file)");
  EXPECT_EQ(form2.Frame2->title(), "Access Database #2 (same file)");
  form2.PushButton5_Click();
  EXPECT_TRUE(form1.isVisible());
  EXPECT_FALSE(form2.isVisible());
}

TEST_F(Page1Test, AFailingListingReportsItsLineAndTheOtherListFills) {
  form1.Text1->setText("/d/a.mdb");
  form1.Text3->setText("/d/b.mdb");
  tables.tables["/d/a.mdb"] = {"One"};
  tables.tables["/d/b.mdb"] = {"Two", "Three"};
  form1.PushButton2_Click();
  Form2& form2 = form1.form2();
  EXPECT_EQ(names(form2.List1), QStringList({"One"}));
  EXPECT_TRUE(form2.Option1->isEnabled());
  EXPECT_EQ(form2.Frame1->title(), "Access Database #1");
  tables.failing["/d/a.mdb"] = "Not a valid password.";
  tables.tables["/d/b.mdb"] = {"Four"};
  form1.PushButton2_Click();
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_TRUE(platform.boxes[0].text.startsWith(
      "Not a valid password.\r\nin Mergeling2021/08/31.Form1.PushButton2_Click at line 100\r\r"));
  EXPECT_EQ(names(form2.List1), QStringList({"One"})) << "the failed list keeps its names";
  EXPECT_EQ(names(form2.List2), QStringList({"Four"}));
  EXPECT_EQ(form2.List2->currentRow(), -1) << "one table: nothing selected";
  EXPECT_TRUE(form2.isVisible());
}

TEST_F(Page1Test, FocusSelectsTheWholeText) {
  form1.show();
  form1.Text3->setText("/d/some.mdb");
  form1.Text3->setFocus();
  QApplication::processEvents();
  EXPECT_EQ(form1.Text3->selectedText(), "/d/some.mdb");
}

}  // namespace
}  // namespace corvalin
