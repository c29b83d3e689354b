// The network values a reader is given, checked as a network sees them.
// Refused: values no network can use (a reader address that is no host
// address of its subnet, a mask whose ones are not contiguous, platform
// port 0). Warned, never refused: settings a network can carry but that
// rarely work (a gateway outside the subnet, a platform out of reach, the
// reader on the platform's address, a gateway left behind by a move).
//
// Only values the user gives (a document, --set, a plan's cell) are
// refused; values the reader has are written back as the page would. The
// window program's Apply checks are the page's own and do not come here.
#pragma once
#include <string>
#include <vector>

#include "document/fields.h"

struct NetworkRefusal {
    FieldId field = FIELD_COUNT;  // FIELD_COUNT: nothing refused
    std::string message;          // "ipAddress 10.0.7.0 is the network address of ..."
};

enum NetworkWarningKind {
    NET_GATEWAY_OUTSIDE,       // the gateway given lies outside the reader's subnet
    NET_PLATFORM_UNREACHABLE,  // the platform lies outside the subnet and there is no gateway
    NET_SAME_AS_PLATFORM,      // the reader's address is the platform's
    NET_GATEWAY_KEPT,          // the address moves to another subnet, the gateway stays
    NET_WARNING_KINDS
};

struct NetworkWarning {
    NetworkWarningKind kind;
    FieldId field;      // the field to mend
    std::string text;   // this reader's case, e.g. "the gateway 192.168.1.1 is outside 10.0.7.0/24"
};

// deviceType -1 when no reader has answered yet (a plan checked before any
// port is opened): only what the overlay holds is checked then. reader:
// the page's view of the reader that answered, or nullptr. base: for a
// plan's row, the --base document under it (the address and gateway the
// row moves from), or nullptr.
NetworkRefusal CheckNetworkValues(int deviceType, const Overlay& overlay, const PageView* reader);
std::vector<NetworkWarning> NetworkWarnings(int deviceType, const Overlay& overlay, const PageView* reader,
                                            const Overlay* base = nullptr);

// "10.0.7.0/24" for an address and a contiguous mask.
std::string SubnetText(uint32_t address, uint32_t mask);
