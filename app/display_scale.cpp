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

FrameFit FitFrameToWorkArea(int top, int height, int workTop, int workBottom, int minHeight) {
    if (height <= workBottom - workTop) return {KeepTopInWorkArea(top, height, workTop, workBottom), height, false};
    const int view = workBottom - workTop > minHeight ? workBottom - workTop : minHeight;
    return {workTop, view < height ? view : height, view < height};
}

PageGrowth GrowthForPageHeight(int pageHeight, int nonClientHeight, int fromHeight) {
    const int added = nonClientHeight + pageHeight - fromHeight;
    return {added, added / 2};
}

int ClampScroll(int pos, int viewHeight, int contentHeight) {
    const int last = contentHeight > viewHeight ? contentHeight - viewHeight : 0;
    return pos < 0 ? 0 : pos > last ? last : pos;
}

int ScrollToShow(int pos, int viewHeight, int contentHeight, int itemTop, int itemBottom) {
    if (itemBottom - itemTop > viewHeight || itemTop < pos) pos = itemTop;
    else if (itemBottom > pos + viewHeight) pos = itemBottom - viewHeight;
    return ClampScroll(pos, viewHeight, contentHeight);
}

int WheelRows(int delta, int lines, int lineHeight, int viewHeight, int* carry) {
    const int notch = 120;
    int rowsPerNotch = lines < 0 ? viewHeight - lineHeight : lines * lineHeight;
    if (lines < 0 && rowsPerNotch < lineHeight) rowsPerNotch = lineHeight;
    // Kept in delta x rows units, so that no part of a turn is lost.
    const long long scaled = *carry + static_cast<long long>(delta) * rowsPerNotch;
    const long long rows = scaled / notch;  // toward zero
    *carry = static_cast<int>(scaled - rows * notch);
    return static_cast<int>(-rows);
}

int NearestImageScale(int dpi) {
    if (dpi <= 120) return 100;   // 96 .. 120 (125 %)
    if (dpi <= 168) return 150;   // 144 (150 %), 168 (175 %)
    return 200;
}

LabelFit FitLabel(int textWidth, int width, int blankColonHalf, int freeRight, int freeLeft) {
    if (textWidth <= width) return {false, width, 0};
    if (textWidth - blankColonHalf <= width) return {true, width, 0};
    const int wanted = textWidth - width;
    const int right = freeRight <= 0 ? 0 : wanted < freeRight ? wanted : freeRight;
    const int left = freeLeft <= 0 ? 0 : wanted - right < freeLeft ? wanted - right : freeLeft;
    return {true, width + right + left, left};
}
