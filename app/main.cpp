// Corvalin: appends every record of one Access table to another. The
// program takes no command line: everything it needs is in its windows and
// the user's settings.
#include <QApplication>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>

#include "app/platform.h"
#include "app/settings_store.h"
#include "db/access1.h"
#include "ui/page1/form1.h"

namespace {

bool HaveDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (!HaveDisplay()) {
    std::fprintf(stderr,
                 "corvalin: there is no display to open the window on.\n"
                 "Start it under a virtual display instead:\n"
                 "  xvfb-run -a -s \"-screen 0 1024x768x24 -dpi 96\" %s\n",
                 argv[0]);
    return 2;
  }
  // Only the program's name goes to Qt: no argument, Qt's own included,
  // changes what the program does.
  int qt_argc = 1;
  QApplication app(qt_argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Varnholt"));
  QApplication::setApplicationName(QStringLiteral("Corvalin"));
  QApplication::setApplicationVersion(QStringLiteral("7.00"));
  // Ties the windows to the installed desktop entry (its name and icon).
  QGuiApplication::setDesktopFileName(QStringLiteral("corvalin"));
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

  corvalin::QtPlatform platform;
  corvalin::SettingsStore settings;
  corvalin::AdoTableSource tables;
  corvalin::Form1 form1(platform, settings, tables);
  form1.Start();
  return app.exec();
}
