#pragma once
// Geometry of the chart window in twips (1440 per inch; 15 per pixel at 96 DPI).
// Pure functions, so the resize rules are tested without a window.

// Sizes after a resize to the outer size W x H (twips).
struct ChartLayout {
    double width = 0;  // outer width after the minimum (6500)
    double height = 0; // outer height after the minimum (5220)
    double posErrWidth = 0;
    double posErrHeight = 0;
    double flexWidth = 0;
    double flexHeight = 0;
    double label2Top = 0;
    double flexTop = 0;
};

constexpr double kChartMinWidth = 6500;
constexpr double kChartMinHeight = 5220;

// W < 6500 -> 6500, H < 5220 -> 5220; charts W / 8385 * 8295 wide; the position error
// chart H / 5520 * 2055 high and the rate chart H / 5220 * 2055; Label2 top
// H / 5220 * 2500; the rate chart 240 below Label2's top.
ChartLayout ChartLayoutFor(double outerWidth, double outerHeight);

// Twips to pixels for a screen of logicalDpi dots per inch, halves to even.
int TwipsToPixels(double twips, double logicalDpi);
double PixelsToTwips(int pixels, double logicalDpi);
