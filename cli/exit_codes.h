// Exit codes of tavrolin-cli. With several ports the program exits with
// the code of the first port, in the order given, that did not succeed.
#pragma once

#include <string>

#include "document/fields.h"

enum ExitCode {
    EXIT_OK = 0,
    EXIT_FAILURE_OTHER = 1,   // e.g. an output file that cannot be written
    EXIT_USAGE = 2,           // bad arguments, malformed file, unknown field, wrong kind of value
    EXIT_REFUSED = 3,         // validation refused: the page's check, a value out of range, another device type
    EXIT_PORT = 4,            // the port could not be opened (missing, busy, not a serial line)
    EXIT_TIMEOUT = 5,         // no valid reply within the time-out
    EXIT_MISMATCH = 6,        // the reader does not report what was written
    EXIT_UNSUPPORTED = 7,     // a reader too old for this tool, or a device type without a page
    EXIT_LINE_LOST = 8,       // the line went away during the exchange (adapter unplugged)
    EXIT_INTERRUPTED = 9,     // stopped by Ctrl-C (SIGINT, SIGTERM) before the plan was done
    EXIT_PENDING = 10,        // provision ended with rows pending: their readers must be checked
};

const char* ExitCodeName(int code);
// The code of a name ExitCodeName gives; EXIT_FAILURE_OTHER for any other text.
int ExitCodeFromName(const std::string& name);

// A refused document or --set value exits with the code its kind names.
static_assert(int(EXIT_USAGE) == int(INPUT_MALFORMED) && int(EXIT_REFUSED) == int(INPUT_REFUSED),
              "input errors exit with their own codes");
