// Skin, button-face colouring and pointer feedback.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include "app/main_module.h"
#include "app/settings_store.h"
#include "tests/gui/test_platform.h"
#include "ui/page1/form1.h"
#include "ui/page2/form2.h"
#include "ui/style/pointer_feedback.h"
#include "ui/style/sorted_list.h"

namespace corvalin {
namespace {

using testing::TestPlatform;
using testing::TestTables;

void MoveOver(QWidget* w) {
  QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(w, &move);
}

class StyleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(folder.path());
    QFile::copy(QStringLiteral(CORVALIN_SOURCE_DIR "/resources/HAND-M.CUR"),
                folder.filePath("HAND-M.CUR"));
    QDir(folder.path()).mkdir("x");
  }
  void TearDown() override { SetProgramFolder(QString()); }
  QTemporaryDir folder;
  TestPlatform platform;
  SettingsStore settings;
  TestTables tables;
  QColor face() const { return QApplication::palette().color(QPalette::Button); }
};

TEST_F(StyleTest, SkinFileColoursTheFirstPageAndAppliesItsSheet) {
  QFile skin(folder.filePath("x/o.cjs"));
  ASSERT_TRUE(skin.open(QIODevice::WriteOnly));
  skin.write("QPushButton { color: navy; }");
  skin.close();
  Form1 form1(platform, settings, tables);
  form1.Form_Load();
  EXPECT_EQ(form1.styleSheet(), "QPushButton { color: navy; }");
  EXPECT_EQ(form1.palette().color(QPalette::Window), face());
  EXPECT_EQ(form1.Frame1->palette().color(QPalette::Window), face());
  EXPECT_EQ(form1.Label5->palette().color(QPalette::Window), face());
  EXPECT_EQ(form1.PushButton1->palette().color(QPalette::Button), QColor(Qt::white));
  // the colour is used by reference: a new colour scheme reaches it
  QPalette old = QApplication::palette(), changed = old;
  changed.setColor(QPalette::Button, QColor(10, 120, 30));
  QApplication::setPalette(changed);
  EXPECT_EQ(form1.Frame1->palette().color(QPalette::Window), QColor(10, 120, 30));
  QApplication::setPalette(old);
  EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(StyleTest, NoSkinOrAFolderNamedLikeItLeavesTheDesignColours) {
  for (bool makeFolder : {false, true}) {
    if (makeFolder) QDir(folder.filePath("x")).mkdir("o.cjs");
    Form1 form1(platform, settings, tables);
    form1.Form_Load();
    EXPECT_TRUE(form1.styleSheet().isEmpty());
    EXPECT_EQ(form1.palette().color(QPalette::Window), QColor(Qt::white));
    // the second page has the button face always
    Form2& form2 = form1.form2();
    EXPECT_EQ(form2.palette().color(QPalette::Window), face());
    EXPECT_EQ(form2.Frame3->palette().color(QPalette::Window), face());
    EXPECT_EQ(form2.Option1->palette().color(QPalette::Window), face());
  }
  EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(StyleTest, PointerFeedbackOverEveryControl) {
  Form1 form1(platform, settings, tables);
  form1.Form_Load();
  ASSERT_TRUE(form1.pointer->hasCustomImage());
  for (QWidget* button : {form1.PushButton1, form1.PushButton2, form1.PushButton3, form1.PushButton4}) {
    MoveOver(&form1);
    EXPECT_EQ(form1.pointer->kind(), kPointerOrdinary);
    MoveOver(button);
    EXPECT_EQ(form1.pointer->kind(), kPointerCustom) << button->objectName().toStdString();
    EXPECT_EQ(form1.cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(form1.cursor().hotSpot(), QPoint(9, 1));
    MoveOver(form1.Label5);  // labels have no handler
    EXPECT_EQ(form1.pointer->kind(), kPointerCustom);
  }
  for (QWidget* reset : {static_cast<QWidget*>(form1.Text1), static_cast<QWidget*>(form1.Text2),
                         static_cast<QWidget*>(form1.Text3), static_cast<QWidget*>(form1.Text4),
                         static_cast<QWidget*>(form1.Frame1), static_cast<QWidget*>(form1.Frame2),
                         static_cast<QWidget*>(&form1)}) {
    MoveOver(form1.PushButton2);
    MoveOver(reset);
    EXPECT_EQ(form1.pointer->kind(), kPointerOrdinary) << reset->objectName().toStdString();
  }
  Form2& form2 = form1.form2();
  for (QWidget* button : {form2.PushButton2, form2.PushButton5}) {
    MoveOver(button);
    EXPECT_EQ(form2.pointer->kind(), kPointerCustom);
    MoveOver(form2.List2->viewport());
    MoveOver(form2.Option1);
    EXPECT_EQ(form2.pointer->kind(), kPointerCustom);
    for (QWidget* reset : {static_cast<QWidget*>(form2.List1->viewport()), static_cast<QWidget*>(form2.Frame1),
                           static_cast<QWidget*>(form2.Frame2), static_cast<QWidget*>(form2.Frame3),
                           static_cast<QWidget*>(&form2)}) {
      MoveOver(button);
      MoveOver(reset);
      EXPECT_EQ(form2.pointer->kind(), kPointerOrdinary);
    }
  }
  // the hourglass of a running append is left alone everywhere
  form2.pointer->setKind(kPointerHourglass);
  for (QWidget* w : {static_cast<QWidget*>(form2.PushButton2), static_cast<QWidget*>(form2.Frame1),
                     static_cast<QWidget*>(&form2)}) {
    MoveOver(w);
    EXPECT_EQ(form2.pointer->kind(), kPointerHourglass);
    EXPECT_EQ(form2.cursor().shape(), Qt::WaitCursor);
  }
}

TEST_F(StyleTest, WithoutTheHandFileStartUpIsSilent) {
  QFile::remove(folder.filePath("HAND-M.CUR"));
  Form1 form1(platform, settings, tables);
  form1.Form_Load();
  EXPECT_FALSE(form1.pointer->hasCustomImage());
  MoveOver(form1.PushButton1);
  EXPECT_EQ(form1.pointer->kind(), kPointerCustom);
  EXPECT_EQ(form1.cursor().shape(), Qt::ArrowCursor);
  form1.form2();
  EXPECT_TRUE(platform.boxes.empty());
  EXPECT_EQ(form1.windowTitle(), "Corvalin");
  EXPECT_EQ(AppTitle(), "Corvalin");
  EXPECT_EQ(AppTitleFor("Corvalin Table Appender"), "Corvalin Table");
  EXPECT_EQ(AppTitleFor("Abcdefghij Abcdefghij Abcdefghij Abcdefghij Abcdefghij Abcdefghij"),
            "Abcdefghij Abcdefghij Abcdefghij");
}

}  // namespace
}  // namespace corvalin
