// What each device page shows for the stored information reply.
#include "forms/page_view.h"

#include <cstdio>

const char* const BAUD_LIST[BAUD_LIST_SIZE] = {"9600", "19200", "38400", "57600",
                                              "115200（默认）"};
const char* const CONNECT_MODE_LIST[CONNECT_MODE_LIST_SIZE] = {"等待平台连接（默认）",
                                                              "主动连接平台"};

namespace {

std::string Decimal(int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    return text;
}

std::string StoredText(const DeviceInfoStore& store, size_t offset) {
    return DeviceInfoText(store.payload, DEVICE_INFO_STORE_SIZE, offset);
}

}  // namespace

int BaudSelection(uint8_t storedIndex) {
    return storedIndex < BAUD_LIST_SIZE ? storedIndex : -1;
}

PageView ViewForPage(int deviceType, const DeviceInfoStore& store) {
    PageView v;
    const uint8_t* p = store.payload;

    // Common to every page.
    v.firmwareVersion = StoredText(store, DI_FIRMWARE_VERSION);
    v.ipAddress = DeviceInfoU32(p, DI_IP_ADDRESS);
    v.subnetMask = DeviceInfoU32(p, DI_SUBNET_MASK);
    v.gateway = DeviceInfoU32(p, DI_GATEWAY);
    v.deviceName = StoredText(store, DI_DEVICE_NAME);
    v.devicePassword = StoredText(store, DI_DEVICE_PASSWORD);
    v.platformIp = DeviceInfoU32(p, DI_PLATFORM_IP);
    v.platformPortText = Decimal(DeviceInfoU16(p, DI_PLATFORM_PORT));

    if (deviceType == DEVICE_TYPE_BASIC) {
        // No connection-mode choice: the platform controls always show.
        v.showPlatformControls = true;
        return v;
    }

    const uint8_t connectMode = DeviceInfoByte(p, DI_CONNECT_MODE);
    v.connectModeSelection = connectMode < CONNECT_MODE_LIST_SIZE ? connectMode : -1;
    v.showPlatformControls = connectMode != 0;

    switch (deviceType) {
    case DEVICE_TYPE_DUAL_ANTENNA:
    case DEVICE_TYPE_SINGLE_ANTENNA: {
        const int32_t id = static_cast<int32_t>(DeviceInfoU32(p, DI_DEVICE_ID));
        v.deviceIdOnSwitch = Decimal(id);
        // Records of protocol version 0 and 1 carry no device ID.
        v.deviceIdAtInit = store.protocolVersion >= 2 ? v.deviceIdOnSwitch : Decimal(0);
        v.baudSelection[BAUD_ANTENNA1] = BaudSelection(DeviceInfoByte(p, DI_ANTENNA1_BAUD));
        if (deviceType == DEVICE_TYPE_DUAL_ANTENNA) {
            v.baudSelection[BAUD_RS485] = BaudSelection(DeviceInfoByte(p, DI_RS485_BAUD));
            v.baudSelection[BAUD_ANTENNA0] = BaudSelection(DeviceInfoByte(p, DI_ANTENNA0_BAUD));
            v.dualAntenna = DeviceInfoByte(p, DI_DUAL_ANTENNA_MODE) != 0;
        }
        break;
    }
    case DEVICE_TYPE_WIFI: {
        v.deviceIdOnSwitch = Decimal(static_cast<int32_t>(DeviceInfoU32(p, DI_WIFI_DEVICE_ID)));
        v.deviceIdAtInit = v.deviceIdOnSwitch;
        v.wifiSsid = StoredText(store, DI_WIFI_SSID);
        v.wifiPassword = StoredText(store, DI_WIFI_PASSWORD);
        v.dhcp = DeviceInfoByte(p, DI_DHCP_ENABLED) != 0;
        v.baudSelection[BAUD_ANTENNA0] = BaudSelection(DeviceInfoByte(p, DI_ANTENNA0_BAUD));
        v.baudSelection[BAUD_ANTENNA1] = BaudSelection(DeviceInfoByte(p, DI_ANTENNA1_BAUD));
        v.dualAntenna = DeviceInfoByte(p, DI_DUAL_ANTENNA_MODE) != 0;
        break;
    }
    default: break;
    }
    return v;
}
