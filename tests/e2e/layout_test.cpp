// The five pages at the rig's display scale (100 % in the suite; 125, 150,
// 175 and 200 % through at_scales.sh): every label, check box and button
// text fits its control on one line, every control lies inside MainWindow's
// client area, the window follows the page table at 100 % and the page's
// own height at other scales, about its centre and inside the work area;
// each type's reader is identified by one query on its own page, its reply
// delivered awkwardly, and a type 1 reader is written byte-exact.
//
// On a screen too small for the page (at_scales.sh small: the rig's screen
// as a laptop's), the window takes the work area and the page scrolls: the
// wheel brings "应用" into view and a click there writes the record, the
// wheel over a closed baud box scrolls the page and leaves the box's value,
// a click on a partly shown control brings it into view.
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/display_scale.h"
#include "e2e_fixture.h"

namespace {

// MainWindow at 96 DPI: its start size, and per type the height added and
// how far the top moves up for the device page. Each reader's reply comes
// awkwardly: in four writes, after stray bytes, twice in one write, after
// a header whose frame never completes (past the stall discard).
constexpr int START_WIDTH = 582, START_HEIGHT = 190, DEVICE_PAGE_MIN_HEIGHT = 300;
const struct { int type, heightAdded, topMovedUp; const char* fault; } kGrowth[] = {
    {DEVICE_TYPE_DUAL_ANTENNA, 541, 270, "split:4,20"}, {DEVICE_TYPE_SINGLE_ANTENNA, 402, 201, "garbage:7,100"},
    {DEVICE_TYPE_WIFI, 521, 260, "double"}, {DEVICE_TYPE_BASIC, 298, 149, "never-complete:800"}};

const wchar_t FULL_WIDTH_COLON = L'\xFF1A';

RECT WorkArea(HWND window) {
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    return monitor.rcWork;
}

bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right && inner.bottom <= outer.bottom;
}

POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

class Layout : public ReaderTest {
protected:
    void SetUp() override {
        ReaderTest::SetUp();
        HDC screen = GetDC(nullptr);
        dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        // The pages' template font as the program gets it at this scale.
        em = MulDiv(10, dpi, 72);
        font = CreateFontW(-em, 0, 0, 0, FW_NORMAL, 0, 0, 0, GB2312_CHARSET, 0, 0, 0, 0, L"微软雅黑");
    }
    void TearDown() override {
        DeleteObject(font);
        ReaderTest::TearDown();
    }

    int TextWidth(const std::wstring& text) {
        HDC dc = GetDC(nullptr);
        HGDIOBJ previous = SelectObject(dc, font);
        SIZE size = {};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(dc, previous);
        ReleaseDC(nullptr, dc);
        return size.cx;
    }

    // MainWindow's client area on the screen.
    RECT Client() {
        RECT client;
        GetClientRect(app.main, &client);
        MapWindowPoints(app.main, nullptr, reinterpret_cast<POINT*>(&client), 2);
        return client;
    }

    // Every control inside the area (the client area; the page's own
    // where the page scrolls), every text whole.
    void ExpectPageFits(HWND shown, const RECT& area) {
        for (HWND c = GetWindow(shown, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
            const RECT r = WindowRect(c);
            const int id = GetDlgCtrlID(c);
            EXPECT_TRUE(Inside(r, area)) << "control " << id << " outside the window";
            wchar_t className[32] = L"";
            GetClassNameW(c, className, 32);
            const LONG style = GetWindowLongW(c, GWL_STYLE);
            const std::wstring text = Text(c);
            if (text.empty()) continue;
            int room = r.right - r.left;
            if (wcscmp(className, L"Static") == 0) {
                const bool oneLine = (style & SS_TYPEMASK) == SS_LEFTNOWORDWRAP;
                EXPECT_TRUE(oneLine || (style & SS_TYPEMASK) == SS_LEFT) << id;
                if (oneLine && text.back() == FULL_WIDTH_COLON) room += em / 2;
                EXPECT_TRUE(oneLine || dpi == BASE_DPI || TextWidth(text) <= room) << "label wraps: " << Narrow(text);
            } else if (wcscmp(className, L"Button") == 0) {
                const LONG type = style & BS_TYPEMASK;
                if (type == BS_GROUPBOX || type == BS_OWNERDRAW) continue;
                if (type == BS_AUTOCHECKBOX) room -= ScaleToDpi(16, dpi);  // the box and its gap
            } else {
                continue;
            }
            EXPECT_LE(TextWidth(text), room) << "cut: " << Narrow(text) << " at " << dpi << " DPI";
        }
    }

    // The window's height for the device page without the work area: at
    // 96 DPI the table's, elsewhere the page's own height in the frame.
    PageGrowth GrowthOfShownPage(int heightAdded, int topMovedUp) {
        if (dpi == BASE_DPI) return {heightAdded, topMovedUp};
        const RECT w = WindowRect(app.main), page = WindowRect(device), client = Client();
        return GrowthForPageHeight(page.bottom - page.top, (w.bottom - w.top) - (client.bottom - client.top),
                                   ScaleToDpi(START_HEIGHT, dpi));
    }

    int PageTop() { return WindowRect(device).top; }

    // Away from 96 DPI the window takes its size once the page exists.
    void WaitForGrownWindow() {
        EXPECT_TRUE(WaitFor([&] { return Geometry(app.main)[3] != ScaleToDpi(START_HEIGHT, dpi); }, 3000))
            << "the window kept its start-up height";
    }

    // Wheel turns at a point until the page stops moving (or until done()
    // holds); false when a turn did not move it.
    bool WheelTurnMoves(POINT at, int delta) {
        const int before = PageTop();
        WheelAt(at, delta);
        return WaitFor([&] { return PageTop() != before; }, 1500);
    }
    void WheelToEnd(int delta) {
        for (int turn = 0; turn < 60 && WheelTurnMoves(Centre(Client()), delta); ++turn) {}
    }

    int dpi = BASE_DPI, em = 13;
    HFONT font = nullptr;
};

TEST_F(Layout, EveryPageFitsAtTheRigsScale) {
    for (const auto& g : kGrowth) {
        const int type = g.type;
        SCOPED_TRACE(PageKindName(PageOfType(type)));
        StopAll();
        StartReader(type, g.fault);
        Launch();
        const int startHeight = ScaleToDpi(START_HEIGHT, dpi);
        const RECT start = WindowRect(app.main);
        EXPECT_EQ(Geometry(app.main), (Box{start.left, (GetSystemMetrics(SM_CYSCREEN) - startHeight) / 2,
                                           ScaleToDpi(START_WIDTH, dpi), startHeight}));
        if (type == DEVICE_TYPE_DUAL_ANTENNA) {
            ExpectPageFits(page, Client());
            // The dialog base units of the template font, from the group box of 270 x 46 units.
            const RECT group = WindowRect(FindWindowExW(page, nullptr, L"Button", L"串口选择"));
            std::printf("[ layout ] %d DPI: dialog base units %.1f x %.1f\n", dpi,
                        (group.right - group.left) * 4.0 / 270, (group.bottom - group.top) * 8.0 / 46);
        }
        OpenAppPort();
        device = WaitPageOfKind(app.main, PageOfType(type), PAGE_TIMEOUT_MS);
        ASSERT_NE(device, nullptr);
        ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(Item(device, IDC_APPLY)) != FALSE; }, 3000));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a second reply re-initialises in place
        WaitForGrownWindow();
        EXPECT_EQ(FindMessageBox(app), nullptr);
        EXPECT_FALSE(IsWindow(page)) << "PortSelectPage still exists";
        EXPECT_EQ(Pages(app.main).size(), 1u);
        ASSERT_GE(FramesReceived(), 1);
        EXPECT_EQ(SimRunnerFrames(runner)[0].raw, (Bytes{'K', 'W', 'T', 'B', 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00}));

        const PageGrowth growth = GrowthOfShownPage(g.heightAdded, g.topMovedUp);
        const RECT work = WorkArea(app.main);
        const FrameFit fit = FitFrameToWorkArea(start.top - growth.topMovedUp, startHeight + growth.heightAdded, work.top,
                                                work.bottom, ScaleToDpi(DEVICE_PAGE_MIN_HEIGHT, dpi));
        const int width = ScaleToDpi(START_WIDTH, dpi) + (fit.scrolls ? GetSystemMetrics(SM_CXVSCROLL) : 0);
        EXPECT_EQ(Geometry(app.main), (Box{start.left, fit.top, width, fit.height}));
        EXPECT_TRUE(Inside(WindowRect(app.main), work)) << "window outside the work area";
        const RECT client = Client(), pageRect = WindowRect(device);
        if (dpi != BASE_DPI && !fit.scrolls) {
            EXPECT_EQ(client.bottom - client.top, pageRect.bottom - pageRect.top);
        }
        std::printf("[ layout ] %d DPI, type %d: window %d x %d, client %ld, page %ld%s\n", dpi, type, width, fit.height,
                    client.bottom - client.top, pageRect.bottom - pageRect.top, fit.scrolls ? ", scrolls" : "");
        ExpectPageFits(device, fit.scrolls ? pageRect : client);
        if (type == DEVICE_TYPE_DUAL_ANTENNA) {
            SetFault("none");  // an acknowledgement split as slowly would be dropped as a stalled header
            EXPECT_EQ(ApplyRecord(device), FactoryRecord(1).At(84, {4, 4, 4}).bytes);
        }
    }
}

// The type 1 page is the tallest. Skipped where its window fits the screen.
TEST_F(Layout, TooSmallAScreenScrollsThePage) {
    ShowReader(DEVICE_TYPE_DUAL_ANTENNA);
    ASSERT_NE(device, nullptr);
    WaitForGrownWindow();
    const RECT work = WorkArea(app.main);
    const PageGrowth growth = GrowthOfShownPage(541, 270);
    if (ScaleToDpi(START_HEIGHT, dpi) + growth.heightAdded <= work.bottom - work.top)
        GTEST_SKIP() << "the page's window fits this screen's work area";

    // The window takes the work area, from its top, with a scroll bar.
    const RECT window = WindowRect(app.main);
    std::printf("[ small screen ] %d x %d at %d DPI: work area %ld rows, window %ld x %ld (%d rows unscrolled)\n",
                GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), dpi, work.bottom - work.top,
                window.right - window.left, window.bottom - window.top,
                ScaleToDpi(START_HEIGHT, dpi) + growth.heightAdded);
    EXPECT_TRUE(Inside(window, work)) << "window outside the work area";
    EXPECT_EQ(window.top, work.top);
    EXPECT_EQ(window.bottom, work.bottom);
    EXPECT_TRUE(WaitFor([&] { return (GetWindowLongW(app.main, GWL_STYLE) & WS_VSCROLL) != 0; }, 3000))
        << "no scroll bar";
    const RECT pageRect = WindowRect(device);
    EXPECT_LE(pageRect.right, Client().right) << "the scroll bar covers the page";

    // The wheel over the page, down to its end: "应用" in view, the page's end at the client area's.
    WheelToEnd(-WHEEL_DELTA);
    EXPECT_TRUE(Inside(WindowRect(Item(device, IDC_APPLY)), Client())) << "应用 not in view";
    const int pageHeight = dpi == BASE_DPI ? ScaleToDpi(START_HEIGHT, dpi) + growth.heightAdded -
                                                 ((window.bottom - window.top) - (Client().bottom - Client().top))
                                           : pageRect.bottom - pageRect.top;
    EXPECT_EQ(PageTop() + pageHeight, Client().bottom) << "the page's end out of reach";

    // The wheel over the closed RS485 baud box, over its edit, over its
    // arrow and as Windows 7 delivers it (to the box with the focus): the
    // page scrolls back up, the box keeps 115200.
    const HWND baud = Item(device, IDC_RS485_BAUD);
    const int baudBefore = ComboSelection(baud);
    const RECT box = WindowRect(baud);
    ASSERT_TRUE(Inside(box, Client())) << "the baud box is out of view";
    EXPECT_TRUE(WheelTurnMoves({box.left + 4, (box.top + box.bottom) / 2}, WHEEL_DELTA)) << "over its edit";
    const RECT moved = WindowRect(baud);
    if (Inside(moved, Client()) && PageTop() < Client().top) {
        EXPECT_TRUE(WheelTurnMoves({moved.right - 4, (moved.top + moved.bottom) / 2}, WHEEL_DELTA)) << "over its arrow";
    }
    SendTo(baud, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), MAKELPARAM(moved.left + 4, moved.top + 4));
    EXPECT_EQ(ComboSelection(baud), baudBefore) << "the wheel changed the baud box";

    // A click on a partly shown field (the scroll bar leaving half of it
    // below the client area, or above it) brings it whole into view, where
    // the page scrolls far enough to cut one.
    const RECT client = Client();
    const int view = client.bottom - client.top, last = pageHeight - view;
    bool clicked = false;
    for (HWND c = GetWindow(device, GW_CHILD); c != nullptr && !clicked; c = GetWindow(c, GW_HWNDNEXT)) {
        wchar_t className[32] = L"";
        GetClassNameW(c, className, 32);
        const bool field = wcscmp(className, L"Edit") == 0 || wcscmp(className, L"SysIPAddress32") == 0 ||
                           wcscmp(className, L"ComboBox") == 0;
        if (!field || !IsWindowVisible(c) || !IsWindowEnabled(c)) continue;
        const RECT r = WindowRect(c);
        const int middle = (r.top + r.bottom) / 2 - PageTop();
        const int pos = middle - view >= 0 && middle - view <= last ? middle - view : middle <= last ? middle : -1;
        if (pos < 0) continue;
        PostMessageW(app.main, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, pos), 0);
        ASSERT_TRUE(WaitFor([&] { return PageTop() == client.top - pos; }, 3000)) << "the scroll bar did not move the page";
        const RECT cut = WindowRect(c);
        ASSERT_FALSE(Inside(cut, client));
        // In its first field (an address control's border takes no focus).
        LeftClickAt({cut.left + (cut.right - cut.left) / 8,
                     cut.top < client.top ? (client.top + cut.bottom) / 2 : (cut.top + client.bottom) / 2});
        EXPECT_TRUE(WaitFor([&] { return Inside(WindowRect(c), Client()); }, 3000))
            << "control " << GetDlgCtrlID(c) << " stays cut after a click";
        std::printf("[ small screen ] control %d, half shown, clicked: %s\n", GetDlgCtrlID(c),
                    Inside(WindowRect(c), Client()) ? "whole in view" : "still cut");
        clicked = true;
    }
    if (!clicked) std::printf("[ small screen ] the page scrolls too little to cut a field in half\n");

    // "应用", reached with the wheel and clicked with the mouse, writes the page's record.
    WheelToEnd(-WHEEL_DELTA);
    EXPECT_EQ(ApplyRecord(device, true), FactoryRecord(1).At(84, {4, 4, 4}).bytes);
}

}  // namespace
