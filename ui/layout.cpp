#include "ui/layout.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

namespace corvalin {

void CentreOnScreen(QWidget* window) {
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect frame = window->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window->move(frame.topLeft());
}

QPushButton* MakePushButton(QWidget* parent, const char* name, const QString& caption, int left,
                            int top, int width, int height) {
  QPushButton* button = Make<QPushButton>(parent, name, left, top, width, height);
  button->setText(caption);
  button->setFont(ArialBold(11.25));
  button->setAutoDefault(false);
  button->setDefault(false);
  QPalette palette = button->palette();
  palette.setColor(QPalette::Button, Qt::white);
  button->setPalette(palette);
  return button;
}

}  // namespace corvalin
