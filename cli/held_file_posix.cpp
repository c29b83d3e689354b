// Held files and port holds on POSIX: flock for the locks, 0600 files,
// fsync after every line.
#include "cli/held_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <sstream>

namespace {

std::string Why(const std::string& what, const std::string& path) { return what + " " + path + ": " + strerror(errno); }

// A lock file in the temporary folder named after a port's path, removed
// again by its holder; a lock taken on a file removed meanwhile is taken again.
int LockPortName(const std::string& name, std::string* lockPath, std::string* error, bool* busy) {
    const char* tmp = getenv("TMPDIR");
    *lockPath = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tavrolin-port-";
    for (char c : name) *lockPath += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
    *lockPath += ".lock";
    for (;;) {
        const int fd = open(lockPath->c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            *error = Why("cannot make the port's lock", *lockPath);
            return -1;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            *busy = true;
            return -1;
        }
        struct stat held, named;
        if (fstat(fd, &held) == 0 && stat(lockPath->c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev)
            return fd;
        close(fd);
    }
}

}  // namespace

bool HeldFileOpen(HeldFile* file, const std::string& path, std::string* error) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = Why("cannot open", path);
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        *error = path + " is in use by another run";
        return false;
    }
    // A file an earlier version made readable by all is closed again.
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 077) != 0) fchmod(fd, st.st_mode & 0700);
    file->fd = fd;
    file->path = path;
    return true;
}

bool HeldFileReadAll(HeldFile* file, std::string* text, std::string* error) {
    text->clear();
    char buffer[1 << 16];
    for (off_t at = 0;;) {
        const ssize_t n = pread(file->fd, buffer, sizeof buffer, at);
        if (n < 0) {
            *error = Why("cannot read", file->path);
            return false;
        }
        if (n == 0) return true;
        text->append(buffer, static_cast<size_t>(n));
        at += n;
    }
}

bool HeldFileTruncate(HeldFile* file, size_t keepBytes, std::string* error) {
    if (ftruncate(file->fd, static_cast<off_t>(keepBytes)) != 0 || fsync(file->fd) != 0) {
        *error = Why("cannot cut the torn line off", file->path);
        return false;
    }
    return true;
}

bool HeldFileAppend(HeldFile* file, const std::string& line, std::string* error) {
    struct stat st;
    if (fstat(file->fd, &st) != 0) {
        *error = Why("cannot write", file->path);
        return false;
    }
    // O_APPEND: one write puts the whole line at the end.
    const ssize_t n = write(file->fd, line.data(), line.size());
    if (n == static_cast<ssize_t>(line.size()) && fsync(file->fd) == 0) return true;
    if (n >= 0 && n < static_cast<ssize_t>(line.size())) errno = ENOSPC;  // a short write: the disk is full
    *error = Why("cannot write", file->path);
    if (ftruncate(file->fd, st.st_size) == 0) fsync(file->fd);
    return false;
}

void HeldFileClose(HeldFile* file) {
    if (file->fd >= 0) close(file->fd);
    file->fd = -1;
}

bool ReadWholeFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    *text = all.str();
    return true;
}

bool FileIsPrivate(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && (st.st_mode & 077) == 0;
}

bool PortHoldTake(PortHold* hold, const std::string& port, std::string* error) {
    // The name as given, its folder resolved. Not the device it leads to
    // now: that changes under a name (an adapter plugged again, a pty made
    // again) and may be another port's by then; while a run has the line
    // open, the line's own lock keeps other names of it off.
    const size_t slash = port.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : port.substr(0, slash);
    char resolved[PATH_MAX];
    const std::string name = realpath(folder.c_str(), resolved) != nullptr
                                 ? std::string(resolved) + "/" + (slash == std::string::npos ? port : port.substr(slash + 1))
                                 : port;
    bool busy = false;
    hold->fd = LockPortName(name, &hold->path, error, &busy);
    if (hold->fd >= 0) return true;
    if (busy) *error = port + ": another provisioning run is working on this port";
    return false;
}

void PortHoldRelease(PortHold* hold) {
    if (hold->fd >= 0) {
        unlink(hold->path.c_str());
        close(hold->fd);
    }
    hold->fd = -1;
}
