// Writing the rig's control file and reading its status, with the
// standard library only, so Windows test programs use it through Wine's
// drive Z: and native tools use it directly.
#include "sim/rig_control.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

std::string ControlPath(const std::string& given) {
    if (!given.empty()) return given;
#ifndef _WIN32
    // TAV_RIG_CTL holds the path as Windows programs see it.
    if (const char* native = std::getenv("TAV_RIG_CTL_LINUX")) return native;
#endif
    const char* env = std::getenv("TAV_RIG_CTL");
    return env ? env : "";
}

bool ReplaceFile(const std::string& path, const std::string& content) {
    std::string temp = path + ".tmp" + std::to_string(std::rand());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << content;
        if (!out.flush()) return false;
    }
    std::remove(path.c_str());  // rename does not replace on Windows
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

int RigCableState(const std::string& ctlPath, const std::string& cable) {
    std::ifstream in(ControlPath(ctlPath) + ".status");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string name, state;
        words >> name >> state;
        if (name != cable) continue;
        if (state == "plugged") return 1;
        if (state == "unplugged") return 0;
    }
    return -1;
}

bool RigSetCable(const std::string& ctlPath, const std::string& cable, bool plugged,
                 int timeoutMs, std::string* error) {
    std::string path = ControlPath(ctlPath);
    if (path.empty()) {
        if (error) *error = "no rig control file (TAV_RIG_CTL is not set)";
        return false;
    }
    if (!ReplaceFile(path, (plugged ? "replug " : "unplug ") + cable + "\n")) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int want = plugged ? 1 : 0;
    for (;;) {
        if (RigCableState(path, cable) == want) return true;
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (error) *error = "the rig did not confirm cable " + cable + (plugged ? " plugged" : " unplugged");
    return false;
}
