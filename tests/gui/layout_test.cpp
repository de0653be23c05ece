// Both windows against their design tables.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetricsF>
#include <QStyleOptionButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include "app/settings_store.h"
#include "tests/gui/test_platform.h"
#include "ui/page1/form1.h"
#include "ui/page2/form2.h"
#include "ui/style/sorted_list.h"

namespace corvalin {
namespace {

using testing::TestPlatform;
using testing::TestTables;

struct Row {
  const char* name;
  const char* container;
  const char* caption;
  int left, top, width, height;  // twips
  double points;
};

int Px(int twips) { return qRound(twips / 15.0); }

QString Caption(QWidget* w) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  return QString();
}

void CheckRows(QWidget* window, const std::vector<Row>& rows, bool sizedLabels) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto* w = window->findChild<QWidget*>(QLatin1String(row.name));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parentWidget()->objectName(), QLatin1String(row.container));
    EXPECT_EQ(Caption(w), QString::fromUtf8(row.caption));
    const bool sized = sizedLabels && QString::fromUtf8(row.caption).startsWith("Password");
    if (!sized) {
      EXPECT_EQ(w->geometry(), QRect(Px(row.left), Px(row.top), Px(row.width), Px(row.height)));
    } else {  // sized to its text, right edge kept
      EXPECT_EQ(w->geometry().right(), Px(row.left) + Px(row.width) - 1);
      EXPECT_GE(w->width(), w->fontMetrics().horizontalAdvance(Caption(w)));
    }
    EXPECT_EQ(w->font().family(), QStringLiteral("Arial"));
    EXPECT_DOUBLE_EQ(w->font().pointSizeF(), row.points);
    EXPECT_TRUE(w->font().bold());
  }
}

class LayoutTest : public ::testing::Test {
 protected:
  TestPlatform platform;
  SettingsStore settings;
  TestTables tables;
  Form1 form1{platform, settings, tables};
};

TEST_F(LayoutTest, FirstPageMatchesItsDesign) {
  CheckRows(&form1, {
      {"Frame1", "Form1", "Access Database #1", 120, 120, 7800, 1335, 9},
      {"Label5", "Frame1", "MDB or ACCDB File:", 240, 345, 1935, 255, 9},
      {"Text1", "Frame1", "", 2280, 300, 4575, 345, 9},
      {"PushButton1", "Frame1", "...", 6960, 300, 570, 345, 11.25},
      {"lblPassword", "Frame1", "Password (if required):", 240, 840, 1950, 225, 9},
      {"Text2", "Frame1", "", 2280, 800, 5265, 345, 9},
      {"Frame2", "Form1", "Access Database #2 (Can be the same file as Database #1)", 120, 1560, 7800, 1335, 9},
      {"Label1", "Frame2", "MDB or ACCDB File:", 240, 345, 1935, 255, 9},
      {"Text3", "Frame2", "", 2280, 300, 4575, 345, 9},
      {"PushButton3", "Frame2", "...", 6960, 300, 570, 345, 11.25},
      {"Label2", "Frame2", "Password (if required):", 240, 840, 1950, 225, 9},
      {"Text4", "Frame2", "", 2280, 800, 5265, 345, 9},
      {"PushButton4", "Form1", "Load Sample/Example Database", 120, 3020, 3840, 405, 11.25},
      {"PushButton2", "Form1", "Next >", 4080, 3020, 3840, 405, 11.25},
  }, true);
  EXPECT_EQ(form1.Text2->echoMode(), QLineEdit::Password);
  EXPECT_EQ(form1.Text4->echoMode(), QLineEdit::Password);
  EXPECT_EQ(form1.Text1->echoMode(), QLineEdit::Normal);
  EXPECT_EQ(form1.palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(form1.PushButton2->palette().color(QPalette::Button), QColor(Qt::white));
  // fontconfig gives a metric-compatible face: 9 pt is 12 px at 96 dpi
  EXPECT_EQ(QFontInfo(form1.Text1->font()).pixelSize(), 12);
}

TEST_F(LayoutTest, FirstPageFocusOrderAndFixedSize) {
  std::vector<QString> order;
  QWidget* w = form1.Text1;
  do {
    order.push_back(w->objectName());
    w = w->nextInFocusChain();
    while (w->focusPolicy() == Qt::NoFocus || !w->isWidgetType() || w == &form1)
      w = w->nextInFocusChain();
  } while (w != form1.Text1 && order.size() < 20);
  EXPECT_EQ(order, (std::vector<QString>{"Text1", "PushButton1", "Text2", "Text3", "PushButton3",
                                         "Text4", "PushButton2", "PushButton4"}));
  EXPECT_EQ(form1.minimumSize(), QSize(536, 235));
  EXPECT_EQ(form1.maximumSize(), QSize(536, 235));
  EXPECT_FALSE(form1.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form1.windowFlags() & Qt::WindowMinimizeButtonHint);
  for (auto* b : form1.findChildren<QPushButton*>()) EXPECT_FALSE(b->isDefault() || b->autoDefault());
}

TEST_F(LayoutTest, SecondPageMatchesItsDesign) {
  Form2& form2 = form1.form2();
  CheckRows(&form2, {
      {"PushButton5", "Form2", "< Back", 120, 120, 7800, 405, 11.25},
      {"Frame1", "Form2", "Access Database #1 - Select Table", 120, 600, 3840, 1935, 9},
      {"Frame2", "Form2", "Access Database #2 - Select Table", 4080, 600, 3840, 1935, 9},
      {"Frame3", "Form2", "If Separate Access Files..", 120, 2595, 7800, 735, 9},
      {"Option1", "Frame3", "Append to Table in Database #1", 240, 300, 3015, 255, 9},
      {"Option2", "Frame3", "Append to Table in Database #2", 3960, 300, 2965, 255, 9},
      {"PushButton2", "Form2", "Start Appending", 120, 3450, 7800, 405, 11.25},
      {"ProgressBar1", "Form2", "", 120, 3970, 7800, 405, 9},
  }, false);
  EXPECT_EQ(form2.size(), QSize(536, 297));
  EXPECT_EQ(form2.maximumSize(), QSize(536, 297));
  EXPECT_FALSE(form2.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form2.Option1->isChecked());
  EXPECT_FALSE(form2.Option2->isChecked());
  EXPECT_EQ(form2.ProgressBar1->value(), 0);
  EXPECT_EQ(form2.ProgressBar1->format(), QStringLiteral("Progress Bar"));
  EXPECT_EQ(form2.Frame1->palette().color(QPalette::WindowText), QColor(Qt::black));
  EXPECT_EQ(form2.windowTitle(), QStringLiteral("Corvalin"));
  for (SortedList* list : {form2.List1, form2.List2}) {
    EXPECT_EQ(list->parentWidget()->objectName(), list == form2.List1 ? "Frame1" : "Frame2");
    EXPECT_EQ(list->geometry().topLeft(), QPoint(16, 20));
    EXPECT_EQ(list->width(), 222);
    EXPECT_LE(list->height(), 94);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
  }
  EXPECT_EQ(&form2, &form1.form2()) << "the window is created once";
}

TEST_F(LayoutTest, OptionCaptionsFitTheirDesignWidth) {
  Form2& form2 = form1.form2();
  for (QRadioButton* option : {form2.Option1, form2.Option2}) {
    SCOPED_TRACE(option->objectName().toStdString());
    QStyleOptionButton style;
    style.initFrom(option);
    style.text = option->text();
    const QRect room = option->style()->subElementRect(QStyle::SE_RadioButtonContents, &style, option);
    EXPECT_GE(room.right() + 1, QFontMetricsF(option->font()).horizontalAdvance(option->text()) +
                                     room.left())
        << "the caption is cut at " << room.width() << " pixels";
    EXPECT_LE(room.right(), option->width() - 1) << "the design width is kept";
  }
}

TEST_F(LayoutTest, ListsSortAsAPersonReads) {
  SortedList& list = *form1.form2().List1;
  for (const char* name : {"Orders", "customers", "Table10", "Archive", "Table2", "Émigrés", "Zebra"})
    list.addName(QString::fromUtf8(name));
  QStringList names;
  for (int i = 0; i < list.count(); ++i) names << list.item(i)->text();
  EXPECT_EQ(names, QStringList({"Archive", "customers", QString::fromUtf8("Émigrés"), "Orders",
                                "Table2", "Table10", "Zebra"}));
  // whole lines only: the viewport is a multiple of the line height
  const int row = list.sizeHintForRow(0);
  ASSERT_GT(row, 0);
  EXPECT_EQ(list.viewport()->height() % row, 0) << list.viewport()->height() << " / " << row;
}

}  // namespace
}  // namespace corvalin
