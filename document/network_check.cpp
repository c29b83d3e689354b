#include "document/network_check.h"

namespace {

// One address as the record will carry it, and where it came from.
struct Value {
    bool known = false;   // from the overlay or the reader
    bool given = false;   // in the overlay (a document, --set or a plan's cell)
    bool typed = false;   // from --set or a plan's cell
    uint32_t v = 0;
};

struct Settings {
    bool dhcp = false;             // the addresses are the DHCP server's, not ours
    bool platformCarried = true;   // connection mode 1, or not known yet
    Value ip, mask, gateway, platformIp, port;
    Value formerIp;                // the reader's (or the base's) address before
};

Value Take(const Overlay& overlay, FieldId id, bool readerKnown, uint32_t readerValue) {
    Value value;
    const FieldValue& given = overlay.values[id];
    if (given.present && !given.addressBlank && !given.none) {
        value.known = value.given = true;
        value.typed = given.fromCommandLine || given.fromPlan;
        value.v = id == F_PLATFORM_PORT ? static_cast<uint32_t>(given.number) : given.address;
    } else if (readerKnown && !given.present) {
        value.known = true;
        value.v = readerValue;
    }
    return value;
}

Settings Resolve(int deviceType, const Overlay& overlay, const PageView* reader, const Overlay* base) {
    const FieldValue* o = overlay.values;
    const bool r = reader != nullptr;
    Settings s;
    s.dhcp = o[F_DHCP_ENABLED].present ? o[F_DHCP_ENABLED].flag : r && deviceType == DEVICE_TYPE_WIFI && reader->dhcp;
    if (deviceType >= 0 && !TypeHasField(deviceType, F_DHCP_ENABLED)) s.dhcp = false;
    const bool hasMode = deviceType < 0 || TypeHasField(deviceType, F_CONNECT_MODE);
    const int mode = o[F_CONNECT_MODE].present && !o[F_CONNECT_MODE].none ? static_cast<int>(o[F_CONNECT_MODE].number)
                     : r                                                   ? reader->connectModeSelection
                                                                           : -1;
    s.platformCarried = !(hasMode && mode == 0);
    s.ip = Take(overlay, F_IP_ADDRESS, r, r ? reader->ipAddress : 0);
    s.mask = Take(overlay, F_SUBNET_MASK, r, r ? reader->subnetMask : 0);
    s.gateway = Take(overlay, F_GATEWAY, r, r ? reader->gateway : 0);
    s.platformIp = Take(overlay, F_PLATFORM_IP, r, r ? reader->platformIp : 0);
    s.port = Take(overlay, F_PLATFORM_PORT, false, 0);
    if (r) {
        s.formerIp.known = true;
        s.formerIp.v = reader->ipAddress;
    } else if (base != nullptr && base->values[F_IP_ADDRESS].present && !base->values[F_IP_ADDRESS].addressBlank) {
        s.formerIp.known = true;
        s.formerIp.v = base->values[F_IP_ADDRESS].address;
    }
    return s;
}

bool Contiguous(uint32_t mask) { return (~mask & (~mask + 1)) == 0; }

int PrefixLength(uint32_t mask) {
    int n = 0;
    while (n < 32 && (mask & (0x80000000u >> n)) != 0) ++n;
    return n;
}

bool SameSubnet(uint32_t a, uint32_t b, uint32_t mask) { return (a & mask) == (b & mask); }

NetworkRefusal Refuse(FieldId field, const std::string& message) { return NetworkRefusal{field, message}; }

}  // namespace

std::string SubnetText(uint32_t address, uint32_t mask) {
    return DottedAddress(address & mask) + "/" + std::to_string(PrefixLength(mask));
}

NetworkRefusal CheckNetworkValues(int deviceType, const Overlay& overlay, const PageView* reader) {
    const Settings s = Resolve(deviceType, overlay, reader, nullptr);
    if (s.platformCarried && s.port.given && s.port.v == 0)
        return Refuse(F_PLATFORM_PORT, "platformPort 0: no platform listens on port 0");
    if (s.dhcp) return NetworkRefusal();
    if (s.mask.given && !Contiguous(s.mask.v))
        return Refuse(F_SUBNET_MASK, "subnetMask " + DottedAddress(s.mask.v) +
                                         " is no subnet mask (its ones must come first: 255.255.255.0, 255.255.0.0, ...)");
    if (!s.ip.known || !(s.ip.given || s.mask.given)) return NetworkRefusal();
    const uint32_t ip = s.ip.v;
    const std::string name = "ipAddress " + DottedAddress(ip);
    if (s.ip.given) {
        if (ip == 0) return Refuse(F_IP_ADDRESS, name + " is no address a reader can have");
        if (ip == 0xFFFFFFFFu) return Refuse(F_IP_ADDRESS, name + " is the broadcast address of every network");
        if ((ip >> 24) == 127) return Refuse(F_IP_ADDRESS, name + " is a loopback address (127.x.x.x)");
        if ((ip >> 28) == 0xE) return Refuse(F_IP_ADDRESS, name + " is a multicast address (224.0.0.0-239.255.255.255)");
    }
    // A /31 or /32 has no network or broadcast address of its own.
    if (!s.mask.known || !Contiguous(s.mask.v) || PrefixLength(s.mask.v) > 30) return NetworkRefusal();
    const FieldId blamed = s.ip.given ? F_IP_ADDRESS : F_SUBNET_MASK;
    if ((ip & ~s.mask.v) == 0)
        return Refuse(blamed, name + " is the network address of its subnet " + SubnetText(ip, s.mask.v));
    if ((ip & ~s.mask.v) == ~s.mask.v)
        return Refuse(blamed, name + " is the broadcast address of its subnet " + SubnetText(ip, s.mask.v));
    return NetworkRefusal();
}

std::vector<NetworkWarning> NetworkWarnings(int deviceType, const Overlay& overlay, const PageView* reader,
                                            const Overlay* base) {
    const Settings s = Resolve(deviceType, overlay, reader, base);
    std::vector<NetworkWarning> warnings;
    if (s.dhcp || !s.ip.known || !s.mask.known || !Contiguous(s.mask.v)) return warnings;
    const uint32_t ip = s.ip.v, mask = s.mask.v;
    const std::string subnet = SubnetText(ip, mask);
    const bool addressing = s.ip.given || s.mask.given || s.gateway.given;
    if (addressing && s.gateway.known && s.gateway.v != 0 && !SameSubnet(s.gateway.v, ip, mask)) {
        const bool moved = s.ip.typed && !s.gateway.typed && s.formerIp.known && !SameSubnet(s.formerIp.v, ip, mask);
        if (moved)
            warnings.push_back({NET_GATEWAY_KEPT, F_GATEWAY,
                                "the address moves to " + subnet + " but the gateway stays " + DottedAddress(s.gateway.v)});
        else
            warnings.push_back({NET_GATEWAY_OUTSIDE, F_GATEWAY,
                                "the gateway " + DottedAddress(s.gateway.v) + " is outside the reader's subnet " + subnet});
    }
    if (!s.platformCarried || !s.platformIp.known || !(addressing || s.platformIp.given)) return warnings;
    const uint32_t platform = s.platformIp.v;
    if (platform != 0 && s.gateway.known && s.gateway.v == 0 && !SameSubnet(platform, ip, mask))
        warnings.push_back({NET_PLATFORM_UNREACHABLE, F_GATEWAY,
                            "the platform " + DottedAddress(platform) + " is outside the reader's subnet " + subnet +
                                " and there is no gateway"});
    if (platform == ip)
        warnings.push_back({NET_SAME_AS_PLATFORM, F_IP_ADDRESS,
                            "the reader's address " + DottedAddress(ip) + " is the platform's"});
    return warnings;
}
