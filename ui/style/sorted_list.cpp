#include "ui/style/sorted_list.h"

#include <QCollator>
#include <QLocale>

namespace corvalin {

namespace {
class ReadingOrderItem : public QListWidgetItem {
 public:
  using QListWidgetItem::QListWidgetItem;
  bool operator<(const QListWidgetItem& other) const override {
    static const QCollator collator = [] {
      // The "C" locale collates by code; a person still reads English order.
      QLocale locale;
      if (locale.language() == QLocale::C) locale = QLocale(QLocale::English);
      QCollator c(locale);
      c.setCaseSensitivity(Qt::CaseInsensitive);
      c.setNumericMode(true);
      return c;
    }();
    return collator.compare(text(), other.text()) < 0;
  }
};
}  // namespace

SortedList::SortedList(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSortingEnabled(true);
  setUniformItemSizes(true);
}

void SortedList::addName(const QString& name) {
  addItem(new ReadingOrderItem(name));
  sortItems();
}

void SortedList::fitWholeLines() {
  const bool probe = count() == 0;
  if (probe) addItem(QStringLiteral("X"));
  const int line = qMax(1, sizeHintForRow(0));
  if (probe) delete takeItem(0);
  const int frame = 2 * frameWidth();
  const int lines = qMax(1, (height() - frame) / line);
  resize(width(), lines * line + frame);
}

}  // namespace corvalin
