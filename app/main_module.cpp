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

// Keeps one widget's background at the application palette's button face,
// so a change of the colour scheme reaches it: the colour is used by
// reference, not copied once.
class ButtonFace : public QObject {
 public:
  explicit ButtonFace(QWidget* widget) : QObject(widget), widget_(widget) {
    // The application object hears of a new colour scheme.
    qApp->installEventFilter(this);
    apply();
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) apply();
    return false;
  }

 private:
  void apply() {
    QPalette palette = widget_->palette();
    palette.setColor(QPalette::Window, QGuiApplication::palette().color(QPalette::Button));
    widget_->setPalette(palette);
    widget_->setAutoFillBackground(true);
  }
  QWidget* widget_;
};

// Keeps one control's text colour at the application palette's button
// text, per colour group, so the disabled state shows its own form.
class ButtonText : public QObject {
 public:
  explicit ButtonText(QWidget* widget) : QObject(widget), widget_(widget) {
    qApp->installEventFilter(this);
    apply();
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) apply();
    return false;
  }

 private:
  void apply() {
    const QPalette system = QGuiApplication::palette();
    QPalette palette = widget_->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
      palette.setColor(group, QPalette::WindowText, system.color(group, QPalette::ButtonText));
      palette.setColor(group, QPalette::ButtonText, system.color(group, QPalette::ButtonText));
    }
    widget_->setPalette(palette);
  }
  QWidget* widget_;
};

void Colour(QWidget* widget) {
  if (widget->property("corvalinButtonFace").toBool()) return;
  widget->setProperty("corvalinButtonFace", true);
  new ButtonFace(widget);
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
  if (control->property("corvalinButtonText").toBool()) return;
  control->setProperty("corvalinButtonText", true);
  new ButtonText(control);
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
