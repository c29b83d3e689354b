#include "app/page_host.h"

#include "app/display_scale.h"
#include "protocol/device_info.h"
#include "resources/resource.h"

static const PageTableEntry PAGE_TABLE[] = {
    {0, PAGE_PORT_SELECT, IDD_PORT_SELECT, 0, 0},
    {DEVICE_TYPE_DUAL_ANTENNA, PAGE_DUAL_ANTENNA, IDD_DUAL_ANTENNA, 541, 270},
    {DEVICE_TYPE_SINGLE_ANTENNA, PAGE_SINGLE_ANTENNA, IDD_SINGLE_ANTENNA, 402, 201},
    {DEVICE_TYPE_WIFI, PAGE_WIFI_READER, IDD_WIFI_READER, 521, 260},
    {DEVICE_TYPE_BASIC, PAGE_BASIC_READER, IDD_BASIC_READER, 298, 149},
};

const PageTableEntry* FindPageForType(int32_t deviceType) {
    for (const PageTableEntry& entry : PAGE_TABLE) {
        if (entry.deviceType == deviceType) return &entry;
    }
    return nullptr;
}

PageSwitch ChoosePageSwitch(int restoredHeight, int32_t shownType, int32_t deviceType, int dpi) {
    const bool portSelectShown = restoredHeight < ScaleToDpi(DEVICE_PAGE_MIN_HEIGHT, dpi);
    const PageTableEntry* entry = FindPageForType(deviceType);

    // Type 0 asks for the port selection page, whatever is shown (next to
    // a device page, it is created in addition to it).
    if (deviceType == 0) return {portSelectShown, SWITCH_NEW_PORT_SELECT, nullptr};

    if (entry == nullptr) {
        // A type without a page: the reply has closed the port under the
        // port selection page, so give the user a fresh one to retry with
        // rather than an empty window. A device page stays as it is.
        if (portSelectShown) return {true, SWITCH_NEW_PORT_SELECT, nullptr};
        return {false, SWITCH_NOTHING, nullptr};
    }

    // A device page of the reply's type re-reads the store in place; a
    // page of another type gives way to the page of the new type.
    if (!portSelectShown && shownType == deviceType) return {false, SWITCH_REINIT_CURRENT, nullptr};
    return {true, SWITCH_NEW_DEVICE_PAGE, entry};
}

WindowChange ChangeForPage(const PageTableEntry* shown, const PageTableEntry& next, int dpi) {
    const PageGrowth to = ScaledGrowth(next, dpi);
    if (shown == nullptr) return {to.topMovedUp, to.heightAdded};
    const PageGrowth from = ScaledGrowth(*shown, dpi);
    return {to.topMovedUp - from.topMovedUp, to.heightAdded - from.heightAdded};
}
