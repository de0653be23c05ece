// Corvalin: appends every record of one Access table to another.
#include <QApplication>
#include <QDir>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/platform.h"
#include "app/settings_store.h"
#include "db/access1.h"
#include "ui/page1/form1.h"
#include "ui/page2/form2.h"

namespace {

bool HaveDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

// Saves a picture of each window into `folder` and ends: the README's
// screenshots are made this way.
int SaveScreenshots(corvalin::Form1& form1, const QString& folder) {
  QDir().mkpath(folder);
  form1.show();
  QApplication::processEvents();
  form1.grab().save(folder + QStringLiteral("/form1.png"));
  corvalin::Form2& form2 = form1.form2();
  form2.show();
  QApplication::processEvents();
  form2.grab().save(folder + QStringLiteral("/form2.png"));
  return 0;
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
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Varnholt"));
  QApplication::setApplicationName(QStringLiteral("Corvalin"));
  QApplication::setApplicationVersion(QStringLiteral("7.00"));
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

  corvalin::QtPlatform platform;
  corvalin::SettingsStore settings;
  corvalin::AdoTableSource tables;
  corvalin::Form1 form1(platform, settings, tables);
  if (argc == 3 && std::strcmp(argv[1], "--screenshots") == 0) {
    form1.Form_Load();
    return SaveScreenshots(form1, QString::fromLocal8Bit(argv[2]));
  }
  form1.Start();
  return app.exec();
}
