// What both wizard windows have in common: closing either ends the whole
// program at once, and each is centred on the screen when it first shows.
#pragma once

#include <QWidget>

namespace corvalin {

class Platform;

class WizardWindow : public QWidget {
 public:
  explicit WizardWindow(Platform& platform);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

  Platform& platform_;

 private:
  bool centred_ = false;
};

}  // namespace corvalin
