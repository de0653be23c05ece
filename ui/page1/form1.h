// The first page: the database choice (two files and their passwords).
#pragma once

#include <memory>

#include "db/database_choice.h"
#include "ui/wizard_window.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace corvalin {

class Form2;
class Platform;
class PointerFeedback;
class SettingsStore;
class TableSource;

class Form1 : public WizardWindow, public DatabaseChoice {
 public:
  Form1(Platform& platform, SettingsStore& settings, TableSource& tables);
  ~Form1() override;

  // The program's start: the start-up sequence, then this window unless the
  // automatic advance has put the second page in its place or the provider
  // check has ended the program.
  void Start();
  // The start-up sequence alone.
  void Form_Load();
  void PushButton1_Click();
  void PushButton2_Click();
  void PushButton3_Click();
  void PushButton4_Click();

  // The second page, created and loaded on first use.
  Form2& form2();
  bool hasForm2() const { return form2_ != nullptr; }

  QString path1() const override;
  QString password1() const override;
  QString path2() const override;
  QString password2() const override;

  QGroupBox *Frame1, *Frame2;
  QLabel *Label5, *lblPassword, *Label1, *Label2;
  QLineEdit *Text1, *Text2, *Text3, *Text4;
  QPushButton *PushButton1, *PushButton2, *PushButton3, *PushButton4;
  PointerFeedback* pointer;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildLayout();
  void connectHandlers();
  void browse(const QString& handler, QLineEdit* field);

  SettingsStore& settings_;
  TableSource& tables_;
  std::unique_ptr<Form2> form2_;
  // Set when the start-up has ended the program (seen only where ending
  // returns, as in tests).
  bool ended_ = false;
};

}  // namespace corvalin
