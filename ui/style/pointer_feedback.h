// The window pointer kinds and the pointer handlers of both pages: over push
// buttons the hand, over fields, frames and background the ordinary pointer,
// and neither while the window shows the hourglass.
#pragma once

#include <QCursor>
#include <QObject>
#include <optional>

class QWidget;

namespace corvalin {

inline constexpr int kPointerOrdinary = 0;
inline constexpr int kPointerHourglass = 11;
inline constexpr int kPointerCustom = 99;

class PointerFeedback : public QObject {
 public:
  explicit PointerFeedback(QWidget* window);

  int kind() const { return kind_; }
  void setKind(int kind);
  // The window's custom pointer image, from a .cur file.
  void loadCustomImage(const QString& curFile);
  bool hasCustomImage() const { return custom_.has_value(); }

  // The mouse moving over `control` sets `target` unless the hourglass shows.
  void handle(QWidget* control, int target);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* window_;
  int kind_ = kPointerOrdinary;
  std::optional<QCursor> custom_;
};

// Reads a cursor file with its hotspot (Qt's reader skips the hotspot).
QCursor LoadCursorFile(const QString& path);

}  // namespace corvalin
