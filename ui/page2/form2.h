// The second page: a table of each database, the direction, the append run
// with its progress bar, and the way back.
#pragma once

#include <QWidget>

class QGroupBox;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace corvalin {

class Platform;
class PointerFeedback;
class SortedList;

class Form2 : public QWidget {
 public:
  // `form1` is the first page, which "< Back" shows again.
  Form2(Platform& platform, QWidget& form1);

  void Form_Load();
  void PushButton2_Click();
  void PushButton5_Click();

  QPushButton *PushButton5, *PushButton2;
  QGroupBox *Frame1, *Frame2, *Frame3;
  SortedList *List1, *List2;
  QRadioButton *Option1, *Option2;
  QProgressBar* ProgressBar1;
  PointerFeedback* pointer;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void buildLayout();
  Platform& platform_;
  QWidget& form1_;
  bool centred_ = false;
};

}  // namespace corvalin
