// A list box that keeps its entries in the order a person reads them: letter
// case ignored, digits by value, the user's locale deciding the rest — as the
// Windows list box sorts, not by character code as QListWidget does.
#pragma once

#include <QListWidget>

namespace corvalin {

class SortedList : public QListWidget {
 public:
  explicit SortedList(QWidget* parent = nullptr);
  void addName(const QString& name);
  // Shrinks the height to a whole number of lines, never cutting one.
  void fitWholeLines();
};

}  // namespace corvalin
