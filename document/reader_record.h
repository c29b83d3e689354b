// The record a reader that answered gets from the user's values: the
// values over the reader's own, the page's Apply checks in their order,
// then the checks the tool adds (a selection the reader lacks, a value the
// chosen mode would not carry, values no network can use). apply and
// provisioning both build their records here, so a refusal reads the same.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "document/fields.h"
#include "document/network_check.h"

struct ReaderRecord {
    int exitCode = 0;           // 0, or an InputErrorCode
    std::string message;        // the first refusal
    std::vector<uint8_t> record;
    std::vector<NetworkWarning> warnings;  // never refusals
};

// inputName names the overlay's document in the refusal of another device
// type. checkNetwork false: the values are a reader's own settings put back
// (undo), written as they were.
ReaderRecord RecordForReader(const Overlay& overlay, const std::string& inputName, const DeviceInfoStore& store,
                             bool checkNetwork = true);
