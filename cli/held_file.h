// The files of a provisioning run and its hold on the port, the one place
// where they meet the operating system (held_file_posix.cpp,
// held_file_win32.cpp).
//
// A held file (the audit log, the undo file) is opened for the whole run
// and locked against a second run. It is created readable and writable by
// its owner only (0600; on Windows an access list naming the user alone),
// and grows one line at a time: each line with one write, flushed to the
// disk before the next exchange, and a line that could not be written
// whole (a full disk) is cut off again, so the file always ends at a line
// end unless the program was killed in the middle of a write.
#pragma once
#include <cstddef>
#include <string>

struct HeldFile {
#ifdef _WIN32
    void* handle = nullptr;
#else
    int fd = -1;
#endif
    std::string path;
};

// Opens or creates path and holds it; false with a reason (another run
// holding it says so).
bool HeldFileOpen(HeldFile* file, const std::string& path, std::string* error);
bool HeldFileReadAll(HeldFile* file, std::string* text, std::string* error);
// Keeps the first keepBytes (cuts a torn last line off).
bool HeldFileTruncate(HeldFile* file, size_t keepBytes, std::string* error);
// Appends one line durably; on failure the file is as it was before.
bool HeldFileAppend(HeldFile* file, const std::string& line, std::string* error);
void HeldFileClose(HeldFile* file);

// Reads a whole file that another run may hold; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* text);
// Whether only its owner may read and write path (tests, and the report's check).
bool FileIsPrivate(const std::string& path);

// One run per port: held from the start of a run to its end, whether the
// port is open at the moment or not (a reader's cable pulled, the adapter
// gone), so that two runs with different logs can never share a bench.
struct PortHold {
#ifdef _WIN32
    void* mutex = nullptr;
#else
    int fd = -1;
    std::string path;  // the lock file
#endif
};

// false with a reason when another run holds the port.
bool PortHoldTake(PortHold* hold, const std::string& port, std::string* error);
void PortHoldRelease(PortHold* hold);
