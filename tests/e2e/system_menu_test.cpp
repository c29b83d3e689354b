// MainWindow's system menu and the page replacement: the communication
// log, export and import of a device page's settings, About, and readers
// of different types one after another on the same port.
#include "document/fields.h"
#include "e2e_fixture.h"
#include "protocol/reply.h"
#include "tav_version.h"

namespace {

const wchar_t* const WRONG_TYPE_TEXT = L"配置文件的设备类型与当前读卡器不一致";
const wchar_t* const UNREADABLE_TEXT = L"配置文件无法读取：";

class SystemMenu : public ReaderTest {
protected:
    // The reader's store as the program keeps it after its reply.
    DeviceInfoStore ReaderStore() {
        SimReader reader;
        SimRunnerUpdate(runner, [&](SimReader* r) { reader = *r; });
        const std::vector<uint8_t> frame = SimInfoReplyFrame(&reader);
        DeviceInfoStore store = {};
        StoreInfoReply(&store, frame.data(), frame.size(), 0);
        return store;
    }
    // What Apply writes on the page of the reader's type showing overlay over its values.
    std::vector<uint8_t> ExpectedRecord(const Overlay& overlay = Overlay()) {
        const DeviceInfoStore store = ReaderStore();
        return RunApplyChain(store.deviceType, FormWithOverlay(store.deviceType, ViewForPage(store.deviceType, store), overlay))
            .record;
    }
    // The log's text as "复制" puts it on the clipboard.
    std::wstring CopiedLog() {
        HWND log = WaitTopWindow(app, L"TavrolinCommLog", 3000);
        if (log == nullptr) return L"";
        SendTo(Item(log, IDC_LOG_COPY), BM_CLICK);
        return ClipboardText();
    }
    // A file dialog from a menu command, answered with path.
    bool FileCommand(UINT command, const std::wstring& path, std::wstring* offered = nullptr) {
        SystemCommand(app, command);
        HWND dialog = WaitFileDialog(app, 5000);
        if (dialog == nullptr) return false;
        if (offered != nullptr) *offered = FileDialogName(dialog);
        return ChooseFile(dialog, path);
    }
};


// A reader of another type on the same port replaces the page, the window
// takes that type's height about its centre, and each Apply writes the
// record of its own layout; the program keeps running.
TEST_F(SystemMenu, ReadersOfOtherTypesReplaceThePage) {
    ASSERT_NO_FATAL_FAILURE(ShowReader(DEVICE_TYPE_BASIC));
    const int left = WindowRect(app.main).left, startTop = (GetSystemMetrics(SM_CYSCREEN) - 190) / 2;
    const struct { int type, heightAdded; } chain[] = {
        {DEVICE_TYPE_BASIC, 298}, {DEVICE_TYPE_DUAL_ANTENNA, 541}, {DEVICE_TYPE_WIFI, 521}, {DEVICE_TYPE_BASIC, 298}};
    for (const auto& step : chain) {
        SCOPED_TRACE(PageKindName(PageOfType(step.type)));
        if (&step != chain) {
            SimRunnerUpdate(runner, [&](SimReader* r) { SimInit(r, step.type); });
            ASSERT_TRUE(PressPortButton(device, OPEN_PORT_TEXT));
            Click(Item(device, IDC_PORT_BUTTON));
            device = WaitPageOfKind(app.main, PageOfType(step.type), PAGE_TIMEOUT_MS, device);  // replaced
            ASSERT_NE(device, nullptr);
            ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(Item(device, IDC_APPLY)) != FALSE; }, 3000));
        }
        EXPECT_EQ(Pages(app.main).size(), 1u);
        EXPECT_EQ(Geometry(app.main), (Box{left, startTop - step.heightAdded / 2, 582, 190 + step.heightAdded}));
        const std::vector<uint8_t> expected = ExpectedRecord();  // the reader's values before the write
        EXPECT_EQ(ApplyRecord(device), expected);
        EXPECT_TRUE(AppRunning(app));
    }
}

// The log holds the exchange, garbage and a damaged reply; export writes
// tavrolin-cli's document; import fills the page, refuses a document of
// another type and a broken file, and Apply then writes its record.
TEST_F(SystemMenu, LogExportImportAndAbout) {
    ASSERT_NO_FATAL_FAILURE(ShowReader(DEVICE_TYPE_WIFI, {}, "garbage:7,100"));
    SystemCommand(app, IDM_COMM_LOG);
    ASSERT_NE(WaitTopWindow(app, L"TavrolinCommLog", 5000), nullptr);
    // A damaged reply is ignored: the page times out and closes the port.
    SetFault("bad-crc");
    ASSERT_TRUE(PressPortButton(device, OPEN_PORT_TEXT));
    ASSERT_TRUE(PressPortButton(device, CLOSE_PORT_TEXT));
    EXPECT_EQ(AnswerMessageBox(app, REPLY_WAIT_MS), TIMEOUT_TEXT);
    ASSERT_TRUE(ButtonReads(device, OPEN_PORT_TEXT, 5000));
    std::wstring log;
    EXPECT_TRUE(WaitFor([&] { return (log = CopiedLog()).find(L"等待应答超时") != std::wstring::npos; }, 3000)) << Narrow(log);
    EXPECT_NE(log.find(L" CRC 错误 4B 57 54 42 02 02 "), std::wstring::npos);
    EXPECT_NE(log.find(L" 发送 CMD_QUERY_INFO 长度 0 CRC 正确 4B 57 54 42 00 01 B0 01 00 00\r\n"), std::wstring::npos) << Narrow(log);
    EXPECT_NE(log.find(L" 丢弃 7 字节\r\n"), std::wstring::npos);
    const std::wstring reply = L" 接收 CMD_INFO_REPLY 长度 " + std::to_wstring(ReaderStore().payloadLength) + L" CRC 正确 4B 57 54 42 02 02 ";
    EXPECT_NE(log.find(reply), std::wstring::npos);
    EXPECT_NE(log.find(Widen(appPort) + L" 串口已打开"), std::wstring::npos);
    SetFault("none");
    ASSERT_TRUE(PressPortButton(device, CLOSE_PORT_TEXT));
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(Item(device, IDC_APPLY)) != FALSE; }, 3000));

    // Export of the shown reader equals tavrolin-cli's export of it.
    const std::wstring exported = TempPath(L"tav-e2e-page.json"), cliExported = TempPath(L"tav-e2e-cli.json");
    DeleteFileW(exported.c_str());
    std::wstring offered;
    ASSERT_TRUE(FileCommand(IDM_EXPORT_SETTINGS, exported, &offered));
    EXPECT_EQ(offered, Widen(SuggestedFileName(DocumentFromStore(ReaderStore()))));
    ASSERT_TRUE(PressPortButton(device, OPEN_PORT_TEXT));
    ASSERT_EQ(RunToEnd(CliLine(L"export --port " + Widen(appPort) + L" -o \"" + cliExported + L"\""), 20000), 0);
    EXPECT_EQ(ReadFileText(exported), ReadFileText(cliExported));
    ASSERT_TRUE(PressPortButton(device, CLOSE_PORT_TEXT));
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(Item(device, IDC_APPLY)) != FALSE; }, 3000));

    // Refused documents leave the controls as they were.
    auto controls = [&] {
        std::vector<std::wstring> texts;
        for (int id = IDC_VERSION; id <= IDC_RS485_BAUD; ++id) texts.push_back(ItemText(device, id));
        texts.push_back(std::to_wstring(ComboSelection(Item(device, IDC_CONNECT_MODE))) + (Ticked(device, IDC_DHCP) ? L"d" : L""));
        return texts;
    };
    const std::vector<std::wstring> before = controls();
    SimRunnerClearFrames(runner);
    const std::wstring imported = TempPath(L"tav-e2e-import.json");
    const struct { const char* document; const wchar_t* message; const wchar_t* detail; } refused[] = {
        {R"({"formatVersion": 1, "deviceType": 52, "fields": {"deviceName": "x"}})", WRONG_TYPE_TEXT, L""},
        {"{\"formatVersion\": 1,\n  \"deviceType\": 3,", UNREADABLE_TEXT, L"line 2, column"},
    };
    for (const auto& r : refused) {
        std::ofstream(Narrow(imported), std::ios::binary) << r.document;
        ASSERT_TRUE(FileCommand(IDM_IMPORT_SETTINGS, imported));
        const std::wstring message = AnswerMessageBox(app, 3000);
        WaitForWindowThread(device);
        EXPECT_EQ(message.rfind(r.message, 0), 0u) << Narrow(message);
        EXPECT_NE(message.find(r.detail), std::wstring::npos) << Narrow(message);
        EXPECT_EQ(controls(), before);
    }

    // A document that switches the mode and DHCP, as the user would.
    const std::string document =
        R"({"formatVersion": 1, "deviceType": 3, "fields": {"connectMode": 0, "deviceId": 4321,)"
        R"( "dhcpEnabled": true, "wifiSsid": "车间", "antenna1Baud": 9600, "dualAntennaMode": true}})";
    std::ofstream(Narrow(imported), std::ios::binary) << document;
    ASSERT_TRUE(FileCommand(IDM_IMPORT_SETTINGS, imported));
    EXPECT_TRUE(WaitFor([&] { return ItemText(device, IDC_NAME_OR_ID) == L"4321"; }, 3000));
    EXPECT_EQ(ItemText(device, IDC_WIFI_SSID), L"车间");
    EXPECT_TRUE(Ticked(device, IDC_DHCP) && Ticked(device, IDC_DUAL_ANTENNA));
    EXPECT_FALSE(IsWindowVisible(Item(device, IDC_PLATFORM_IP)));
    EXPECT_EQ(ItemText(device, IDC_WIFI_PASSWORD), L"wifipass123") << "absent fields keep their controls";
    EXPECT_EQ(FramesReceived(), 0) << "nothing is sent before Apply";
    Overlay overlay;
    InputError error;
    ASSERT_TRUE(ParseDocument(document, "import", &overlay, &error)) << error.message;
    const std::vector<uint8_t> expected = ExpectedRecord(overlay);  // before the write changes the reader
    EXPECT_EQ(ApplyRecord(device), expected);

    SystemCommand(app, IDM_ABOUT);
    const std::wstring about = AnswerMessageBox(app, 3000);
    EXPECT_NE(about.find(L"Tavrolin"), std::wstring::npos);
    EXPECT_NE(about.find(Widen(TAV_VERSION_TEXT)), std::wstring::npos) << Narrow(about);
    EXPECT_NE(about.find(Widen(TAV_BUILD_DATE)), std::wstring::npos);
    EXPECT_TRUE(AppRunning(app));
}

}  // namespace
