/* LD_PRELOAD shim for Wine processes on the test rig (Linux, 64-bit).
 *
 * Linux pseudo-terminals have no modem lines and refuse TIOCMGET and its
 * relatives. Wine's serial code polls TIOCMGET while it waits for comm
 * events and gives the wait up when that fails, so on a pty the
 * WaitCommEvent of a program would end at once with an error. For pty
 * descriptors (character devices with majors 136-143) this answers the
 * four modem-line requests with success and, for TIOCMGET, "all lines
 * up" (DTR, RTS, CTS, DSR, DCD; no ring), as long as the line is there.
 * A pty whose other end has gone (the rig's cable unplugged) is hung up
 * and fails them with EIO, as a USB adapter's tty does once the adapter is
 * pulled: Wine then ends a pending WaitCommEvent with
 * ERROR_OPERATION_ABORTED, the way a Windows driver ends it on removal.
 * Everything else goes to the real ioctl.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

typedef int (*IoctlFn)(int, unsigned long, ...);

static int IsPty(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
    unsigned int m = major(st.st_rdev);
    return m >= 136 && m <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
    static IoctlFn real;
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (!real) real = (IoctlFn)dlsym(RTLD_NEXT, "ioctl");
    if ((request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC) &&
        IsPty(fd)) {
        struct termios line;
        if (real(fd, TCGETS, &line) != 0) return -1;   /* hung up: EIO */
        if (request == TIOCMGET && arg)
            *(int*)arg = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
        return 0;
    }
    return real(fd, request, arg);
}
