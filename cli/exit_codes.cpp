#include "cli/exit_codes.h"

const char* ExitCodeName(int code) {
    switch (code) {
    case EXIT_OK: return "ok";
    case EXIT_USAGE: return "bad input";
    case EXIT_REFUSED: return "refused";
    case EXIT_PORT: return "port not opened";
    case EXIT_TIMEOUT: return "no reply";
    case EXIT_MISMATCH: return "verification mismatch";
    case EXIT_UNSUPPORTED: return "unsupported reader";
    case EXIT_LINE_LOST: return "line lost";
    case EXIT_INTERRUPTED: return "interrupted";
    case EXIT_PENDING: return "rows pending";
    default: return "failed";
    }
}

int ExitCodeFromName(const std::string& name) {
    for (int code = EXIT_OK; code <= EXIT_PENDING; ++code)
        if (name == ExitCodeName(code)) return code;
    return EXIT_FAILURE_OTHER;
}
