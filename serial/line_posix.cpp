// SerialLine on POSIX ttys: termios raw 115200 8N1, poll() with a time-out.
#include "serial/line.h"

#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

struct SerialLine {
    int fd;          // the line: a tty, or a pty master
    int keepOpen;    // pty only: our own slave descriptor, or -1
    std::string link;  // pty only: the published symlink, removed on close
};

namespace {

std::string Why(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + strerror(errno);
}

bool SetRaw115200(int fd) {
    struct termios t;
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

// Replaces a symlink (or nothing) at path with one to target; refuses to
// replace anything that is not a symlink.
bool Publish(const std::string& target, const std::string& path, std::string* error) {
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            if (error) *error = path + " exists and is not a symlink";
            return false;
        }
        unlink(path.c_str());
    }
    if (symlink(target.c_str(), path.c_str()) != 0) {
        if (error) *error = Why("cannot create link", path);
        return false;
    }
    return true;
}

}  // namespace

SerialLine* LineOpen(const std::string& path, std::string* error) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = errno == EBUSY ? path + ": the port is busy (another program has it open)" : Why("cannot open", path);
        return nullptr;
    }
    if (!isatty(fd) || !SetRaw115200(fd)) {
        if (error) *error = path + " is not a serial line";
        close(fd);
        return nullptr;
    }
    // The line is ours alone, as a COM port is on Windows: TIOCEXCL turns
    // away other opens (root's excepted), the lock other programs that ask.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        if (error) *error = path + ": the port is busy (another program has it open)";
        close(fd);
        return nullptr;
    }
    tcflush(fd, TCIOFLUSH);
    return new SerialLine{fd, -1, ""};
}

SerialLine* LineOpenPty(const std::string& linkPath, std::string* error) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        if (error) *error = Why("cannot create a pty for", linkPath);
        if (master >= 0) close(master);
        return nullptr;
    }
    // ptsname_r: readers on threads of one process (a fleet, a soak) make
    // their ptys at the same moments; ptsname's shared buffer could hand
    // one of them another's slave, and both would publish the same pty.
    char slaveName[128] = "";
    const bool named = ptsname_r(master, slaveName, sizeof slaveName) == 0;
    // Holding the slave open ourselves keeps the master readable while no
    // program has the published end open (otherwise it reports hang-up).
    int slave = named ? open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (slave < 0 || !SetRaw115200(slave) || !Publish(slaveName, linkPath, error)) {
        if (error && error->empty()) *error = Why("cannot set up the pty for", linkPath);
        if (slave >= 0) close(slave);
        close(master);
        return nullptr;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    return new SerialLine{master, slave, linkPath};
}

int LineRead(SerialLine* line, uint8_t* buffer, size_t capacity, int timeoutMs) {
    struct pollfd p = {line->fd, POLLIN, 0};
    int ready = poll(&p, 1, timeoutMs);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    if (p.revents & POLLIN) {
        ssize_t n = read(line->fd, buffer, capacity);
        if (n > 0) return static_cast<int>(n);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
        return -1;  // end of file or EIO: the other end hung up
    }
    return -1;  // POLLHUP, POLLERR, POLLNVAL without data
}

bool LineWrite(SerialLine* line, const uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = write(line->fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            struct pollfd p = {line->fd, POLLOUT, 0};
            if (poll(&p, 1, 1000) <= 0 || !(p.revents & POLLOUT)) return false;
            continue;
        }
        return false;
    }
    return true;
}

void LineClose(SerialLine* line) {
    if (line == nullptr) return;
    if (line->link.empty()) ioctl(line->fd, TIOCNXCL);  // a pty's other end may hold the tty open
    if (!line->link.empty()) unlink(line->link.c_str());
    if (line->keepOpen >= 0) close(line->keepOpen);
    close(line->fd);
    delete line;
}

std::vector<std::string> LineEnumerate() {
    std::vector<std::string> found;
    const char* patterns[] = {"/dev/ttyS*", "/dev/ttyUSB*", "/dev/ttyACM*", "/dev/serial/by-id/*"};
    for (const char* pattern : patterns) {
        glob_t g;
        if (glob(pattern, 0, nullptr, &g) != 0) continue;
        for (size_t i = 0; i < g.gl_pathc; ++i) {
            std::string path = g.gl_pathv[i];
            // Most /dev/ttyS nodes have no UART behind them.
            if (path.rfind("/dev/ttyS", 0) == 0) {
                int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
                if (fd < 0) continue;
                struct serial_struct info;
                bool real = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
                close(fd);
                if (!real) continue;
            }
            found.push_back(path);
        }
        globfree(&g);
    }
    return found;
}

unsigned LineTakeErrors(SerialLine*) { return 0; }
