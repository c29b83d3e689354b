// What a device page shows for the last information reply: the decisions
// a page makes when it fills its controls from DeviceInfoStore, free of
// window calls. Texts are GBK bytes as stored; selections are combo box
// indexes with -1 for none.
#pragma once
#include <cstdint>
#include <string>

#include "forms/page_form.h"
#include "protocol/device_info.h"

struct PageView {
    std::string firmwareVersion;   // 1005
    uint32_t ipAddress = 0;        // 1009
    uint32_t subnetMask = 0;       // 1008
    uint32_t gateway = 0;          // 1007
    std::string deviceName;        // 1019 in mode 1
    std::string devicePassword;    // 1020
    uint32_t platformIp = 0;       // 1022
    std::string platformPortText;  // 1023, "%d" of the 16-bit port
    // 1019 in mode 0 when the page initialises (types 1 and 2 show "0"
    // when the reply's protocolVersion is below 2) ...
    std::string deviceIdAtInit;
    // ... and when the user switches the connection mode to 0 (the stored
    // bytes, whatever the version).
    std::string deviceIdOnSwitch;
    std::string wifiSsid;          // 1010
    std::string wifiPassword;      // 1011
    int baudSelection[BAUD_FIELD_COUNT] = {-1, -1, -1};
    bool dualAntenna = false;      // 1015 ticked
    int connectModeSelection = -1; // 1016: the stored byte when it is 0 or 1
    bool showPlatformControls = false;  // mode 1 controls shown: connectMode byte != 0
    bool dhcp = false;             // 1012 ticked
};

// The view of store for the page of deviceType (52, 1, 2 or 3). Fields the
// page does not show keep their defaults.
PageView ViewForPage(int deviceType, const DeviceInfoStore& store);

// A baud index as a selection of a combo box holding BaudList: outside
// 0-4 the list shows no selection.
int BaudSelection(uint8_t storedIndex);

// The lists the pages fill their combo boxes with (UTF-8).
constexpr int BAUD_LIST_SIZE = 5;
extern const char* const BAUD_LIST[BAUD_LIST_SIZE];
constexpr int CONNECT_MODE_LIST_SIZE = 2;
extern const char* const CONNECT_MODE_LIST[CONNECT_MODE_LIST_SIZE];  // index = connectMode
