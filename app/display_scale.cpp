#include "app/display_scale.h"

#include "app/page_host.h"

int ScaleToDpi(int pixels96, int dpi) {
    const long long product = static_cast<long long>(pixels96) * dpi;
    const long long half = BASE_DPI / 2;
    return static_cast<int>(product >= 0 ? (product + half) / BASE_DPI : -((-product + half) / BASE_DPI));
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
