// The JSON documents and --set values, and how they reach the Apply chain:
// what the tool refuses before touching a reader, and what it writes.
#include <gtest/gtest.h>

#include <cstring>

#include "document/fields.h"
#include "document/reader_record.h"
#include "tests/forms/form_helpers.h"

namespace {

const std::string HEAD = R"({"formatVersion": 1, "deviceType": 1, "fields": )";

Overlay Settings(std::initializer_list<const char*> sets) {
    Overlay overlay;
    InputError error;
    for (const char* s : sets) EXPECT_TRUE(ParseSetting(s, &overlay, &error)) << s << ": " << error.message;
    return overlay;
}

TEST(Document, BadDocumentsAreRefusedWithTheirExitCodeOnOneLine) {
    const struct { std::string text; int exitCode; const char* says; } cases[] = {
        {"", INPUT_MALFORMED, "not valid JSON"},
        {HEAD + R"({"deviceName": "x")", INPUT_MALFORMED, "not valid JSON"},
        {HEAD + R"({"platformPort": 1E400}})", INPUT_MALFORMED, "at line 1, column 66: number overflow"},
        {R"({"formatVersion": 1, "deviceType": 9, "fields": {}})", INPUT_MALFORMED, "not a reader type"},
        {HEAD + R"({"deviceNmae": "x"}})", INPUT_MALFORMED, "unknown field \"deviceNmae\""},
        {HEAD + R"({"wifiSsid": "x"}})", INPUT_MALFORMED, "has no field wifiSsid"},
        {HEAD + R"({"platformPort": "502"}})", INPUT_MALFORMED, "platformPort must be a port number"},
        {HEAD + R"({"platformPort": 65536}})", INPUT_REFUSED, "platformPort"},
        {HEAD + R"({"deviceName": "名字名字名字名字名字名字名字名字"}})", INPUT_REFUSED, "32 bytes in GBK"},
        {HEAD + R"({"deviceName": "😀"}})", INPUT_REFUSED, "cannot store"},
        {HEAD + R"({"deviceName": "a\u0000b"}})", INPUT_REFUSED, "NUL"},
    };
    for (const auto& c : cases) {
        Overlay overlay;
        InputError e;
        EXPECT_FALSE(ParseDocument(c.text, "doc.json", &overlay, &e)) << c.text;
        EXPECT_EQ(e.exitCode, c.exitCode) << c.text << " -> " << e.message;
        EXPECT_NE(e.message.find(c.says), std::string::npos) << c.text << " -> " << e.message;
    }
}

TEST(Document, SettingsAreCheckedLikeDocumentFields) {
    const struct { const char* assignment; int fileType; int exitCode; } cases[] = {
        {"deviceName", -1, INPUT_MALFORMED},        {"nosuch=1", -1, INPUT_MALFORMED},
        {"platformPort= 502", -1, INPUT_MALFORMED}, {"antenna0Baud=1200", -1, INPUT_REFUSED},
        {"rs485Baud=9600", DEVICE_TYPE_SINGLE_ANTENNA, INPUT_MALFORMED},  // against the file's type at once
    };
    for (const auto& c : cases) {
        Overlay overlay;
        overlay.deviceType = c.fileType;
        InputError error;
        EXPECT_FALSE(ParseSetting(c.assignment, &overlay, &error) && CheckFieldsForType(overlay, c.fileType, &error))
            << c.assignment;
        EXPECT_EQ(error.exitCode, c.exitCode) << c.assignment;
    }
}

// The page's export takes what the controls show; what they do not show
// stays the reader's.
TEST(Document, PageExportTakesTheShownFieldsFromTheRecord) {
    DeviceInfoStore store = StoreFor(DEVICE_TYPE_WIFI, 1);
    store.payload[DI_DHCP_ENABLED] = 1;
    PageForm form = FormWithOverlay(3, ViewForPage(3, store), Settings({"connectMode=0", "deviceId=-5"}));
    form.wifiSsid = "\xc9\xcf\xba\xa3";  // "上海" in GBK
    const ApplyResult written = RunApplyChain(3, form);
    ASSERT_TRUE(written.ok) << written.message;
    const auto doc = DocumentFromRecord(store, written.record);
    const auto reader = DocumentFromStore(store);
    EXPECT_EQ(doc["fields"]["connectMode"], 0);
    EXPECT_EQ(doc["fields"]["deviceId"], -5);
    EXPECT_EQ(doc["fields"]["wifiSsid"], "上海");
    for (const char* kept : {"deviceName", "platformIp", "subnetMask", "gateway"})
        EXPECT_EQ(doc["fields"][kept], reader["fields"][kept]) << kept;

    const struct { const char* document; const char* name; } names[] = {
        {R"({"deviceType": 52, "fields": {"deviceName": "门禁/21", "ipAddress": "10.0.7.21"}})", "门禁_21_10.0.7.21.json"},
        {R"({"deviceType": 1, "fields": {"deviceName": {"hex": "81"}, "ipAddress": "10.0.0.1"}})", "type1_10.0.0.1.json"},
        {R"({"deviceType": 3, "fields": {"deviceName": "a:b?. "}})", "a_b_.json"},
    };
    for (const auto& n : names) EXPECT_EQ(SuggestedFileName(nlohmann::ordered_json::parse(n.document)), n.name);
}

TEST(Document, ExportKeepsTheTypesFieldsAndTheirKinds) {
    DeviceInfoStore store = StoreFor(DEVICE_TYPE_WIFI);
    store.payload[DI_ANTENNA1_BAUD] = 9;  // no selection on the page
    const auto fields = FieldsFromStore(store);
    EXPECT_EQ(fields["wifiSsid"], "办公");
    EXPECT_EQ(fields["antenna0Baud"], 38400);
    EXPECT_TRUE(fields["antenna1Baud"].is_null());
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

TEST(Document, DeviceIdAndModeFollowThePage) {
    // Protocol version 1 shows device ID 0 until the mode is switched.
    DeviceInfoStore store = StoreFor(DEVICE_TYPE_DUAL_ANTENNA, 1);
    store.payload[DI_CONNECT_MODE] = 0;
    EXPECT_EQ(FieldsFromStore(store)["deviceId"], 0);
    EXPECT_EQ(FormWithOverlay(1, ViewForPage(1, store), Overlay()).nameOrId, "0");
    store.payload[DI_CONNECT_MODE] = 1;
    EXPECT_EQ(FormWithOverlay(1, ViewForPage(1, store), Settings({"connectMode=0"})).nameOrId, "42");

    // The page would send 255 for a missing rate; the tool asks for one.
    store.payload[DI_RS485_BAUD] = 9;
    const PageView view = ViewForPage(DEVICE_TYPE_DUAL_ANTENNA, store);
    PageForm form = FormWithOverlay(1, view, Overlay());
    ASSERT_TRUE(RunApplyChain(1, form).ok);
    EXPECT_NE(MissingSelection(1, form).find("rs485Baud"), std::string::npos);
    // A setting the chosen mode hides is reported from the command line.
    const Overlay overlay = Settings({"rs485Baud=9600", "connectMode=0", "deviceName=ignored"});
    form = FormWithOverlay(1, view, overlay);
    EXPECT_EQ(MissingSelection(1, form), "");
    EXPECT_NE(IgnoredSetting(1, form, overlay).find("connectMode=1"), std::string::npos);
}

TEST(Document, VerificationComparesWhatThePageShowsForTheWrittenMode) {
    const DeviceInfoStore store = StoreFor(DEVICE_TYPE_WIFI);
    PageForm form = FormWithOverlay(3, ViewForPage(3, store), Overlay());
    form.dhcp = true;
    form.connectModeSelection = 0;
    form.nameOrId = "77";
    const ApplyResult written = RunApplyChain(3, form);
    ASSERT_TRUE(written.ok);
    // A reader on DHCP reports its leased address and mode 0's stand-in name.
    DeviceInfoStore after = store;
    after.payload[DI_CONNECT_MODE] = 0;
    after.payload[DI_DHCP_ENABLED] = 1;
    std::memcpy(after.payload + DI_DEVICE_NAME, "admin\0", 6);
    EXPECT_TRUE(VerifyWritten(3, written.record, after).empty());

    WriteU32BE(after.payload + DI_WIFI_DEVICE_ID, 78);
    EXPECT_EQ(VerifyWritten(3, written.record, after), std::vector<std::string>{"deviceId: wrote 77, the reader reports 78"});
}

// Values no network can use are refused from --set and documents alike,
// doubtful ones warned about, with what the answering reader adds (its
// mask, its mode); which values are refused: the plan's table.
TEST(Document, NetworkValuesNoNetworkCanUseAreRefusedOthersWarned) {
    const DeviceInfoStore basic = StoreFor(DEVICE_TYPE_BASIC);  // 10.0.0.5/24, gateway 10.0.0.1, platform 192.168.1.10
    const struct { std::initializer_list<const char*> sets; const char* refusal; std::vector<NetworkWarningKind> warnings; } cases[] = {
        {{"ipAddress=10.0.0.0"}, "ipAddress 10.0.0.0 is the network address of its subnet 10.0.0.0/24", {}},
        {{"ipAddress=10.0.0.3", "subnetMask=255.255.255.252"}, "ipAddress 10.0.0.3 is the broadcast address of its subnet 10.0.0.0/30", {}},
        {{"platformPort=0"}, "platformPort 0: no platform listens on port 0", {}},
        {{"ipAddress=10.0.0.4", "subnetMask=255.255.255.254", "gateway=0.0.0.0"}, "", {NET_PLATFORM_UNREACHABLE}},  // a /31 has no broadcast
        {{"gateway=10.9.9.9"}, "", {NET_GATEWAY_OUTSIDE}},
        {{"ipAddress=172.16.0.5"}, "", {NET_GATEWAY_KEPT}},
        {{"ipAddress=192.168.1.10", "subnetMask=255.255.255.0", "gateway=192.168.1.1"}, "", {NET_SAME_AS_PLATFORM}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(*c.sets.begin());
        const ReaderRecord r = RecordForReader(Settings(c.sets), "doc.json", basic);
        EXPECT_EQ(r.exitCode, *c.refusal ? INPUT_REFUSED : 0) << r.message;
        EXPECT_EQ(r.message.substr(0, std::strlen(c.refusal)), c.refusal);
        std::vector<NetworkWarningKind> kinds;
        for (const NetworkWarning& w : r.warnings) kinds.push_back(w.kind);
        EXPECT_EQ(kinds, c.warnings);
    }
    // A document of a reader in mode 0 carries no platform: its port 0 is no refusal.
    Overlay mode0;
    InputError error;
    ASSERT_TRUE(ParseDocument(HEAD + R"({"connectMode": 0, "platformPort": 0, "deviceId": 7}})", "doc.json", &mode0, &error));
    EXPECT_EQ(RecordForReader(mode0, "doc.json", StoreFor(DEVICE_TYPE_DUAL_ANTENNA)).exitCode, 0);
}

// Secrets are kept out of what is logged or said: the document, the
// record's hex, a verification's message.
TEST(Document, SecretsAreMarkedNotShown) {
    const DeviceInfoStore wifi = StoreFor(DEVICE_TYPE_WIFI);
    const auto doc = RedactSecrets(DocumentFromStore(wifi));
    EXPECT_TRUE(IsSecretMarker(doc["fields"]["devicePassword"]) && IsSecretMarker(doc["fields"]["wifiPassword"]));
    EXPECT_EQ(doc["fields"]["wifiSsid"], "办公");
    const ApplyResult written = RunApplyChain(3, FormWithOverlay(3, ViewForPage(3, wifi), Settings({"wifiPassword=new one"})));
    ASSERT_TRUE(written.ok) << written.message;
    const std::string hex = RecordHex(3, written.record, true);
    EXPECT_EQ(std::count(hex.begin(), hex.end(), '*'), 2 * 64);
    EXPECT_EQ(hex.find("6E6577206F6E65"), std::string::npos);  // "new one"
    std::vector<uint8_t> back;
    bool masked = false;
    ASSERT_TRUE(RecordFromHex(hex, &back, &masked));
    EXPECT_TRUE(masked);
    EXPECT_EQ(VerifyWritten(3, written.record, wifi),
              std::vector<std::string>{"wifiPassword: the reader reports another value than written (not shown)"});
    EXPECT_TRUE(VerifyWritten(3, back, wifi, false).empty());  // the masked copy compares the rest
}

}  // namespace
