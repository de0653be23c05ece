// The database choice survives between runs, even a killed one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "app/settings_store.h"
#include "tests/gui/test_platform.h"
#include "ui/page1/form1.h"

namespace corvalin {
namespace {

using testing::TestPlatform;
using testing::TestTables;

void Type(QLineEdit* field, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(field, &press);
  }
}

// Run by the test below in a child process: "type:TEXT" types TEXT into
// Text1 after the restore, says so and waits to be killed; "show" prints
// what the start-up restored.
TEST(SettingsChild, Run) {
  const QString mode = qEnvironmentVariable("CORVALIN_TEST_CHILD");
  if (mode.isEmpty()) GTEST_SKIP() << "only run as the child of KilledRightAfterAKeystroke";
  TestPlatform platform;
  SettingsStore settings;
  TestTables tables;
  Form1 form1(platform, settings, tables);
  form1.Form_Load();
  if (mode.startsWith("type:")) {
    Type(form1.Text1, mode.mid(5));
    std::printf("TYPED\n");
    std::fflush(stdout);
    for (;;) QThread::sleep(1);
  }
  std::printf("TEXT1=[%s]\n", form1.Text1->text().toUtf8().constData());
  std::fflush(stdout);
}

QString RunChild(const QString& config, const QString& mode, bool kill) {
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("CORVALIN_TEST_CHILD", mode);
  env.insert("XDG_CONFIG_HOME", config);
  child.setProcessEnvironment(env);
  child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=SettingsChild.Run"});
  QByteArray out;
  while (child.waitForReadyRead(20000)) {
    out += child.readAllStandardOutput();
    if (kill && out.contains("TYPED\n")) {
      ::kill(child.processId(), SIGKILL);
      break;
    }
    if (out.contains("]\n")) break;
  }
  child.waitForFinished(20000);
  const int start = out.indexOf("TEXT1=[");
  return start < 0 ? QString() : QString::fromUtf8(out.mid(start + 7, out.indexOf("]\n") - start - 7));
}

TEST(Settings, KilledRightAfterAKeystroke) {
  QTemporaryDir config;
  RunChild(config.path(), "type:C:/data/first.mdb", true);
  EXPECT_EQ(RunChild(config.path(), "show", false), "C:/data/first.mdb");
  // The restored text is selected-free; typing appends after the restore.
  RunChild(config.path(), "type:x", true);
  EXPECT_EQ(RunChild(config.path(), "show", false), "C:/data/first.mdbx");
}

class SettingsTest : public ::testing::Test {
 protected:
  TestPlatform platform;
  SettingsStore settings;
  TestTables tables;
};

TEST_F(SettingsTest, FieldsComeBackExactlyAsTheyWere) {
  const QString odd = QString::fromUtf8("/home/u/Мои данные/Ελληνικά table.mdb ");
  {
    Form1 form1(platform, settings, tables);
    form1.Form_Load();
    form1.Text1->setText(odd);
    form1.Text2->setText("secret; with blanks");
    form1.Text3->setText("/tmp/two.accdb");
    form1.Text4->setText("pw");
    form1.Text4->clear();
  }
  SettingsStore fresh;
  Form1 again(platform, fresh, tables);
  again.Form_Load();
  EXPECT_EQ(again.Text1->text(), odd);
  EXPECT_EQ(again.Text2->text(), "secret; with blanks");
  EXPECT_EQ(again.Text3->text(), "/tmp/two.accdb");
  EXPECT_EQ(again.Text4->text(), "");
  // a cleared field is stored empty, not removed
  QSettings ini(fresh.fileName(), QSettings::IniFormat);
  EXPECT_TRUE(ini.contains("Corvalin/AccessPassword2"));
  EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(SettingsTest, FileIsReadableByItsOwnerOnly) {
  settings.write(kKeyPassword1, "a");
  struct stat st {};
  ASSERT_EQ(::stat(settings.fileName().toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600);
  ::chmod(settings.fileName().toLocal8Bit().constData(), 0644);
  settings.write(kKeyPassword1, "b");
  ASSERT_EQ(::stat(settings.fileName().toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600) << "a file that existed with wider permissions is narrowed";
}

}  // namespace
}  // namespace corvalin
