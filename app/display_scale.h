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

// MainWindow's frame for a page whose window is height rows tall at top,
// on a work area of rows [workTop, workBottom). A window that fits keeps
// its height, its top kept inside by KeepTopInWorkArea. A taller one takes
// the work area's height from its top (never less than minHeight, so that
// it is still told from the port selection page) and the page scrolls in it.
struct FrameFit {
    int top;
    int height;
    bool scrolls;
};
FrameFit FitFrameToWorkArea(int top, int height, int workTop, int workBottom, int minHeight);

// The change of a window fromHeight rows tall for a page sized by its own
// height: the client area takes pageHeight rows in a frame of
// nonClientHeight rows, and the top moves up half the height added (toward
// zero), as the page table's figures do.
PageGrowth GrowthForPageHeight(int pageHeight, int nonClientHeight, int fromHeight);

// Vertical scrolling of a page of contentHeight rows in a view of
// viewHeight rows; pos is the page row at the view's top.
// pos kept within [0, contentHeight - viewHeight] (0 when all of it shows).
int ClampScroll(int pos, int viewHeight, int contentHeight);
// The position that shows the page rows [itemTop, itemBottom): pos itself
// when they show already, else the least move that shows them (their top
// when they are taller than the view).
int ScrollToShow(int pos, int viewHeight, int contentHeight, int itemTop, int itemBottom);
// Rows a wheel turn of delta (WHEEL_DELTA, 120, a notch; positive away from
// the user, up the page) scrolls: lines of lineHeight rows a notch, or a
// view less one line a notch when lines is WHEEL_PAGESCROLL (UINT_MAX as
// int: -1). Fractions of a notch add up in *carry; the result is
// positive down the page. *carry starts at 0.
int WheelRows(int delta, int lines, int lineHeight, int viewHeight, int* carry);

// The eye pictures are drawn for 100, 150 and 200 %; the scale whose DPI
// is nearest (ties to the smaller picture).
int NearestImageScale(int dpi);
// pixels of a picture drawn for imageScale % at dpi.
int ScaleImageToDpi(int pixels, int imageScale, int dpi);

// A static label above 96 DPI: the text's width in the label's font, the
// label's width, the blank right half of a trailing full-width colon (0
// when the text does not end in one) and the free pixels to the label's
// right and left. A label narrower than its text is drawn on one line;
// where even its last visible character would be cut, it widens into the
// free space to its right, and where that is too little, to its left too
// (its left edge moving left by shiftLeft).
struct LabelFit {
    bool oneLine;
    int width;
    int shiftLeft;
};
LabelFit FitLabel(int textWidth, int width, int blankColonHalf, int freeRight, int freeLeft);
