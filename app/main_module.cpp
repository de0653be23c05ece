#include "app/main_module.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QRadioButton>
#include <QWidget>
#include <stdexcept>

namespace corvalin {

bool FileExists(const QString& path) {
  if (path.isEmpty()) return false;
  QFileInfo info(path);
  return info.exists() && info.lastModified().isValid();
}

namespace {
QString& ProgramFolderOverride() {
  static QString folder;
  return folder;
}
}  // namespace

QString ProgramFolder() {
  const QString& folder = ProgramFolderOverride();
  return folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder;
}

void SetProgramFolder(const QString& folder) { ProgramFolderOverride() = folder; }

QString AppTitleFor(const QString& productName) {
  QString title = productName;
  int blank = title.lastIndexOf(QLatin1Char(' '));
  if (blank < 0) return title;
  do {
    title.truncate(blank);
    blank = title.lastIndexOf(QLatin1Char(' '));
  } while (title.size() > 40 && blank >= 0);
  return title;
}

namespace {
QString& AppTitleText() {
  static QString title;
  return title;
}
}  // namespace

void SetAppTitle() { AppTitleText() = AppTitleFor(QString::fromLatin1(kProductName)); }

QString AppTitle() {
  // Before SetAppTitle has run (a box of the start-up check) the product
  // name stands in.
  const QString& title = AppTitleText();
  return title.isEmpty() ? QString::fromLatin1(kProductName) : title;
}

namespace {

// Keeps some colours of one widget's palette at colours of the application
// palette, so a change of the colour scheme reaches it: the colours are
// used by reference, not copied once. `mark` is a property that keeps a
// widget from getting the same follower twice.
class PaletteFollower : public QObject {
 public:
  using Follow = void (*)(QWidget* widget, QPalette& palette, const QPalette& system);

  static void Attach(QWidget* widget, const char* mark, Follow follow) {
    if (widget->property(mark).toBool()) return;
    widget->setProperty(mark, true);
    new PaletteFollower(widget, follow);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) apply();
    return false;
  }

 private:
  PaletteFollower(QWidget* widget, Follow follow) : QObject(widget), widget_(widget), follow_(follow) {
    // The application object hears of a new colour scheme.
    qApp->installEventFilter(this);
    apply();
  }
  void apply() {
    QPalette palette = widget_->palette();
    follow_(widget_, palette, QGuiApplication::palette());
    widget_->setPalette(palette);
  }

  QWidget* widget_;
  Follow follow_;
};

// The background at the button face.
void FollowButtonFace(QWidget* widget, QPalette& palette, const QPalette& system) {
  palette.setColor(QPalette::Window, system.color(QPalette::Button));
  widget->setAutoFillBackground(true);
}

// The text at the button text, per colour group, so the disabled state
// shows its own form.
void FollowButtonText(QWidget*, QPalette& palette, const QPalette& system) {
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    palette.setColor(group, QPalette::WindowText, system.color(group, QPalette::ButtonText));
    palette.setColor(group, QPalette::ButtonText, system.color(group, QPalette::ButtonText));
  }
}

void Colour(QWidget* widget) {
  PaletteFollower::Attach(widget, "corvalinButtonFace", FollowButtonFace);
}

}  // namespace

void ApplyButtonFace(QWidget* window) {
  Colour(window);
  for (QWidget* child : window->findChildren<QWidget*>()) {
    if (qobject_cast<QRadioButton*>(child) || qobject_cast<QCheckBox*>(child) ||
        qobject_cast<QGroupBox*>(child) || qobject_cast<QLabel*>(child))
      Colour(child);
  }
}

void ApplyButtonText(QWidget* control) {
  PaletteFollower::Attach(control, "corvalinButtonText", FollowButtonText);
}

void ApplySkin(QWidget* form1) {
  const QString path = ProgramFolder() + QStringLiteral("/x/o.cjs");
  // Only a normal file is a skin; a folder of that name is not.
  if (!QFileInfo(path).isFile()) return;
  ApplyButtonFace(form1);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw std::runtime_error(("Cannot read the skin file " + path + ": " + file.errorString())
                                 .toStdString());
  form1->setStyleSheet(QString::fromUtf8(file.readAll()));
}

}  // namespace corvalin
