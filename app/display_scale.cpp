#include "app/display_scale.h"

#include "app/page_host.h"

// a * b / c rounded half away from zero, as MulDiv (c > 0).
static int MulDivRounded(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : -((-product + half) / c));
}

int ScaleToDpi(int pixels96, int dpi) { return MulDivRounded(pixels96, dpi, BASE_DPI); }

int ScaleImageToDpi(int pixels, int imageScale, int dpi) {
    return MulDivRounded(pixels, dpi * 100, imageScale * BASE_DPI);
}

PageGrowth ScaledGrowth(const PageTableEntry& entry, int dpi) {
    return {ScaleToDpi(entry.heightAdded, dpi), ScaleToDpi(entry.topMovedUp, dpi)};
}

int KeepTopInWorkArea(int top, int height, int workTop, int workBottom) {
    if (top + height > workBottom) top = workBottom - height;
    return top < workTop ? workTop : top;
}

int NearestImageScale(int dpi) {
    if (dpi <= 120) return 100;   // 96 .. 120 (125 %)
    if (dpi <= 168) return 150;   // 144 (150 %), 168 (175 %)
    return 200;
}

LabelFit FitLabel(int textWidth, int width, int blankColonHalf, int freeRight) {
    if (textWidth <= width) return {false, width};
    if (textWidth - blankColonHalf <= width || freeRight <= 0) return {true, width};
    const int wanted = textWidth - width;
    return {true, width + (wanted < freeRight ? wanted : freeRight)};
}
