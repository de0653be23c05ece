#include "app/platform.h"

#include <unistd.h>

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <cstdio>

#include "app/main_module.h"
#include "db/access1.h"
#include "db/engine/format/page_file.h"

namespace corvalin {

void QtPlatform::messageBox(QWidget* parent, Icon icon, const QString& caption,
                            const QString& text) {
  QMessageBox box(parent);
  box.setIcon(icon == Icon::Warning       ? QMessageBox::Warning
              : icon == Icon::Critical    ? QMessageBox::Critical
              : icon == Icon::Information ? QMessageBox::Information
                                          : QMessageBox::NoIcon);
  box.setWindowTitle(caption.isEmpty() ? AppTitle() : caption);
  box.setText(text);
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

bool QtPlatform::askYesNo(QWidget* parent, const QString& text) {
  QMessageBox box(parent);
  box.setIcon(QMessageBox::NoIcon);
  box.setWindowTitle(AppTitle());
  box.setText(text);
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

QStringList DialogNameFilters(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty() && parts[i + 1].isEmpty()) continue;
    // The common dialog separates patterns with semicolons, Qt with blanks.
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    entries << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
  }
  return entries;
}

QString QtPlatform::openFileName(QWidget* parent, const QString& title,
                                 const QString& filter) {
  // The non-native dialog looks the same on every desktop; the read-only box
  // of the Windows dialog has no counterpart and its state was never read.
  // Qt shows each entry's patterns after its description unless told not
  // to; our descriptions already say what they admit.
  return QFileDialog::getOpenFileName(
      parent, title, QString(), DialogNameFilters(filter).join(QStringLiteral(";;")), nullptr,
      QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
}

bool QtPlatform::openUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

void QtPlatform::createConnectionObject() { ProbeDatabaseEngine(); }

void QtPlatform::endProgram() {
  // Every record saved is in the engine's log once the last group of saves
  // is written, so nothing else needs saving; _exit also stops an append
  // that is in the middle of yielding to the window system, which
  // QApplication::quit() could not.
  engine::PageFile::LogPendingSaves();
  std::fflush(stdout);
  std::fflush(stderr);
  ::_exit(0);
}

}  // namespace corvalin
