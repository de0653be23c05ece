#include "ui/style/indicator_metrics.h"

#include <QCheckBox>
#include <QRadioButton>

namespace corvalin {

namespace {
// In pixels at 96 dpi, scaled with the font's resolution like the
// style's own metrics.
constexpr int kIndicator = 13;
constexpr int kSpacing = 4;

int Scaled(int pixels, const QWidget* widget) {
  const int dpi = widget ? widget->logicalDpiX() : 96;
  return qRound(pixels * dpi / 96.0);
}
}  // namespace

IndicatorMetrics::IndicatorMetrics() : QProxyStyle() {}

int IndicatorMetrics::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                  const QWidget* widget) const {
  switch (metric) {
    case PM_ExclusiveIndicatorWidth:
    case PM_ExclusiveIndicatorHeight:
    case PM_IndicatorWidth:
    case PM_IndicatorHeight:
      return Scaled(kIndicator, widget);
    case PM_RadioButtonLabelSpacing:
    case PM_CheckBoxLabelSpacing:
      return Scaled(kSpacing, widget);
    default:
      return QProxyStyle::pixelMetric(metric, option, widget);
  }
}

void UseDesignIndicators(QWidget* window) {
  auto* style = new IndicatorMetrics;
  style->setParent(window);
  for (QWidget* child : window->findChildren<QWidget*>()) {
    if (qobject_cast<QRadioButton*>(child) || qobject_cast<QCheckBox*>(child))
      child->setStyle(style);
  }
}

}  // namespace corvalin
