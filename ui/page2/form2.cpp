#include "ui/page2/form2.h"

#include <QGroupBox>
#include <QIcon>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include "app/main_module.h"
#include "app/platform.h"
#include "app/step_runner.h"
#include "ui/layout.h"
#include "ui/page2/append_run.h"
#include "ui/style/indicator_metrics.h"
#include "ui/style/pointer_feedback.h"
#include "ui/style/sorted_list.h"

namespace corvalin {

namespace {

QGroupBox* MakeFrame(QWidget* parent, const char* name, const QString& caption, int left, int top,
                     int width, int height) {
  auto* frame = new QGroupBox(caption, parent);
  frame->setObjectName(QLatin1String(name));
  PlaceTwips(frame, left, top, width, height);
  QPalette palette = frame->palette();
  palette.setColor(QPalette::WindowText, Qt::black);  // captions are black by design
  frame->setPalette(palette);
  return frame;
}

}  // namespace

Form2::Form2(Platform& platform, QWidget& form1, const DatabaseChoice& choice)
    : WizardWindow(platform), form1_(form1), choice_(choice) {
  setObjectName(QStringLiteral("Form2"));
  buildLayout();
}

void Form2::buildLayout() {
  MakeFixedWindow(this, 8040, 4455);
  setFont(ArialBold(9));
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);
  setAutoFillBackground(true);

  PushButton5 = MakePushButton(this, "PushButton5", QStringLiteral("< Back"), 120, 120, 7800, 405);
  Frame1 = MakeFrame(this, "Frame1", QStringLiteral("Access Database #1 - Select Table"), 120, 600,
                     3840, 1935);
  List1 = Make<SortedList>(Frame1, "List1", 240, 300, 3330, 1410);
  Frame2 = MakeFrame(this, "Frame2", QStringLiteral("Access Database #2 - Select Table"), 4080,
                     600, 3840, 1935);
  List2 = Make<SortedList>(Frame2, "List2", 240, 300, 3330, 1410);
  Frame3 = MakeFrame(this, "Frame3", QStringLiteral("If Separate Access Files.."), 120, 2595, 7800,
                     735);
  Option1 = Make<QRadioButton>(Frame3, "Option1", 240, 300, 3015, 255);
  Option1->setText(QStringLiteral("Append to Table in Database #1"));
  Option2 = Make<QRadioButton>(Frame3, "Option2", 3960, 300, 2965, 255);
  Option2->setText(QStringLiteral("Append to Table in Database #2"));
  Option1->setChecked(true);
  // The frame fixes its caption black; the options' captions are the
  // system button text, which has a disabled form.
  ApplyButtonText(Option1);
  ApplyButtonText(Option2);
  UseDesignIndicators(Frame3);
  PushButton2 = MakePushButton(this, "PushButton2", QStringLiteral("Start Appending"), 120, 3450,
                               7800, 405);
  ProgressBar1 = Make<QProgressBar>(this, "ProgressBar1", 120, 3970, 7800, 405);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setFormat(QStringLiteral("Progress Bar"));
  ProgressBar1->setAlignment(Qt::AlignCenter);
  ProgressBar1->setFocusPolicy(Qt::NoFocus);
  List1->fitWholeLines();
  List2->fitWholeLines();

  setTabOrder(List1, List2);
  setTabOrder(List2, Option1);
  setTabOrder(Option1, Option2);
  setTabOrder(Option2, PushButton2);
  setTabOrder(PushButton2, PushButton5);
  List1->setFocus();

  pointer = new PointerFeedback(this);
  pointer->handle(PushButton2, kPointerCustom);
  pointer->handle(PushButton5, kPointerCustom);
  for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(List1->viewport()),
                     static_cast<QWidget*>(Frame1), static_cast<QWidget*>(Frame2),
                     static_cast<QWidget*>(Frame3)})
    pointer->handle(w, kPointerOrdinary);

  connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
  connect(PushButton5, &QPushButton::clicked, this, [this] { PushButton5_Click(); });
}

void Form2::Form_Load() {
  StepRunner run(platform_, this, QStringLiteral("Form2.Form_Load"));
  run.step(100, [&] { ApplyButtonFace(this); });
  run.step(102, [&] { setWindowIcon(QIcon(QStringLiteral(":/corvalin.ico"))); });
  const QString cursor = ProgramFolder() + QStringLiteral("/HAND-M.CUR");
  if (run.test(106, [&] { return FileExists(cursor); }))
    run.step(108, [&] { pointer->loadCustomImage(cursor); });
  run.step(110, [&] { setWindowTitle(QString::fromLatin1(kProductName)); });
}

void Form2::PushButton2_Click() {
  // A click that arrives while a run yields to the window system is ignored
  // (the button stays enabled, as the window is designed): a run inside the
  // run would walk a source that the outer run is walking too.
  if (appending_) return;
  appending_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{appending_};
  RunAppend(platform_, *this, choice_);
}

void Form2::PushButton5_Click() {
  // Ignored during a run, like "Start Appending": the run's page stays in
  // front while it works.
  if (appending_) return;
  StepRunner run(platform_, this, QStringLiteral("Form2.PushButton5_Click"));
  run.step(100, [&] { form1_.show(); });
  run.step(102, [&] { hide(); });
}

}  // namespace corvalin
