#include "veldra/chart/chart_layout.h"

#include "common/numbers.h"

#include <algorithm>

ChartLayout ChartLayoutFor(double outerWidth, double outerHeight) {
    ChartLayout layout;
    layout.width = std::max(outerWidth, kChartMinWidth);
    layout.height = std::max(outerHeight, kChartMinHeight);
    const double w = layout.width;
    const double h = layout.height;
    layout.posErrWidth = w / 8385 * 8295;
    // 5520 here (not 5220): the upper chart grows a little slower than the lower one.
    layout.posErrHeight = h / 5520 * 2055;
    layout.flexWidth = w / 8385 * 8295;
    layout.flexHeight = h / 5220 * 2055;
    layout.label2Top = h / 5220 * 2500;
    layout.flexTop = layout.label2Top + 240;
    return layout;
}

int TwipsToPixels(double twips, double logicalDpi) {
    return static_cast<int>(RoundHalfEven(twips * logicalDpi / 1440));
}

double PixelsToTwips(int pixels, double logicalDpi) {
    return pixels * 1440 / logicalDpi;
}
