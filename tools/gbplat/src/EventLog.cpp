#include "EventLog.h"

#include <cstdarg>
#include <ctime>
#include <sys/time.h>

namespace gbplat {

std::string logTimestamp() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    std::tm tm{};
    localtime_r(&tv.tv_sec, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03d", buf, int(tv.tv_usec / 1000));
    return out;
}

void EventLog::write(const std::string& text) {
    std::lock_guard<std::mutex> lock(writing_);
    for (auto* f : sinks_) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fflush(f);
    }
    if (capture_)
        capture_(text);
}

void EventLog::datagram(bool outgoing, const Endpoint& peer, const std::string& bytes) {
    std::string text = logTimestamp() + (outgoing ? " SEND to " : " RECV from ") + peer.text() +
                       " (" + std::to_string(bytes.size()) + " bytes)\n" + bytes;
    if (text.empty() || text.back() != '\n')
        text += '\n';
    write(text + "\n");
}

void EventLog::event(const char* fmt, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    write(logTimestamp() + " EVENT " + buf + "\n");
}

}  // namespace gbplat
