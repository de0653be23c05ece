// What the user sees of the windows through the real platform pieces: the
// entries of the open-file dialog and what they admit, the captions of the
// direction options when they are disabled, and the window titles that an X
// server holds (Xvfb, when it is installed).
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QImage>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <functional>

#include "app/main_module.h"
#include "app/platform.h"
#include "app/settings_store.h"
#include "tests/gui/test_platform.h"
#include "ui/page1/form1.h"
#include "ui/page2/form2.h"

namespace corvalin {
namespace {

using testing::TestPlatform;
using testing::TestTables;

const char kFilter[] =
    "All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
    "Microsoft 2007 Database (*.accdb)|*.accdb|";

void WaitUntil(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
}

// Runs `open`, which shows a modal window, and calls `look` on that window
// once it shows; then dismisses it.
void WhileModal(const std::function<void()>& open, const std::function<void(QWidget*)>& look) {
  bool looked = false;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (looked || !modal || !modal->isVisible()) return;
    looked = true;
    look(modal);
    if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->done(QDialog::Rejected);
  });
  poll.start();
  open();
  EXPECT_TRUE(looked) << "no modal window showed";
}

// The files the dialog lists, in its order, as enabled entries.
QStringList ListedFiles(QFileDialog* dialog) {
  auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
  if (!view) return {};
  QStringList names;
  const QModelIndex root = view->rootIndex();
  for (int row = 0; row < view->model()->rowCount(root); ++row) {
    const QModelIndex index = view->model()->index(row, 0, root);
    if (view->model()->flags(index) & Qt::ItemIsEnabled) names << index.data().toString();
  }
  names.sort();
  return names;
}

TEST(WindowFidelity, OpenFileDialogShowsTheEntriesAsWrittenAndMatchesByThem) {
  QTemporaryDir folder;
  for (const char* name : {"a.mdb", "b.accdb", "c.ldb", "d.db", "e.txt", "f.mdb.bak", "g.MDB"}) {
    QFile file(folder.filePath(QString::fromLatin1(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  // No initial folder is given: the dialog opens in its own default, the
  // working folder.
  const QString previous = QDir::currentPath();
  QDir::setCurrent(folder.path());
  // Patterns match without regard to case, as the common dialog's do.
  const QStringList expected[] = {{"a.mdb", "b.accdb", "c.ldb", "d.db", "g.MDB"},
                                  {"a.mdb", "g.MDB"},
                                  {"b.accdb"}};
  QStringList entries;
  std::vector<QStringList> listed;
  QtPlatform platform;
  WhileModal([&] { platform.openFileName(nullptr, QStringLiteral("Select Access Database"), kFilter); },
             [&](QWidget* modal) {
               auto* dialog = qobject_cast<QFileDialog*>(modal);
               ASSERT_NE(dialog, nullptr);
               auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
               ASSERT_NE(combo, nullptr);
               for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
               EXPECT_EQ(combo->currentIndex(), 0);
               const QStringList filters = dialog->nameFilters();
               for (qsizetype i = 0; i < filters.size() && i < 3; ++i) {
                 dialog->selectNameFilter(filters[i]);
                 // The folder is read and filtered in the background.
                 QStringList files;
                 WaitUntil([&] {
                   files = ListedFiles(dialog);
                   return files == expected[i];
                 });
                 listed.push_back(files);
               }
             });
  QDir::setCurrent(previous);
  EXPECT_EQ(entries, QStringList({"All Microsoft Databases (*.mdb,*.accdb)",
                                  "Microsoft Database (*.mdb)",
                                  "Microsoft 2007 Database (*.accdb)"}));
  ASSERT_EQ(listed.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(listed[i], expected[i]) << entries.value(int(i)).toStdString();
}

TEST(WindowFidelity, CommonDialogFilterBecomesQtEntries) {
  EXPECT_EQ(DialogNameFilters(QString::fromLatin1(kFilter)),
            QStringList({"All Microsoft Databases (*.mdb,*.accdb) (*.*db)",
                         "Microsoft Database (*.mdb) (*.mdb)",
                         "Microsoft 2007 Database (*.accdb) (*.accdb)"}));
  EXPECT_EQ(DialogNameFilters(QStringLiteral("Pictures|*.png;*.jpg|")),
            QStringList({"Pictures (*.png *.jpg)"}));
}

// The darkest colour drawn in a part of a picture: the pen of dark text on
// a light ground, where the strokes of a bold font cover whole pixels.
QColor DarkestIn(const QImage& image, const QRect& rect) {
  QColor darkest = Qt::white;
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    for (int x = rect.left(); x <= rect.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.lightness() < darkest.lightness()) darkest = c;
    }
  return darkest;
}

TEST(WindowFidelity, DisabledOptionCaptionsLookDisabled) {
  TestPlatform platform;
  SettingsStore settings;
  TestTables tables;
  Form1 form1(platform, settings, tables);
  Form2& form2 = form1.form2();
  form2.Option1->setEnabled(false);
  form2.Option2->setEnabled(true);
  const QImage image = form2.grab().toImage();
  const auto caption = [&](QWidget* option) {
    // Past the indicator and its spacing (17 px at 96 dpi).
    const QRect r = option->geometry().adjusted(20, 0, 0, 0);
    return QRect(option->parentWidget()->mapTo(&form2, r.topLeft()), r.size());
  };
  const QPalette system = QGuiApplication::palette();
  const QColor disabled = system.color(QPalette::Disabled, QPalette::ButtonText);
  const QColor enabled = system.color(QPalette::Active, QPalette::ButtonText);
  ASSERT_NE(disabled, enabled);
  EXPECT_EQ(DarkestIn(image, caption(form2.Option1)).name(), disabled.name());
  EXPECT_EQ(DarkestIn(image, caption(form2.Option2)).name(), enabled.name());
  // The frame's own caption stays black.
  const QRect title(form2.Frame3->mapTo(&form2, QPoint(8, 0)), QSize(120, 12));
  EXPECT_EQ(DarkestIn(image, title).name(), QColor(Qt::black).name());
}

// The window name an X server holds for a window: _NET_WM_NAME as xprop
// prints it.
QString ServerTitle(QWidget* window) {
  QApplication::processEvents();
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"),
              {QStringLiteral("-id"), QString::number(window->winId()), QStringLiteral("_NET_WM_NAME")});
  xprop.waitForFinished(10000);
  const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
  const int quote = out.indexOf(QLatin1Char('"'));
  return quote < 0 ? out : out.mid(quote + 1, out.lastIndexOf(QLatin1Char('"')) - quote - 1);
}

// Run by the test below under Xvfb with the xcb platform: shows each kind of
// window and prints the title the server holds for it.
TEST(WindowTitlesOnX, Child) {
  if (!qEnvironmentVariableIsSet("CORVALIN_X_CHILD")) GTEST_SKIP() << "run by WindowTitles.OnAnXServer";
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  const auto say = [](const char* what, const QString& title) {
    std::printf("%s=[%s]\n", what, title.toUtf8().constData());
    std::fflush(stdout);
  };
  TestPlatform test_platform;
  SettingsStore settings;
  TestTables tables;
  Form1 form1(test_platform, settings, tables);
  form1.Form_Load();
  form1.show();
  say("Form1", ServerTitle(&form1));
  QtPlatform platform;
  WhileModal([&] { platform.messageBox(&form1, Platform::Icon::Warning, QStringLiteral("Application Error"), QStringLiteral("x")); },
             [&](QWidget* box) { say("Error", ServerTitle(box)); });
  WhileModal([&] { platform.messageBox(&form1, Platform::Icon::None, QString(), QStringLiteral("Done.")); },
             [&](QWidget* box) { say("Done", ServerTitle(box)); });
  WhileModal([&] { platform.openFileName(&form1, QStringLiteral("Select Access Database"), kFilter); },
             [&](QWidget* dialog) { say("Dialog", ServerTitle(dialog)); });
}

TEST(WindowTitles, OnAnXServer) {
  if (QStandardPaths::findExecutable(QStringLiteral("xvfb-run")).isEmpty() ||
      QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty())
    GTEST_SKIP() << "needs xvfb-run and xprop";
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("CORVALIN_X_CHILD"), QStringLiteral("1"));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  // Under the sanitizers the child looks at titles only; what the X11
  // libraries keep until exit is no leak of ours, and the suite's own
  // process still checks for leaks.
  if (env.contains(QStringLiteral("ASAN_OPTIONS")))
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
  child.setProcessEnvironment(env);
  child.start(QStringLiteral("xvfb-run"),
              {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1024x768x24 -dpi 96"),
               QCoreApplication::applicationFilePath(), QStringLiteral("--gtest_filter=WindowTitlesOnX.Child")});
  ASSERT_TRUE(child.waitForFinished(120000));
  const QString out = QString::fromUtf8(child.readAllStandardOutput());
  EXPECT_EQ(child.exitCode(), 0) << out.toStdString() << child.readAllStandardError().toStdString();
  // The box that names its caption shows exactly that; the others, and the
  // windows, the application title with nothing added.
  EXPECT_TRUE(out.contains(QStringLiteral("Form1=[Corvalin]\n"))) << out.toStdString();
  EXPECT_TRUE(out.contains(QStringLiteral("Error=[Application Error]\n"))) << out.toStdString();
  EXPECT_TRUE(out.contains(QStringLiteral("Done=[Corvalin]\n"))) << out.toStdString();
  EXPECT_TRUE(out.contains(QStringLiteral("Dialog=[Select Access Database]\n"))) << out.toStdString();
}

}  // namespace
}  // namespace corvalin
