// corvalin-screenshots FOLDER: saves a picture of each window of Corvalin,
// as a first start with empty settings shows it, into FOLDER/form1.png and
// FOLDER/form2.png. A tool of the build for the README's pictures
// (tools/screenshots.sh runs it under a virtual display); it is not
// installed, and the program itself takes no command line.
#include <QApplication>
#include <QDir>
#include <QStyleFactory>
#include <cstdio>

#include "app/main_module.h"
#include "app/platform.h"
#include "app/settings_store.h"
#include "db/access1.h"
#include "ui/page1/form1.h"
#include "ui/page2/form2.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: corvalin-screenshots FOLDER\n");
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Varnholt"));
  QApplication::setApplicationName(QStringLiteral("Corvalin"));
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  const QString folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(folder);

  // The program's files beside it are those of the build's bin folder,
  // where this tool lives too.
  corvalin::QtPlatform platform;
  corvalin::SettingsStore settings;
  corvalin::AdoTableSource tables;
  corvalin::Form1 form1(platform, settings, tables);
  form1.Form_Load();
  form1.show();
  QApplication::processEvents();
  bool saved = form1.grab().save(folder + QStringLiteral("/form1.png"));
  corvalin::Form2& form2 = form1.form2();
  form2.show();
  QApplication::processEvents();
  saved = form2.grab().save(folder + QStringLiteral("/form2.png")) && saved;
  if (!saved) {
    std::fprintf(stderr, "corvalin-screenshots: cannot write the pictures into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
