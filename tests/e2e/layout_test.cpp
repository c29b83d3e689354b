// The five pages at the rig's display scale (100 % in the suite; 150 % and
// 200 % through at_scales.sh): every label, check box and button text fits
// its control on one line, every control lies inside MainWindow's client
// area, the window follows the scaled table about its centre and stays in
// the work area; each type's reader is identified by one query on its own
// page, its reply delivered awkwardly, and a type 1 reader is written
// byte-exact.
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
constexpr int START_WIDTH = 582, START_HEIGHT = 190;
const struct { int type, heightAdded, topMovedUp; const char* fault; } kGrowth[] = {
    {DEVICE_TYPE_DUAL_ANTENNA, 541, 270, "split:4,20"}, {DEVICE_TYPE_SINGLE_ANTENNA, 402, 201, "garbage:7,100"},
    {DEVICE_TYPE_WIFI, 521, 260, "double"}, {DEVICE_TYPE_BASIC, 298, 149, "never-complete:800"}};

const wchar_t FULL_WIDTH_COLON = L'\xFF1A';

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

    void ExpectPageFits(HWND shown) {
        RECT client;
        GetClientRect(app.main, &client);
        MapWindowPoints(app.main, nullptr, reinterpret_cast<POINT*>(&client), 2);
        for (HWND c = GetWindow(shown, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
            const RECT r = WindowRect(c);
            const int id = GetDlgCtrlID(c);
            EXPECT_TRUE(r.left >= client.left && r.top >= client.top && r.right <= client.right &&
                        r.bottom <= client.bottom) << "control " << id << " outside the window";
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
            ExpectPageFits(page);
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
        EXPECT_EQ(FindMessageBox(app), nullptr);
        EXPECT_FALSE(IsWindow(page)) << "PortSelectPage still exists";
        EXPECT_EQ(Pages(app.main).size(), 1u);
        ASSERT_GE(FramesReceived(), 1);
        EXPECT_EQ(SimRunnerFrames(runner)[0].raw, (Bytes{'K', 'W', 'T', 'B', 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00}));
        const PageGrowth growth = {ScaleToDpi(g.heightAdded, dpi), ScaleToDpi(g.topMovedUp, dpi)};
        RECT work;
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        const int height = startHeight + growth.heightAdded;
        const int top = KeepTopInWorkArea(start.top - growth.topMovedUp, height, work.top, work.bottom);
        EXPECT_EQ(Geometry(app.main), (Box{start.left, top, ScaleToDpi(START_WIDTH, dpi), height}));
        ExpectPageFits(device);
        if (type == DEVICE_TYPE_DUAL_ANTENNA) {
            SetFault("none");  // an acknowledgement split as slowly would be dropped as a stalled header
            EXPECT_EQ(ApplyRecord(device), FactoryRecord(1).At(84, {4, 4, 4}).bytes);
        }
    }
}

}  // namespace
