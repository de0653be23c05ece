#include "ui/style/pointer_feedback.h"

#include <QEvent>
#include <QFile>
#include <QMouseEvent>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <QtEndian>
#include <stdexcept>

namespace corvalin {

namespace {
const char kTargetProperty[] = "corvalinPointerTarget";
}

QCursor LoadCursorFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw std::runtime_error(("Cannot open the cursor file " + path).toStdString());
  const QByteArray bytes = file.readAll();
  QImage image;
  if (bytes.size() < 22 || !image.loadFromData(bytes, "CUR"))
    throw std::runtime_error(("Invalid picture: " + path).toStdString());
  // The first directory entry holds the hotspot at bytes 10 to 13.
  const auto* d = reinterpret_cast<const uchar*>(bytes.constData());
  int x = qFromLittleEndian<quint16>(d + 10);
  int y = qFromLittleEndian<quint16>(d + 12);
  return QCursor(QPixmap::fromImage(image), x, y);
}

PointerFeedback::PointerFeedback(QWidget* window) : QObject(window), window_(window) {}

void PointerFeedback::setKind(int kind) {
  kind_ = kind;
  if (kind == kPointerHourglass)
    window_->setCursor(Qt::WaitCursor);
  else if (kind == kPointerCustom && custom_)
    window_->setCursor(*custom_);
  else
    window_->unsetCursor();  // ordinary, and the hand when its file was missing
}

void PointerFeedback::loadCustomImage(const QString& curFile) {
  custom_ = LoadCursorFile(curFile);
  if (kind_ == kPointerCustom) setKind(kind_);
}

void PointerFeedback::handle(QWidget* control, int target) {
  control->setMouseTracking(true);
  control->setProperty(kTargetProperty, target);
  control->installEventFilter(this);
}

bool PointerFeedback::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::MouseMove) return false;
  // A move that a control ignores travels on to its parents; only the control
  // under the pointer has its say, and one without a handler (a label) none.
  const QPoint at = window_->mapFromGlobal(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
  QWidget* under = window_->childAt(at);
  if (!under) under = window_;
  if (under != watched) return false;
  // Every handler does one thing: leave the hourglass, else set its kind.
  if (kind_ != kPointerHourglass) setKind(watched->property(kTargetProperty).toInt());
  return false;
}

}  // namespace corvalin
