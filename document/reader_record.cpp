#include "document/reader_record.h"

namespace {

ReaderRecord Refused(int code, const std::string& message) {
    ReaderRecord r;
    r.exitCode = code;
    r.message = message;
    return r;
}

}  // namespace

ReaderRecord RecordForReader(const Overlay& overlay, const std::string& inputName, const DeviceInfoStore& store,
                             bool checkNetwork) {
    const int type = store.deviceType;
    if (overlay.deviceType >= 0 && overlay.deviceType != type)
        return Refused(INPUT_REFUSED, inputName + " is for a " + DeviceTypeName(overlay.deviceType) + " (type " +
                                          std::to_string(overlay.deviceType) + ") but the reader is a " +
                                          DeviceTypeName(type) + " (type " + std::to_string(type) + ")");
    InputError inputError;
    if (!CheckFieldsForType(overlay, type, &inputError)) return Refused(inputError.exitCode, inputError.message);

    // The page as it shows the reader's values, with the user's entries.
    const PageView view = ViewForPage(type, store);
    const PageForm form = FormWithOverlay(type, view, overlay);
    const ApplyResult chain = RunApplyChain(type, form);
    if (!chain.ok) return Refused(INPUT_REFUSED, chain.message);
    std::string missing = MissingSelection(type, form);
    if (missing.empty()) missing = IgnoredSetting(type, form, overlay);
    if (!missing.empty()) return Refused(INPUT_REFUSED, missing);
    ReaderRecord r;
    if (checkNetwork) {
        const NetworkRefusal network = CheckNetworkValues(type, overlay, &view);
        if (network.field != FIELD_COUNT) return Refused(INPUT_REFUSED, network.message);
        r.warnings = NetworkWarnings(type, overlay, &view);
    }
    r.record = chain.record;
    return r;
}
