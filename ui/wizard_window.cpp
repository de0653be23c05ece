#include "ui/wizard_window.h"

#include <QCloseEvent>
#include <QShowEvent>

#include "app/platform.h"
#include "ui/layout.h"

namespace corvalin {

WizardWindow::WizardWindow(Platform& platform) : platform_(platform) {}

void WizardWindow::closeEvent(QCloseEvent* event) {
  // Never cancelled, and nothing needs saving: every field change is
  // already in the settings.
  event->accept();
  platform_.endProgram();
}

void WizardWindow::showEvent(QShowEvent* event) {
  // Only the first showing: a window brought back by "< Back" or "Next >"
  // stays where the user left it.
  if (!centred_) {
    centred_ = true;
    CentreOnScreen(this);
  }
  QWidget::showEvent(event);
}

}  // namespace corvalin
