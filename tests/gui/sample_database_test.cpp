// The sample database that the build makes beside the program, as a new
// user meets it: the sample button, "Next >", "Start Appending".
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QRadioButton>
#include <filesystem>

#include "app/main_module.h"
#include "app/settings_store.h"
#include "db/access1.h"
#include "db/engine/format/check.h"
#include "db/engine/format/database.h"
#include "tests/gui/test_platform.h"
#include "tests/support/corpus.h"
#include "ui/page1/form1.h"
#include "ui/page2/append_run.h"
#include "ui/page2/form2.h"
#include "ui/style/sorted_list.h"

namespace corvalin {
namespace {

namespace fs = std::filesystem;

size_t RowCount(const std::string& path, const std::string& table) {
  auto database = engine::Database::Open(path, engine::OpenOptions{});
  return database->ListRows(*database->ReadTableDef(table)).size();
}

TEST(SampleDatabaseTest, ANewUserAppendsTheSecondTableToTheFirstThenSeesTheDuplicates) {
  const fs::path built = fs::path(CORVALIN_BIN_DIR) / "Samples" / "sample.mdb";
  ASSERT_TRUE(fs::exists(built)) << "the build makes " << built;
  // A copy of the program's folder, so that the built sample stays as made.
  const fs::path folder = testing::TempDir();
  fs::create_directories(folder / "Samples");
  const std::string sample = (folder / "Samples" / "sample.mdb").string();
  fs::copy_file(built, sample);

  testing::TestPlatform platform;
  SettingsStore settings;
  for (const char* key : {kKeyFile1, kKeyPassword1, kKeyFile2, kKeyPassword2})
    settings.write(key, QString());
  AdoTableSource tables;
  Form1 form1(platform, settings, tables);
  SetProgramFolder(QString::fromStdString(folder.string()));
  form1.PushButton4_Click();
  SetProgramFolder(QString());
  form1.PushButton2_Click();
  Form2& form2 = form1.form2();
  ASSERT_TRUE(platform.boxes.empty());
  ASSERT_EQ(form2.List1->currentItem()->text(), "Customers");
  ASSERT_EQ(form2.List2->currentItem()->text(), "NewCustomers");
  ASSERT_TRUE(form2.Option1->isChecked());
  const size_t customers = RowCount(sample, "Customers");
  const size_t added = RowCount(sample, "NewCustomers");
  EXPECT_GE(customers, 24u);
  EXPECT_GE(added, 24u);

  form2.PushButton2_Click();
  ASSERT_EQ(platform.boxes.size(), 1u) << platform.boxes[0].text.toStdString();
  EXPECT_EQ(platform.boxes[0].text, kAppendDone);
  EXPECT_EQ(RowCount(sample, "Customers"), customers + added);

  // The second run: every record's key is there already, and each refusal
  // is reported before "Done.".
  platform.boxes.clear();
  form2.PushButton2_Click();
  ASSERT_EQ(platform.boxes.size(), added + 1);
  EXPECT_NE(platform.boxes[0].text.indexOf("duplicate"), -1) << platform.boxes[0].text.toStdString();
  EXPECT_EQ(platform.boxes.back().text, kAppendDone);
  EXPECT_EQ(RowCount(sample, "Customers"), customers + added);
  EXPECT_TRUE(engine::CheckDatabase(*engine::Database::Open(sample, {})).empty());

  // The third table has another number of columns.
  platform.boxes.clear();
  form2.List2->setCurrentItem(form2.List2->findItems("Products", Qt::MatchExactly).first());
  form2.PushButton2_Click();
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(platform.boxes[0].text, kAppendColumnsDiffer);
}

}  // namespace
}  // namespace corvalin
