// The second page: a table of each database, the direction, the append run
// with its progress bar, and the way back.
#pragma once

#include "ui/wizard_window.h"

class QGroupBox;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace corvalin {

class DatabaseChoice;
class Platform;
class PointerFeedback;
class SortedList;

class Form2 : public WizardWindow {
 public:
  // `form1` is the first page, which "< Back" shows again; `choice` names
  // the two databases at the moment a run starts.
  Form2(Platform& platform, QWidget& form1, const DatabaseChoice& choice);

  void Form_Load();
  void PushButton2_Click();
  void PushButton5_Click();
  // True while "Start Appending" runs (and yields to the window system).
  bool appending() const { return appending_; }

  QPushButton *PushButton5, *PushButton2;
  QGroupBox *Frame1, *Frame2, *Frame3;
  SortedList *List1, *List2;
  QRadioButton *Option1, *Option2;
  QProgressBar* ProgressBar1;
  PointerFeedback* pointer;

 private:
  void buildLayout();
  QWidget& form1_;
  const DatabaseChoice& choice_;
  bool appending_ = false;
};

}  // namespace corvalin
