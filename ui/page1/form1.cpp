#include "ui/page1/form1.h"

#include <QEvent>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/main_module.h"
#include "app/platform.h"
#include "app/settings_store.h"
#include "app/step_runner.h"
#include "db/access1.h"
#include "ui/layout.h"
#include "ui/page2/form2.h"
#include "ui/page2/table_lists.h"
#include "ui/style/pointer_feedback.h"

namespace corvalin {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top,
                  int width, int height, Qt::Alignment align) {
  QLabel* label = Make<QLabel>(parent, name, left, top, width, height);
  label->setText(caption);
  label->setFont(ArialBold(9));
  label->setAlignment(align | Qt::AlignVCenter);
  return label;
}

QLineEdit* MakeText(QWidget* parent, const char* name, int left, int top, int width, int height,
                    bool password) {
  QLineEdit* text = Make<QLineEdit>(parent, name, left, top, width, height);
  text->setFont(ArialBold(9));
  if (password) {
    text->setEchoMode(QLineEdit::Password);
    text->setAttribute(Qt::WA_InputMethodEnabled, false);
  }
  return text;
}

}  // namespace

Form1::Form1(Platform& platform, SettingsStore& settings, TableSource& tables)
    : WizardWindow(platform), settings_(settings), tables_(tables) {
  setObjectName(QStringLiteral("Form1"));
  buildLayout();
  connectHandlers();
}

Form1::~Form1() = default;

void Form1::buildLayout() {
  MakeFixedWindow(this, 8040, 3525);
  setFont(QFont(QStringLiteral("Arial"), 9));
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);
  setAutoFillBackground(true);

  Frame1 = Make<QGroupBox>(this, "Frame1", 120, 120, 7800, 1335);
  Frame1->setTitle(QStringLiteral("Access Database #1"));
  Frame1->setFont(ArialBold(9));
  Label5 = MakeLabel(Frame1, "Label5", QStringLiteral("MDB or ACCDB File:"), 240, 345, 1935, 255,
                     Qt::AlignLeft);
  Text1 = MakeText(Frame1, "Text1", 2280, 300, 4575, 345, false);
  PushButton1 = MakePushButton(Frame1, "PushButton1", QStringLiteral("..."), 6960, 300, 570, 345);
  lblPassword = MakeLabel(Frame1, "lblPassword", QStringLiteral("Password (if required):"), 240,
                          840, 1950, 225, Qt::AlignRight);
  Text2 = MakeText(Frame1, "Text2", 2280, 800, 5265, 345, true);

  Frame2 = Make<QGroupBox>(this, "Frame2", 120, 1560, 7800, 1335);
  Frame2->setTitle(QStringLiteral("Access Database #2 (Can be the same file as Database #1)"));
  Frame2->setFont(ArialBold(9));
  Label1 = MakeLabel(Frame2, "Label1", QStringLiteral("MDB or ACCDB File:"), 240, 345, 1935, 255,
                     Qt::AlignLeft);
  Text3 = MakeText(Frame2, "Text3", 2280, 300, 4575, 345, false);
  PushButton3 = MakePushButton(Frame2, "PushButton3", QStringLiteral("..."), 6960, 300, 570, 345);
  Label2 = MakeLabel(Frame2, "Label2", QStringLiteral("Password (if required):"), 240, 840, 1950,
                     225, Qt::AlignRight);
  Text4 = MakeText(Frame2, "Text4", 2280, 800, 5265, 345, true);

  PushButton4 = MakePushButton(this, "PushButton4", QStringLiteral("Load Sample/Example Database"),
                               120, 3020, 3840, 405);
  PushButton2 = MakePushButton(this, "PushButton2", QStringLiteral("Next >"), 4080, 3020, 3840, 405);

  // Labels sized to their text keep their right edge where the design has it.
  for (QLabel* label : {lblPassword, Label2}) {
    const QRect design = label->geometry();
    label->adjustSize();
    label->move(design.right() + 1 - label->width(), design.top());
    label->resize(label->width(), design.height());
  }

  setTabOrder(Text1, PushButton1);
  setTabOrder(PushButton1, Text2);
  setTabOrder(Text2, Text3);
  setTabOrder(Text3, PushButton3);
  setTabOrder(PushButton3, Text4);
  setTabOrder(Text4, PushButton2);
  setTabOrder(PushButton2, PushButton4);
  Text1->setFocus();

  pointer = new PointerFeedback(this);
  for (QWidget* w : {static_cast<QWidget*>(PushButton1), static_cast<QWidget*>(PushButton2),
                     static_cast<QWidget*>(PushButton3), static_cast<QWidget*>(PushButton4)})
    pointer->handle(w, kPointerCustom);
  for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(Text1),
                     static_cast<QWidget*>(Text2), static_cast<QWidget*>(Text3),
                     static_cast<QWidget*>(Text4), static_cast<QWidget*>(Frame1),
                     static_cast<QWidget*>(Frame2)})
    pointer->handle(w, kPointerOrdinary);
}

void Form1::connectHandlers() {
  // Every change, whatever caused it, goes to the settings at once.
  const std::pair<QLineEdit*, const char*> fields[] = {
      {Text1, kKeyFile1}, {Text2, kKeyPassword1}, {Text3, kKeyFile2}, {Text4, kKeyPassword2}};
  for (auto [field, key] : fields) {
    connect(field, &QLineEdit::textChanged, this,
            [this, key = key](const QString& text) { settings_.write(key, text); });
    field->installEventFilter(this);
  }
  connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
  connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
  connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
  connect(PushButton4, &QPushButton::clicked, this, [this] { PushButton4_Click(); });
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  // Got focus: select the whole text so typing replaces it.
  if (event->type() == QEvent::FocusIn)
    if (auto* field = qobject_cast<QLineEdit*>(watched)) field->selectAll();
  return QWidget::eventFilter(watched, event);
}

void Form1::Form_Load() {
  StepRunner run(platform_, this, QStringLiteral("Form1.Form_Load"));
  run.step(100, [&] { ApplySkin(this); });
  run.step(106, [&] { setWindowTitle(QString::fromLatin1(kProductName)); });
  run.step(106, [&] { setWindowIcon(QIcon(QStringLiteral(":/corvalin.ico"))); });
  run.step(106, [&] { SetAppTitle(); });
  const QString cursor = ProgramFolder() + QStringLiteral("/HAND-M.CUR");
  if (run.test(124, [&] { return FileExists(cursor); }))
    run.step(126, [&] { pointer->loadCustomImage(cursor); });
  run.step(128, [&] { Text1->setText(settings_.read(kKeyFile1)); });
  run.step(130, [&] { Text2->setText(settings_.read(kKeyPassword1)); });
  run.step(132, [&] { Text3->setText(settings_.read(kKeyFile2)); });
  run.step(134, [&] { Text4->setText(settings_.read(kKeyPassword2)); });
  // Without the database components there is nothing to do: the program ends
  // before any window shows. CheckProvider reports its own trouble.
  bool providerUsable = true;
  run.step(142, [&] { providerUsable = CheckProvider(platform_, this); });
  if (!providerUsable) {
    ended_ = true;
    platform_.endProgram();
    return;
  }
  if (!run.test(136, [&] { return FileExists(Text1->text()); })) return;
  if (!run.test(138, [&] { return FileExists(Text3->text()); })) return;
  run.step(140, [&] { PushButton2_Click(); });
}

void Form1::Start() {
  Form_Load();
  if (ended_) return;
  // After the automatic advance only the second page shows.
  if (!(form2_ && form2_->isVisible())) show();
}

void Form1::browse(const QString& handler, QLineEdit* field) {
  StepRunner run(platform_, this, handler);
  QString fileName;
  QString title, filter;
  run.step(100, [&] { fileName.clear(); });
  // Line 102 set the Explorer-style flags with the read-only box ticked; the
  // Qt dialog has no read-only box and the box's state was never read.
  run.step(104, [&] { title = QStringLiteral("Select Access Database"); });
  run.step(106, [&] {
    // The three entries in Qt's form; "*.*db" admits every extension ending
    // in the letters db.
    filter = QStringLiteral(
        "All Microsoft Databases (*.mdb,*.accdb) (*.*db);;"
        "Microsoft Database (*.mdb) (*.mdb);;"
        "Microsoft 2007 Database (*.accdb) (*.accdb)");
  });
  run.step(108, [&] { fileName = platform_.openFileName(this, title, filter); });
  if (run.test(110, [&] { return !fileName.isEmpty(); }))
    run.step(112, [&] { field->setText(fileName); });
}

void Form1::PushButton1_Click() { browse(QStringLiteral("Form1.PushButton1_Click"), Text1); }
void Form1::PushButton3_Click() { browse(QStringLiteral("Form1.PushButton3_Click"), Text3); }

void Form1::PushButton4_Click() {
  StepRunner run(platform_, this, QStringLiteral("Form1.PushButton4_Click"));
  const QString sample = ProgramFolder() + QStringLiteral("/Samples/sample.mdb");
  run.step(100, [&] { Text1->setText(sample); });
  run.step(102, [&] { Text3->setText(sample); });
}

void Form1::PushButton2_Click() {
  StepRunner run(platform_, this, QStringLiteral("Form1.PushButton2_Click"));
  run.step(100, [&] { FillTableList1(*this, tables_, *form2().List1); });
  run.step(102, [&] { FillTableList2(*this, tables_, *form2().List2); });
  run.step(104, [&] { form2().show(); });
  run.step(106, [&] { hide(); });
  // Exact comparison: paths that differ in case or separators are two files.
  if (run.test(108, [&] { return Text3->text() == Text1->text(); })) {
    run.step(110, [&] { form2().Option1->setEnabled(false); });
    run.step(112, [&] { form2().Option2->setEnabled(false); });
    run.step(114, [&] { form2().Frame1->setTitle(QStringLiteral("Access Database #1 (same file)")); });
    run.step(116, [&] { form2().Frame2->setTitle(QStringLiteral("Access Database #2 (same file)")); });
  } else {
    run.step(118, [&] { form2().Option1->setEnabled(true); });
    run.step(120, [&] { form2().Option2->setEnabled(true); });
    run.step(122, [&] { form2().Frame1->setTitle(QStringLiteral("Access Database #1")); });
    run.step(124, [&] { form2().Frame2->setTitle(QStringLiteral("Access Database #2")); });
  }
}

Form2& Form1::form2() {
  if (!form2_) {
    form2_ = std::make_unique<Form2>(platform_, *this, *this);
    form2_->Form_Load();
  }
  return *form2_;
}

QString Form1::path1() const { return Text1->text(); }
QString Form1::password1() const { return Text2->text(); }
QString Form1::path2() const { return Text3->text(); }
QString Form1::password2() const { return Text4->text(); }

}  // namespace corvalin
