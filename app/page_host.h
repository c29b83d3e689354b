// Which page MainWindow hosts after an information reply. Free of window
// calls: MainWindow measures itself, asks here, then acts.
#pragma once
#include <cstdint>

enum PageKind {
    PAGE_PORT_SELECT,
    PAGE_BASIC_READER,
    PAGE_DUAL_ANTENNA,
    PAGE_SINGLE_ANTENNA,
    PAGE_WIFI_READER,
};

// One row of the page table: the page of a device type, its dialog
// template and how MainWindow grows to fit it.
struct PageTableEntry {
    int32_t deviceType;
    PageKind page;
    int templateId;
    int heightAdded;   // pixels added to MainWindow's height
    int topMovedUp;    // pixels MainWindow's top moves up, to stay centred
};

// The entry for deviceType, or nullptr for a type without a page.
const PageTableEntry* FindPageForType(int32_t deviceType);

// MainWindow's start-up height is 190; a device page makes it at least this
// tall. Both are figures at 96 DPI, scaled with the window's DPI.
constexpr int START_WIDTH = 582;
constexpr int START_HEIGHT = 190;
constexpr int DEVICE_PAGE_MIN_HEIGHT = 300;

enum PageSwitchStep {
    SWITCH_NOTHING,           // keep what is shown
    SWITCH_REINIT_CURRENT,    // a device page of the reply's type is shown: it re-reads the store
    SWITCH_NEW_PORT_SELECT,   // create a fresh PortSelectPage
    SWITCH_NEW_DEVICE_PAGE,   // resize MainWindow and create entry's page
};

struct PageSwitch {
    // Destroy the pages first. Destroying a device page this way must not
    // end the program: the page is replaced, not closed.
    bool destroyCurrent;
    PageSwitchStep step;
    const PageTableEntry* entry;  // SWITCH_NEW_DEVICE_PAGE only
};

// restoredHeight is MainWindow's height in its normal (restored) placement,
// so a reply that arrives while the window is minimised or maximised is
// judged by the page actually hosted; dpi is the window's, and the height
// is compared with DEVICE_PAGE_MIN_HEIGHT scaled to it. shownType is the
// device type of the device page MainWindow hosts (0 when it hosts none):
// a reply of another type replaces that page, since re-reading the other
// reader's record in this page's layout would show, and Apply would write,
// wrong settings.
PageSwitch ChoosePageSwitch(int restoredHeight, int32_t shownType, int32_t deviceType, int dpi = 96);

// How MainWindow's frame changes from the page shown to the next one, in
// pixels at dpi: the heights come from the page table, and the top moves by
// the difference of the table's moves so that the window stays about
// centred (the first identification moves it from the start-up size).
struct WindowChange {
    int topMovedUp;
    int heightAdded;
};
// shown is nullptr when MainWindow still has its start-up size.
WindowChange ChangeForPage(const PageTableEntry* shown, const PageTableEntry& next, int dpi = 96);
