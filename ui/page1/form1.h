// The first page: the database choice (two files and their passwords).
#pragma once

#include <QWidget>
#include <memory>

#include "db/database_choice.h"

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

class Form1 : public QWidget, public DatabaseChoice {
 public:
  Form1(Platform& platform, SettingsStore& settings, TableSource& tables);
  ~Form1() override;

  // The start-up sequence; afterwards the caller shows this window unless
  // the second page has replaced it.
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
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildLayout();
  void connectHandlers();
  void browse(const QString& handler, QLineEdit* field);

  Platform& platform_;
  SettingsStore& settings_;
  TableSource& tables_;
  std::unique_ptr<Form2> form2_;
  bool centred_ = false;
};

}  // namespace corvalin
