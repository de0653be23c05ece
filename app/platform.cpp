#include "app/platform.h"

#include <unistd.h>

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <cstdio>

namespace corvalin {

void QtPlatform::messageBox(QWidget* parent, Icon icon, const QString& caption,
                            const QString& text) {
  QMessageBox box(parent);
  box.setIcon(icon == Icon::Warning    ? QMessageBox::Warning
              : icon == Icon::Critical ? QMessageBox::Critical
                                       : QMessageBox::Information);
  box.setWindowTitle(caption.isEmpty() ? QApplication::applicationDisplayName() : caption);
  box.setText(text);
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

QString QtPlatform::openFileName(QWidget* parent, const QString& title,
                                 const QString& filter) {
  // The non-native dialog looks the same on every desktop; the read-only box
  // of the Windows dialog has no counterpart and its state was never read.
  return QFileDialog::getOpenFileName(parent, title, QString(), filter, nullptr,
                                      QFileDialog::DontUseNativeDialog);
}

bool QtPlatform::openUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

void QtPlatform::endProgram() {
  // Every field change is already on disk, so nothing needs saving; _exit
  // also stops an append that is in the middle of yielding to the window
  // system, which QApplication::quit() could not.
  std::fflush(stdout);
  std::fflush(stderr);
  ::_exit(0);
}

}  // namespace corvalin
