// The platform's trace: every datagram in and out and every decision, each with a time stamp.
// Writing is safe from any thread (the video threads log too); configure it before that.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace gbplat {

struct Endpoint {
    std::string host;  // dotted IPv4
    int port = 0;
    std::string text() const { return host + ":" + std::to_string(port); }
    bool operator==(const Endpoint& o) const { return host == o.host && port == o.port; }
    bool operator!=(const Endpoint& o) const { return !(*this == o); }
};

class EventLog {
public:
    void addSink(std::FILE* f) { sinks_.push_back(f); }
    // Tests capture the lines instead of (or as well as) writing them.
    void setCapture(std::function<void(const std::string&)> c) { capture_ = std::move(c); }

    void datagram(bool outgoing, const Endpoint& peer, const std::string& bytes);
    void event(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

private:
    void write(const std::string& text);
    std::vector<std::FILE*> sinks_;
    std::function<void(const std::string&)> capture_;
    std::mutex writing_;
};

// "2026-12-08 04:04:25.123" in local time.
std::string logTimestamp();

}  // namespace gbplat
