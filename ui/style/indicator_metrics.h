// Option buttons and check boxes that leave their caption the room the
// design gave it. The windows are laid out for a 13-pixel indicator with
// the caption 4 pixels after it (at 96 dpi); Fusion draws a 14-pixel one
// with 6 pixels of spacing, which cuts "Append to Table in Database #2"
// (180.4 pixels in Arial 9 pt bold) at its design width of 198 pixels.
#pragma once

#include <QProxyStyle>

namespace corvalin {

class IndicatorMetrics : public QProxyStyle {
 public:
  // Works over whatever the application style is at the time of use.
  IndicatorMetrics();
  int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr) const override;
};

// Gives every option button and check box on `window` those metrics.
void UseDesignIndicators(QWidget* window);

}  // namespace corvalin
