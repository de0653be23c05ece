#include "app/platform.h"

#include <unistd.h>

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <cstdio>

#include "db/access1.h"

namespace corvalin {

void QtPlatform::messageBox(QWidget* parent, Icon icon, const QString& caption,
                            const QString& text) {
  QMessageBox box(parent);
  box.setIcon(icon == Icon::Warning       ? QMessageBox::Warning
              : icon == Icon::Critical    ? QMessageBox::Critical
              : icon == Icon::Information ? QMessageBox::Information
                                          : QMessageBox::NoIcon);
  box.setWindowTitle(caption.isEmpty() ? QApplication::applicationDisplayName() : caption);
  box.setText(text);
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

bool QtPlatform::askYesNo(QWidget* parent, const QString& text) {
  QMessageBox box(parent);
  box.setIcon(QMessageBox::NoIcon);
  box.setWindowTitle(QApplication::applicationDisplayName());
  box.setText(text);
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

QString QtPlatform::openFileName(QWidget* parent, const QString& title,
                                 const QString& filter) {
  // The non-native dialog looks the same on every desktop; the read-only box
  // of the Windows dialog has no counterpart and its state was never read.
  return QFileDialog::getOpenFileName(parent, title, QString(), filter, nullptr,
                                      QFileDialog::DontUseNativeDialog);
}

bool QtPlatform::openUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

void QtPlatform::createConnectionObject() { ProbeDatabaseEngine(); }

void QtPlatform::endProgram() {
  // Every field change is already on disk, so nothing needs saving; _exit
  // also stops an append that is in the middle of yielding to the window
  // system, which QApplication::quit() could not.
  std::fflush(stdout);
  std::fflush(stderr);
  ::_exit(0);
}

}  // namespace corvalin
