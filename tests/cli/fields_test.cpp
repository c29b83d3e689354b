// The JSON documents and --set values, and how they reach the Apply
// chain: what the tool refuses before touching a reader, and what it
// writes for an unchanged document.
#include <gtest/gtest.h>

#include <cstring>

#include "cli/exit_codes.h"
#include "cli/fields.h"
#include "cli/text_codec.h"
#include "forms/page_form.h"
#include "forms/page_view.h"
#include "protocol/bytes.h"
#include "protocol/device_info.h"

namespace {

DeviceInfoStore StoreOfType(int type, uint8_t protocolVersion = 2) {
    DeviceInfoStore s;
    std::memset(&s, 0, sizeof s);
    s.deviceType = type;
    s.protocolVersion = protocolVersion;
    uint8_t* p = s.payload;
    std::memcpy(p, "V1.0", 4);
    p[DI_DEVICE_TYPE] = static_cast<uint8_t>(type);
    p[DI_CONNECT_MODE] = 1;
    std::memcpy(p + DI_DEVICE_NAME, "reader", 6);
    std::memcpy(p + DI_DEVICE_PASSWORD, "pw", 2);
    WriteU32BE(p + DI_PLATFORM_IP, 0xC0A8010A);
    WriteU16BE(p + DI_PLATFORM_PORT, 502);
    WriteU32BE(p + DI_IP_ADDRESS, 0x0A000005);
    WriteU32BE(p + DI_SUBNET_MASK, 0xFFFFFF00);
    WriteU32BE(p + DI_GATEWAY, 0x0A000001);
    p[DI_RS485_BAUD] = 1;
    p[DI_ANTENNA0_BAUD] = 2;
    p[DI_ANTENNA1_BAUD] = 4;
    if (type == DEVICE_TYPE_WIFI) {
        std::memcpy(p + DI_WIFI_SSID, "\xB0\xEC\xB9\xAB", 4);  // GBK 办公
        std::memcpy(p + DI_WIFI_PASSWORD, "phrase", 6);
        WriteU32BE(p + DI_WIFI_DEVICE_ID, 77);
    } else {
        WriteU32BE(p + DI_DEVICE_ID, 42);
    }
    s.payloadLength = type == DEVICE_TYPE_WIFI ? 174 : 110;
    return s;
}

InputError ParseError(const std::string& text) {
    Overlay overlay;
    InputError error;
    EXPECT_FALSE(ParseDocument(text, "doc.json", &overlay, &error)) << text;
    return error;
}

InputError SettingError(const std::string& assignment, int fileType = -1) {
    Overlay overlay;
    overlay.deviceType = fileType;
    InputError error;
    bool ok = ParseSetting(assignment, &overlay, &error) && CheckFieldsForType(overlay, fileType, &error);
    EXPECT_FALSE(ok) << assignment;
    return error;
}

const char* const HEAD = R"({"formatVersion": 1, "deviceType": 1, "fields": )";

}  // namespace

TEST(CliDocument, MalformedDocumentsAreRefusedAsBadInput) {
    struct Case {
        const char* text;
        const char* says;
    } cases[] = {
        {"", "not valid JSON"},
        {R"({"formatVersion": 1, "deviceType": 1, "fields": {"deviceName": "x")", "not valid JSON"},  // truncated
        {"[1, 2]", "expected a JSON object"},
        {R"({"deviceType": 1, "fields": {}})", "formatVersion"},
        {R"({"formatVersion": 2, "deviceType": 1, "fields": {}})", "not supported"},
        {R"({"formatVersion": 1, "deviceType": 9, "fields": {}})", "not a reader type"},
        {R"({"formatVersion": 1, "deviceType": "1", "fields": {}})", "deviceType"},
        {R"({"formatVersion": 1, "deviceType": 1})", "\"fields\""},
        {R"({"formatVersion": 1, "deviceType": 1, "fields": {}, "extra": 0})", "unknown key \"extra\""},
    };
    for (const Case& c : cases) {
        InputError e = ParseError(c.text);
        EXPECT_EQ(e.exitCode, EXIT_USAGE) << c.text;
        EXPECT_NE(e.message.find(c.says), std::string::npos) << c.text << " -> " << e.message;
        EXPECT_EQ(e.message.find('\n'), std::string::npos) << "one line: " << e.message;
    }
}

TEST(CliDocument, FieldsAreCheckedByNameKindAndRange) {
    struct Case {
        std::string fields;
        int exitCode;
        const char* says;
    } cases[] = {
        {R"({"deviceNmae": "x"})", EXIT_USAGE, "unknown field \"deviceNmae\""},
        {R"({"wifiSsid": "x"})", EXIT_USAGE, "has no field wifiSsid"},
        {R"({"platformPort": "502"})", EXIT_USAGE, "platformPort must be a port number"},
        {R"({"platformPort": 65536})", EXIT_REFUSED, "platformPort"},
        {R"({"platformPort": -1})", EXIT_REFUSED, "platformPort"},
        {R"({"ipAddress": "10.0.0"})", EXIT_USAGE, "ipAddress"},
        {R"({"ipAddress": "10.0.0.256"})", EXIT_USAGE, "ipAddress"},
        {R"({"ipAddress": 167772165})", EXIT_USAGE, "ipAddress"},
        {R"({"rs485Baud": 4})", EXIT_REFUSED, "9600"},
        {R"({"rs485Baud": "115200"})", EXIT_USAGE, "rs485Baud"},
        {R"({"dualAntennaMode": 1})", EXIT_USAGE, "true or false"},
        {R"({"connectMode": 2})", EXIT_REFUSED, "connectMode"},
        {R"({"deviceId": 2147483648})", EXIT_REFUSED, "deviceId"},
        {R"({"deviceId": 1.5})", EXIT_USAGE, "deviceId"},
        {R"({"deviceName": "123456789012345678901234567890"})", EXIT_REFUSED, "at most 29"},
        {R"({"deviceName": "名字名字名字名字名字名字名字名字"})", EXIT_REFUSED, "32 bytes in GBK"},
        {R"({"deviceName": "😀"})", EXIT_REFUSED, "cannot store"},
        {R"({"deviceName": {"hex": "41G"}})", EXIT_USAGE, "hex"},
        {R"({"deviceName": "a\u0000b"})", EXIT_REFUSED, "NUL"},
    };
    for (const Case& c : cases) {
        InputError e = ParseError(HEAD + c.fields + "}");
        EXPECT_EQ(e.exitCode, c.exitCode) << c.fields << " -> " << e.message;
        EXPECT_NE(e.message.find(c.says), std::string::npos) << c.fields << " -> " << e.message;
    }
}

TEST(CliDocument, SettingsAreCheckedLikeDocumentFields) {
    EXPECT_EQ(SettingError("deviceName").exitCode, EXIT_USAGE);
    EXPECT_EQ(SettingError("=x").exitCode, EXIT_USAGE);
    EXPECT_EQ(SettingError("nosuch=1").exitCode, EXIT_USAGE);
    EXPECT_EQ(SettingError("platformPort=502x").exitCode, EXIT_USAGE);
    EXPECT_EQ(SettingError("platformPort= 502").exitCode, EXIT_USAGE);
    EXPECT_EQ(SettingError("platformPort=99999").exitCode, EXIT_REFUSED);
    EXPECT_EQ(SettingError("dhcpEnabled=maybe").exitCode, EXIT_USAGE);
    EXPECT_EQ(SettingError("antenna0Baud=1200").exitCode, EXIT_REFUSED);
    // Against the file's type at once, before any reader is asked.
    EXPECT_EQ(SettingError("rs485Baud=9600", DEVICE_TYPE_SINGLE_ANTENNA).exitCode, EXIT_USAGE);

    Overlay overlay;
    InputError error;
    ASSERT_TRUE(ParseSetting("deviceName=门禁A", &overlay, &error)) << error.message;
    ASSERT_TRUE(ParseSetting("deviceId=-2147483648", &overlay, &error)) << error.message;
    ASSERT_TRUE(ParseSetting("ipAddress=", &overlay, &error)) << error.message;
    EXPECT_EQ(overlay.values[F_DEVICE_NAME].text, "\xC3\xC5\xBD\xFB" "A");
    EXPECT_EQ(overlay.values[F_DEVICE_ID].number, INT32_MIN);
    EXPECT_TRUE(overlay.values[F_IP_ADDRESS].addressBlank);
}

// An exported document applied unchanged writes what an unchanged Apply
// on the page writes: the same form, for every type and both modes.
TEST(CliDocument, UnchangedDocumentWritesThePagesRecord) {
    for (int type : {DEVICE_TYPE_BASIC, DEVICE_TYPE_DUAL_ANTENNA, DEVICE_TYPE_SINGLE_ANTENNA, DEVICE_TYPE_WIFI}) {
        for (uint8_t mode : {0, 1}) {
            DeviceInfoStore store = StoreOfType(type);
            store.payload[DI_CONNECT_MODE] = mode;
            const PageView view = ViewForPage(type, store);

            Overlay overlay;
            InputError error;
            ASSERT_TRUE(ParseDocument(DocumentFromStore(store).dump(), "export", &overlay, &error))
                << type << ": " << error.message;
            const ApplyResult fromDocument = RunApplyChain(type, FormWithOverlay(type, view, overlay));
            const ApplyResult untouched = RunApplyChain(type, FormWithOverlay(type, view, Overlay()));
            ASSERT_TRUE(fromDocument.ok) << type << " " << fromDocument.message;
            EXPECT_EQ(fromDocument.record, untouched.record) << "type " << type << " mode " << int(mode);
            EXPECT_TRUE(VerifyWritten(type, fromDocument.record, store).empty())
                << "type " << type;
        }
    }
}

TEST(CliDocument, ExportKeepsTheTypesFieldsAndTheirKinds) {
    DeviceInfoStore store = StoreOfType(DEVICE_TYPE_WIFI);
    store.payload[DI_ANTENNA1_BAUD] = 9;  // no selection on the page
    const auto fields = FieldsFromStore(store);
    EXPECT_EQ(fields["wifiSsid"], "办公");
    EXPECT_EQ(fields["platformIp"], "192.168.1.10");
    EXPECT_EQ(fields["antenna0Baud"], 38400);
    EXPECT_TRUE(fields["antenna1Baud"].is_null());
    EXPECT_EQ(fields["deviceId"], 77);
    EXPECT_FALSE(fields.contains("rs485Baud"));

    // Bytes that are no GBK text survive as hex and are read back as such.
    std::memcpy(store.payload + DI_DEVICE_NAME, "\x81\x20", 3);
    const auto doc = DocumentFromStore(store);
    EXPECT_EQ(doc["fields"]["deviceName"]["hex"], "8120");
    Overlay overlay;
    InputError error;
    ASSERT_TRUE(ParseDocument(doc.dump(), "export", &overlay, &error)) << error.message;
    EXPECT_EQ(overlay.values[F_DEVICE_NAME].text, "\x81\x20");
}

TEST(CliDocument, ProtocolVersionOneShowsDeviceIdZeroUntilTheModeIsSwitched) {
    DeviceInfoStore store = StoreOfType(DEVICE_TYPE_DUAL_ANTENNA, 1);
    store.payload[DI_CONNECT_MODE] = 0;
    EXPECT_EQ(FieldsFromStore(store)["deviceId"], 0);
    const PageView view = ViewForPage(DEVICE_TYPE_DUAL_ANTENNA, store);
    EXPECT_EQ(FormWithOverlay(DEVICE_TYPE_DUAL_ANTENNA, view, Overlay()).nameOrId, "0");

    // From mode 1 a switch to mode 0 shows the stored bytes, as the page does.
    store.payload[DI_CONNECT_MODE] = 1;
    Overlay overlay;
    InputError error;
    ASSERT_TRUE(ParseSetting("connectMode=0", &overlay, &error));
    const PageView view1 = ViewForPage(DEVICE_TYPE_DUAL_ANTENNA, store);
    EXPECT_EQ(FormWithOverlay(DEVICE_TYPE_DUAL_ANTENNA, view1, overlay).nameOrId, "42");
}

TEST(CliDocument, ChecksTheToolAddsAfterThePagesChain) {
    DeviceInfoStore store = StoreOfType(DEVICE_TYPE_DUAL_ANTENNA);
    store.payload[DI_RS485_BAUD] = 9;
    const PageView view = ViewForPage(DEVICE_TYPE_DUAL_ANTENNA, store);
    PageForm form = FormWithOverlay(DEVICE_TYPE_DUAL_ANTENNA, view, Overlay());
    // The page would send 255; the tool asks for a rate instead.
    ASSERT_TRUE(RunApplyChain(DEVICE_TYPE_DUAL_ANTENNA, form).ok);
    EXPECT_NE(MissingSelection(DEVICE_TYPE_DUAL_ANTENNA, form).find("rs485Baud"), std::string::npos);

    Overlay overlay;
    InputError error;
    ASSERT_TRUE(ParseSetting("rs485Baud=9600", &overlay, &error));
    ASSERT_TRUE(ParseSetting("connectMode=0", &overlay, &error));
    ASSERT_TRUE(ParseSetting("deviceName=ignored", &overlay, &error));
    form = FormWithOverlay(DEVICE_TYPE_DUAL_ANTENNA, view, overlay);
    EXPECT_EQ(MissingSelection(DEVICE_TYPE_DUAL_ANTENNA, form), "");
    EXPECT_NE(IgnoredSetting(DEVICE_TYPE_DUAL_ANTENNA, form, overlay).find("connectMode=1"), std::string::npos);

    // A document's hidden fields are passed over, as on the page.
    Overlay fromFile;
    ASSERT_TRUE(ParseDocument(std::string(HEAD) + R"({"connectMode": 0, "deviceName": "x"}})", "f", &fromFile, &error));
    EXPECT_EQ(IgnoredSetting(DEVICE_TYPE_DUAL_ANTENNA,
                             FormWithOverlay(DEVICE_TYPE_DUAL_ANTENNA, view, fromFile), fromFile),
              "");
}

TEST(CliDocument, VerificationComparesWhatThePageShowsForTheWrittenMode) {
    DeviceInfoStore store = StoreOfType(DEVICE_TYPE_WIFI);
    PageForm form = FormWithOverlay(DEVICE_TYPE_WIFI, ViewForPage(DEVICE_TYPE_WIFI, store), Overlay());
    form.dhcp = true;
    form.connectModeSelection = 0;
    form.nameOrId = "77";
    ApplyResult written = RunApplyChain(DEVICE_TYPE_WIFI, form);
    ASSERT_TRUE(written.ok);

    // What a reader on DHCP reports: its leased address, the stand-in
    // name of mode 0, and everything else as written.
    DeviceInfoStore after = store;
    after.payload[DI_CONNECT_MODE] = 0;
    after.payload[DI_DHCP_ENABLED] = 1;
    std::memcpy(after.payload + DI_DEVICE_NAME, "admin\0", 6);
    EXPECT_TRUE(VerifyWritten(DEVICE_TYPE_WIFI, written.record, after).empty());

    WriteU32BE(after.payload + DI_WIFI_DEVICE_ID, 78);
    after.payload[DI_ANTENNA0_BAUD] = 3;
    const auto differences = VerifyWritten(DEVICE_TYPE_WIFI, written.record, after);
    ASSERT_EQ(differences.size(), 2u);
    EXPECT_EQ(differences[0], "antenna0Baud: wrote 38400, the reader reports 57600");
    EXPECT_EQ(differences[1], "deviceId: wrote 77, the reader reports 78");

    after.deviceType = DEVICE_TYPE_BASIC;
    EXPECT_NE(VerifyWritten(DEVICE_TYPE_WIFI, written.record, after)[0].find("type 52"), std::string::npos);
}

TEST(CliText, GbkConversionRefusesWhatItCannotCarry) {
    std::string gbk, utf8;
    ASSERT_TRUE(Utf8ToGbk("办公室WiFi", &gbk));
    EXPECT_EQ(gbk, "\xB0\xEC\xB9\xAB\xCA\xD2WiFi");
    ASSERT_TRUE(GbkToUtf8(gbk, &utf8));
    EXPECT_EQ(utf8, "办公室WiFi");
    EXPECT_FALSE(Utf8ToGbk("\xF0\x9F\x98\x80", &gbk));  // no GBK code
    EXPECT_FALSE(Utf8ToGbk("\xC3", &gbk));              // broken UTF-8
    EXPECT_FALSE(GbkToUtf8("\xB0", &utf8));             // lead byte without its trail
    EXPECT_EQ(GbkForDisplay("\xFF\x01"), "hex:FF01");
}
