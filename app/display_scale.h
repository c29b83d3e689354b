// Pixel figures of the window program at the window's DPI. Free of window
// calls: MainWindow and the pages ask the window's DPI, then ask here.
// Every figure is given for 96 DPI and scaled as MulDiv does (rounded half
// away from zero), so at 96 DPI every size and position is unchanged.
#pragma once

constexpr int BASE_DPI = 96;

// pixels96 at dpi.
int ScaleToDpi(int pixels96, int dpi);

// How MainWindow grows for a device page at dpi (see PageTableEntry).
struct PageGrowth {
    int heightAdded;
    int topMovedUp;
};
struct PageTableEntry;
PageGrowth ScaledGrowth(const PageTableEntry& entry, int dpi);

// The top of a window of this height kept inside the work area's rows
// [workTop, workBottom): moved down when it starts above the work area,
// up when its bottom is below it, but never so far up that the title bar
// leaves the work area (a window taller than the work area starts at its
// top). A window that fits keeps its top.
int KeepTopInWorkArea(int top, int height, int workTop, int workBottom);

// The eye pictures are drawn for 100, 150 and 200 %; the scale whose DPI
// is nearest (ties to the smaller picture).
int NearestImageScale(int dpi);
// pixels of a picture drawn for imageScale % at dpi.
int ScaleImageToDpi(int pixels, int imageScale, int dpi);

// A static label above 96 DPI: the text's width in the label's font, the
// label's width, the blank right half of a trailing full-width colon (0
// when the text does not end in one) and the free pixels to the label's
// right. A label narrower than its text is drawn on one line; where even
// its last visible character would be cut, it widens into the free space.
struct LabelFit {
    bool oneLine;
    int width;
};
LabelFit FitLabel(int textWidth, int width, int blankColonHalf, int freeRight);
