// Helpers for laying out the windows from their design measures.
#pragma once

#include <QFont>
#include <QPushButton>
#include <QRect>
#include <QWidget>
#include <QtMath>

namespace corvalin {

// 15 twips make one pixel at 96 dots per inch; rounded to whole pixels.
inline int Px(int twips) { return qRound(twips / 15.0); }

inline void PlaceTwips(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(Px(left), Px(top), Px(width), Px(height));
}

// Arial comes through fontconfig (Liberation Sans on Debian, metric-equal).
inline QFont ArialBold(qreal points) {
  QFont font(QStringLiteral("Arial"));
  font.setPointSizeF(points);
  font.setBold(true);
  return font;
}

// A fixed-size window with system menu, minimise and close but no maximise.
inline void MakeFixedWindow(QWidget* window, int widthTwips, int heightTwips) {
  window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                         Qt::WindowCloseButtonHint);
  window->setFixedSize(Px(widthTwips), Px(heightTwips));
}

void CentreOnScreen(QWidget* window);

// A control of kind T, named and placed from its design measures (twips).
template <typename T>
T* Make(QWidget* parent, const char* name, int left, int top, int width, int height) {
  T* widget = new T(parent);
  widget->setObjectName(QLatin1String(name));
  PlaceTwips(widget, left, top, width, height);
  return widget;
}

// The push button of both pages: Arial 11.25 pt bold on white, never the
// window's default button.
QPushButton* MakePushButton(QWidget* parent, const char* name, const QString& caption, int left,
                            int top, int width, int height);

}  // namespace corvalin
