#include "serial/comm_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "protocol/bytes.h"
#include "protocol/frame.h"
#include "document/text_codec.h"
#include "serial/line.h"

namespace {

int64_t LocalTimeOfDayMs() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local = {};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    const int64_t ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    return ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000LL + ms;
}

// "\\.\COM3" names the port COM3.
std::string PortName(const std::string& devicePath) {
    const std::string prefix = "\\\\.\\";
    return devicePath.compare(0, prefix.size(), prefix) == 0 ? devicePath.substr(prefix.size()) : devicePath;
}

const char* EventText(CommEventKind kind) {
    switch (kind) {
    case COMM_SENT: return "发送";
    case COMM_RECEIVED: return "接收";
    case COMM_DISCARDED: return "丢弃";
    case COMM_PORT_OPENED: return "串口已打开";
    case COMM_OPEN_FAILED: return "打开串口失败";
    case COMM_PORT_CLOSED: return "串口已关闭";
    case COMM_REPLY_TIMEOUT: return "等待应答超时";
    case COMM_PORT_LOST: return "串口已断开";
    case COMM_LINE_ERRORS: return "线路错误";
    }
    return "";
}

}  // namespace

void CommLog::SetNotify(std::function<void()> notify) {
    std::lock_guard<std::mutex> hold(lock_);
    notify_ = std::move(notify);
    notifyPending_ = false;
}

void CommLog::SetPort(const std::string& devicePath) {
    std::lock_guard<std::mutex> hold(lock_);
    port_ = PortName(devicePath);
}

void CommLog::AddFrame(CommEventKind kind, const uint8_t* bytes, size_t count) {
    CommEntry entry;
    entry.kind = kind;
    entry.bytes.assign(bytes, bytes + count);
    Add(std::move(entry));
}

void CommLog::AddDiscarded(size_t count) {
    CommEntry entry;
    entry.kind = COMM_DISCARDED;
    entry.count = count;
    Add(std::move(entry));
}

void CommLog::AddEvent(CommEventKind kind, const std::string& detail) {
    CommEntry entry;
    entry.kind = kind;
    entry.detail = detail;
    Add(std::move(entry));
}

void CommLog::AddLineErrors(unsigned flags) {
    static const char* const NAMES[LINE_ERROR_KINDS] = {"帧错误", "校验错误", "硬件溢出", "接收缓冲区溢出", "线路中断"};
    const std::string detail = JoinLineErrors(flags, NAMES, "、");
    if (!detail.empty()) AddEvent(COMM_LINE_ERRORS, detail);
}

void CommLog::Add(CommEntry entry) {
    entry.timeOfDayMs = LocalTimeOfDayMs();
    std::function<void()> notify;
    {
        std::lock_guard<std::mutex> hold(lock_);
        entry.sequence = nextSequence_++;
        entry.port = port_;
        entries_.push_back(std::move(entry));
        if (entries_.size() > CAPACITY) entries_.pop_front();
        if (notify_ && !notifyPending_) {
            notifyPending_ = true;
            notify = notify_;
        }
    }
    if (notify) notify();
}

std::vector<CommEntry> CommLog::EntriesAfter(uint64_t sequence) {
    std::lock_guard<std::mutex> hold(lock_);
    notifyPending_ = false;
    std::vector<CommEntry> out;
    for (const CommEntry& entry : entries_)
        if (entry.sequence > sequence) out.push_back(entry);
    return out;
}

uint64_t CommLog::OldestSequence() {
    std::lock_guard<std::mutex> hold(lock_);
    return entries_.empty() ? 0 : entries_.front().sequence;
}

void CommLog::Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    entries_.clear();
}

CommLog& TheCommLog() {
    static CommLog log;
    return log;
}

std::string FormatCommEntry(const CommEntry& entry) {
    const int64_t t = entry.timeOfDayMs;
    char head[64];
    std::snprintf(head, sizeof head, "%02d:%02d:%02d.%03d ", static_cast<int>(t / 3600000 % 24),
                  static_cast<int>(t / 60000 % 60), static_cast<int>(t / 1000 % 60), static_cast<int>(t % 1000));
    std::string line = head + entry.port + " " + EventText(entry.kind);
    if (!entry.detail.empty()) line += "：" + entry.detail;
    if (entry.kind == COMM_DISCARDED) return line + " " + std::to_string(entry.count) + " 字节";
    if (entry.kind != COMM_SENT && entry.kind != COMM_RECEIVED) return line;

    const uint8_t* frame = entry.bytes.data();
    const size_t total = entry.bytes.size();
    if (total >= FRAME_HEADER_SIZE) {
        const bool crcOk = Crc16(frame + 8, total - 8) == ReadU16BE(frame + 6);
        line += std::string(" ") + CommandName(frame[5]) + " 长度 " + std::to_string(ReadU16BE(frame + 8)) +
                (crcOk ? " CRC 正确" : " CRC 错误");
    }
    return line + " " + HexBytes(frame, total, " ");
}

std::string CommLogText(const std::vector<CommEntry>& entries) {
    std::string text;
    for (const CommEntry& entry : entries) {
        if (!text.empty()) text += "\r\n";
        text += FormatCommEntry(entry);
    }
    return text;
}
