/* tav-cable: virtual null-modem cables for the test rig (Linux).
 *
 *   tav-cable CTLFILE NAME LINK1 LINK2 [NAME LINK1 LINK2 ...]
 *
 * Each cable is two pseudo-terminals whose masters this program relays
 * both ways; their slaves are published as symlinks LINK1 and LINK2, so
 * whatever one program writes to LINK1 the program on LINK2 reads, and
 * back. The program holds each slave open itself, which keeps the
 * masters readable while nobody uses an end, and sets the lines raw.
 * Bytes that do not fit into the receiving side's queue are dropped, as
 * on a real cable without flow control.
 *
 * Control: CTLFILE is polled every 10 ms. Its content is a list of
 * command lines, "unplug NAME" or "replug NAME" (NAME may be "all"); a
 * new content is acted on once, and only when it ends with a newline.
 * Unplugging closes the cable's masters and slaves (programs holding an
 * end see a hang-up) and removes both links; replugging creates fresh
 * ptys behind the same links. After every change (and at start, once
 * the links exist) the program rewrites CTLFILE.status with one line per
 * cable, "NAME plugged" or "NAME unplugged". Both files are replaced by
 * renaming a complete temporary file over them.
 *
 * SIGTERM or SIGINT: remove the links and exit.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#define MAX_CABLES 8

struct Cable {
    const char* name;
    const char* link[2];
    int master[2];
    int slave[2];
    int plugged;
    unsigned long dropped;
};

static struct Cable cables[MAX_CABLES];
static int cableCount;
static volatile sig_atomic_t stopping;

static void OnSignal(int sig) {
    (void)sig;
    stopping = 1;
}

static int SetRaw(int fd) {
    struct termios t;
    if (tcgetattr(fd, &t) != 0) return -1;
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t);
}

static void Unplug(struct Cable* c) {
    for (int i = 0; i < 2; ++i) {
        unlink(c->link[i]);
        if (c->slave[i] >= 0) close(c->slave[i]);
        if (c->master[i] >= 0) close(c->master[i]);
        c->slave[i] = c->master[i] = -1;
    }
    c->plugged = 0;
}

static int Plug(struct Cable* c) {
    if (c->plugged) return 0;
    for (int i = 0; i < 2; ++i) {
        int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0) {
            if (m >= 0) close(m);
            goto fail;
        }
        c->master[i] = m;
        const char* slaveName = ptsname(m);
        int s = slaveName ? open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
        if (s < 0) goto fail;
        c->slave[i] = s;
        SetRaw(s);
        fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
        struct stat st;
        if (lstat(c->link[i], &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                fprintf(stderr, "tav-cable: %s exists and is not a link\n", c->link[i]);
                goto fail;
            }
            unlink(c->link[i]);
        }
        if (symlink(slaveName, c->link[i]) != 0) {
            fprintf(stderr, "tav-cable: cannot link %s: %s\n", c->link[i], strerror(errno));
            goto fail;
        }
    }
    c->plugged = 1;
    return 0;
fail:
    Unplug(c);
    return -1;
}

static void ReplaceFile(const char* path, const char* content) {
    char temp[4200];
    snprintf(temp, sizeof temp, "%s.tmp%ld", path, (long)getpid());
    FILE* f = fopen(temp, "w");
    if (!f) return;
    fputs(content, f);
    fclose(f);
    rename(temp, path);
}

static void WriteStatus(const char* ctl) {
    char path[4096], text[1024] = "";
    snprintf(path, sizeof path, "%s.status", ctl);
    for (int i = 0; i < cableCount; ++i) {
        size_t used = strlen(text);
        snprintf(text + used, sizeof text - used, "%s %s\n", cables[i].name,
                 cables[i].plugged ? "plugged" : "unplugged");
    }
    ReplaceFile(path, text);
}

static void Apply(const char* line) {
    char verb[32], name[32];
    if (sscanf(line, "%31s %31s", verb, name) != 2) return;
    for (int i = 0; i < cableCount; ++i) {
        struct Cable* c = &cables[i];
        if (strcmp(name, "all") != 0 && strcmp(name, c->name) != 0) continue;
        if (strcmp(verb, "unplug") == 0) {
            if (c->plugged) Unplug(c);
            fprintf(stderr, "tav-cable: %s unplugged\n", c->name);
        } else if (strcmp(verb, "replug") == 0) {
            if (Plug(c) != 0) fprintf(stderr, "tav-cable: cannot replug %s\n", c->name);
            else fprintf(stderr, "tav-cable: %s plugged\n", c->name);
        }
    }
}

/* Returns 1 when the control file holds a new, complete content. */
static int ReadControl(const char* ctl, char* last, size_t lastSize) {
    char now[4096];
    FILE* f = fopen(ctl, "r");
    if (!f) return 0;
    size_t n = fread(now, 1, sizeof now - 1, f);
    fclose(f);
    now[n] = 0;
    if (n == 0 || now[n - 1] != '\n' || strcmp(now, last) == 0) return 0;
    snprintf(last, lastSize, "%s", now);
    return 1;
}

static void Relay(struct Cable* c, int from) {
    char buf[4096];
    ssize_t n = read(c->master[from], buf, sizeof buf);
    if (n <= 0) return;
    int to = c->master[1 - from];
    ssize_t done = 0;
    while (done < n) {
        ssize_t w = write(to, buf + done, (size_t)(n - done));
        if (w > 0) {
            done += w;
        } else if (w < 0 && errno == EINTR) {
            continue;
        } else {
            c->dropped += (unsigned long)(n - done);
            break;
        }
    }
}

int main(int argc, char** argv) {
    if (argc < 5 || (argc - 2) % 3 != 0 || (argc - 2) / 3 > MAX_CABLES) {
        fprintf(stderr, "usage: %s CTLFILE NAME LINK1 LINK2 [NAME LINK1 LINK2 ...]\n", argv[0]);
        return 2;
    }
    const char* ctl = argv[1];
    cableCount = (argc - 2) / 3;
    for (int i = 0; i < cableCount; ++i) {
        struct Cable* c = &cables[i];
        c->name = argv[2 + 3 * i];
        c->link[0] = argv[3 + 3 * i];
        c->link[1] = argv[4 + 3 * i];
        c->master[0] = c->master[1] = c->slave[0] = c->slave[1] = -1;
        if (Plug(c) != 0) {
            fprintf(stderr, "tav-cable: cannot set up cable %s\n", c->name);
            for (int j = 0; j < i; ++j) Unplug(&cables[j]);
            return 1;
        }
    }
    signal(SIGTERM, OnSignal);
    signal(SIGINT, OnSignal);
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);

    /* Whatever the control file says at start was meant for an earlier run. */
    char last[4096] = "";
    ReadControl(ctl, last, sizeof last);
    WriteStatus(ctl);

    while (!stopping) {
        struct pollfd fds[2 * MAX_CABLES];
        int owner[2 * MAX_CABLES], side[2 * MAX_CABLES], count = 0;
        for (int i = 0; i < cableCount; ++i) {
            if (!cables[i].plugged) continue;
            for (int s = 0; s < 2; ++s) {
                fds[count].fd = cables[i].master[s];
                fds[count].events = POLLIN;
                fds[count].revents = 0;
                owner[count] = i;
                side[count] = s;
                ++count;
            }
        }
        int ready = poll(fds, (nfds_t)count, 10);
        if (ready > 0) {
            for (int k = 0; k < count; ++k)
                if (fds[k].revents & POLLIN) Relay(&cables[owner[k]], side[k]);
        }
        if (ReadControl(ctl, last, sizeof last)) {
            char work[4096], *save = NULL;
            snprintf(work, sizeof work, "%s", last);
            for (char* line = strtok_r(work, "\n", &save); line; line = strtok_r(NULL, "\n", &save))
                Apply(line);
            WriteStatus(ctl);
        }
    }
    for (int i = 0; i < cableCount; ++i) Unplug(&cables[i]);
    return 0;
}
