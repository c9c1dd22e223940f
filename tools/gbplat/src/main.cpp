// gbplat: a demo GB/T 28181 video platform on UDP for the replay console, its demos and tests.
#include "CameraStatus.h"
#include "Platform.h"
#include "SipMessage.h"
#include "StreamManager.h"
#include "VideoSource.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>

using namespace gbplat;

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int sig) {
    unsigned char b = static_cast<unsigned char>(sig);
    int saved = errno;
    (void)!write(g_signalPipe[1], &b, 1);
    errno = saved;
}

class SystemClock : public PlatformClock {
public:
    int64_t steadyMs() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    int64_t epochSeconds() override { return int64_t(std::time(nullptr)); }
};

struct Options {
    PlatformConfig platform;
    MediaConfig media;
    std::string cameraFile = GBPLAT_DEFAULT_CAMERAS;
    std::string logFile;
    bool logStderr = true;
    int faultRestartAfter = -1;  // seconds
    int faultByeAfter = -1;      // seconds after a playback is confirmed
    int controlPort = 0;         // loopback UDP port for status commands; 0: none
    // Where every datagram goes instead of its destination (a relay in tests).
    std::optional<Endpoint> outboundProxy;
};

const char* kUsage =
    "usage: gbplat [options]\n"
    "  --address IP            listen address (127.0.0.1)\n"
    "  --port N                UDP port (5061)\n"
    "  --device-id CODE        platform code (01552403048401000001)\n"
    "  --realm TEXT            digest realm (3402000000)\n"
    "  --user NAME             accept only this digest user name (any)\n"
    "  --password TEXT         digest password (482913)\n"
    "  --challenge spaced|compact   WWW-Authenticate style (spaced)\n"
    "  --qop yes|no            offer qop=\"auth\" (only with compact)\n"
    "  --opaque TEXT           send this opaque in the challenge (none)\n"
    "  --nonce TEXT            first nonce (random)\n"
    "  --cameras FILE          camera CSV (the repository's db/demo/cameras.csv)\n"
    "  --page-size N           catalogue items per NOTIFY/MESSAGE (4)\n"
    "  --xml-encoding NAME     encoding named in the XML declaration (GB2312)\n"
    "  --record-days N         days of recordings kept (30)\n"
    "  --gap HH:MM-HH:MM|none  daily recording gap, local time (03:00-03:10)\n"
    "  --speedup X             playback clock multiplier (1)\n"
    "  --t1 MS                 SIP timer T1 (500)\n"
    "  --unregistered 401|403  answer to a request from an unregistered device (401)\n"
    "  --subscribe-expires-max N  longest subscription granted, in seconds (3600)\n"
    "  --flap SECONDS          take a random camera offline or back online at this interval\n"
    "  --seed N                seed of the cameras --flap picks (random)\n"
    "  --control-port N        UDP port on 127.0.0.1 for \"CODE ON|OFF\" status commands\n"
    "  --log FILE              append the trace to FILE\n"
    "  --quiet                 no trace on stderr\n"
    "  --fault-restart-after S restart (forget registrations, new nonce) S seconds after start\n"
    "  --fault-bye-after S     send BYE S seconds after each playback is confirmed\n"
    "  --video-size WxH        synthetic recording's picture size, up to 1920x1080 (960x540)\n"
    "  --media FILE            stream this file's H.264 video, looped, instead\n"
    "  --font FILE             font of the picture's text (WenQuanYi Micro Hei)\n"
    "  --max-streams N         playbacks streaming at once; more get 486 (16)\n"
    "  --outbound-proxy H:P    send every datagram to H:P (a relay in tests)\n"
    "signals: SIGUSR1 restart, SIGUSR2 BYE for every open playback, SIGINT/SIGTERM stop\n";

bool parseGap(const std::string& text, RecordingPolicy& p) {
    if (text == "none") {
        p.gap = false;
        return true;
    }
    int h1, m1, h2, m2;
    if (std::sscanf(text.c_str(), "%d:%d-%d:%d", &h1, &m1, &h2, &m2) != 4)
        return false;
    p.gap = true;
    p.gapStartMinute = h1 * 60 + m1;
    p.gapEndMinute = h2 * 60 + m2;
    return p.gapStartMinute >= 0 && p.gapEndMinute > p.gapStartMinute && p.gapEndMinute <= 1440;
}

bool parseVideoSize(const std::string& text, MediaConfig& m) {
    int w = 0, h = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &end) != 2)
        return false;
    m.width = w;
    m.height = h;
    return w % 2 == 0 && h % 2 == 0 && w >= 64 && h >= 36 && w <= 1920 && h <= 1080;
}

bool parseOptions(int argc, char** argv, Options& o) {
    PlatformConfig& c = o.platform;
    using Setter = std::function<bool(const std::string&)>;
    auto number = [](int& target, int lo, int hi) {
        return [&target, lo, hi](const std::string& v) {
            char* end = nullptr;
            long n = std::strtol(v.c_str(), &end, 10);
            target = int(n);
            return *end == '\0' && !v.empty() && n >= lo && n <= hi;
        };
    };
    auto text = [](std::string& target) {
        return [&target](const std::string& v) {
            target = v;
            return true;
        };
    };
    int pageSize = int(c.pageSize);
    int maxStreams = int(c.maxStreams);
    const std::map<std::string, Setter> table = {
        {"--address", text(c.address)},
        {"--port", number(c.port, 1, 65535)},
        {"--device-id", text(c.deviceId)},
        {"--realm", text(c.realm)},
        {"--user", text(c.user)},
        {"--password", text(c.password)},
        {"--challenge",
         [&c](const std::string& v) {
             c.challengeStyle = v == "compact" ? ChallengeStyle::Compact : ChallengeStyle::Spaced;
             return v == "compact" || v == "spaced";
         }},
        {"--qop",
         [&c](const std::string& v) {
             c.offerQop = v == "yes" ? 1 : 0;
             return v == "yes" || v == "no";
         }},
        {"--opaque", text(c.opaque)},
        {"--nonce", text(c.nonce)},
        {"--cameras", text(o.cameraFile)},
        {"--page-size", number(pageSize, 1, 50)},
        {"--xml-encoding", text(c.xmlEncoding)},
        {"--record-days", number(c.recording.days, 1, 3650)},
        {"--gap", [&c](const std::string& v) { return parseGap(v, c.recording); }},
        {"--speedup",
         [&c](const std::string& v) {
             char* end = nullptr;
             c.speedup = std::strtod(v.c_str(), &end);
             return *end == '\0' && c.speedup > 0 && c.speedup <= 100000;
         }},
        {"--t1", number(c.t1Ms, 10, 10000)},
        {"--unregistered", number(c.unregisteredStatus, 401, 403)},
        {"--subscribe-expires-max", number(c.subscribeExpiresMax, 1, 86400)},
        {"--flap",
         [&c](const std::string& v) {
             char* end = nullptr;
             double seconds = std::strtod(v.c_str(), &end);
             c.flapMs = int(seconds * 1000);
             return *end == '\0' && !v.empty() && seconds >= 0.01 && seconds <= 86400;
         }},
        {"--seed",
         [&c](const std::string& v) {
             char* end = nullptr;
             c.flapSeed = std::strtoull(v.c_str(), &end, 10);
             return *end == '\0' && !v.empty() && v[0] != '-';
         }},
        {"--control-port", number(o.controlPort, 1, 65535)},
        {"--log", text(o.logFile)},
        {"--fault-restart-after", number(o.faultRestartAfter, 0, 86400 * 365)},
        {"--fault-bye-after", number(o.faultByeAfter, 0, 86400)},
        {"--video-size", [&o](const std::string& v) { return parseVideoSize(v, o.media); }},
        {"--media", text(o.media.mediaFile)},
        {"--font", text(o.media.fontFile)},
        {"--max-streams", number(maxStreams, 1, 1000)},
        {"--outbound-proxy",
         [&o](const std::string& v) {
             Endpoint proxy;
             if (!splitHostPort(v, proxy.host, proxy.port) || proxy.port == 0)
                 return false;
             o.outboundProxy = proxy;
             return true;
         }},
    };
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--quiet") {
            o.logStderr = false;
            continue;
        }
        if (a == "--help" || a == "-h")
            return false;
        auto it = table.find(a);
        if (it == table.end() || i + 1 >= argc || !it->second(argv[++i])) {
            std::fprintf(stderr, "gbplat: bad option or value: %s\n", a.c_str());
            return false;
        }
    }
    c.pageSize = size_t(pageSize);
    c.maxStreams = size_t(maxStreams);
    return c.unregisteredStatus == 401 || c.unregisteredStatus == 403;
}

int openSocket(const std::string& address, int port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    int size = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    return fd;
}

void sendDatagram(int fd, const Endpoint& to, const void* data, size_t size) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(to.port));
    if (inet_pton(AF_INET, to.host.c_str(), &sa.sin_addr) != 1)
        return;
    sendto(fd, data, size, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
}

// Closes the descriptor when it goes out of scope.
struct SocketHolder {
    int fd = -1;
    ~SocketHolder() {
        if (fd >= 0)
            close(fd);
    }
};

// The video leaves from port + 2, or from any free port when that one is taken; our answers
// name the port it really is.
int openMediaSocket(PlatformConfig& c) {
    int fd = c.port < 65534 ? openSocket(c.address, c.port + 2) : -1;
    if (fd < 0)
        fd = openSocket(c.address, 0);
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (fd >= 0 && getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
        c.mediaPort = ntohs(sa.sin_port);
    return fd;
}

int64_t localUtcOffset() {
    time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm.tm_gmtoff;
}

void installSignals() {
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2})
        sigaction(s, &sa, nullptr);
}

// Reads every pending datagram and hands it on; oversized ones are cut by the kernel, so they
// are flagged and dropped.
template <typename Take>
void drainSocket(int fd, EventLog& log, const char* what, Take take) {
    static char buf[65536];
    for (;;) {
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        ssize_t n = recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT | MSG_TRUNC,
                             reinterpret_cast<sockaddr*>(&sa), &len);
        if (n < 0)
            return;
        char host[INET_ADDRSTRLEN] = {0};
        inet_ntop(AF_INET, &sa.sin_addr, host, sizeof host);
        Endpoint from{host, ntohs(sa.sin_port)};
        if (size_t(n) > sizeof buf) {
            log.event("%s of %zd bytes from %s is too long: dropped", what, n, from.text().c_str());
            continue;
        }
        take(std::string(buf, size_t(n)), from);
    }
}

// Printable for the log: at most 60 characters, control bytes shown as '?'.
std::string printable(const std::string& text) {
    std::string out = text.substr(0, 60);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return out;
}

std::string applyStatusCommand(const std::string& line, Platform& platform, EventLog& log) {
    auto cmd = parseStatusCommand(line);
    if (!cmd) {
        log.event("control: unreadable command '%s'", printable(line).c_str());
        return "ERR expected CODE ON|OFF\n";
    }
    const char* status = cmd->online ? "ON" : "OFF";
    switch (platform.setCameraStatus(cmd->code, cmd->online)) {
        case StatusChange::Changed:
            return "OK " + cmd->code + " " + status + "\n";
        case StatusChange::Unchanged:
            log.event("control: camera %s is already %s", cmd->code.c_str(), status);
            return "OK " + cmd->code + " " + status + " unchanged\n";
        case StatusChange::UnknownCamera:
            break;
    }
    log.event("control: unknown camera '%s'", printable(cmd->code).c_str());
    return "ERR unknown camera " + printable(cmd->code) + "\n";
}

// Status commands on the control port: each datagram holds lines "CODE ON|OFF" and is answered
// to its sender with one line per command ("OK CODE OFF", "OK CODE OFF unchanged", "ERR …").
void serveControl(int fd, const std::string& datagram, const Endpoint& from, Platform& platform,
                  EventLog& log) {
    std::istringstream lines(datagram);
    std::string line, reply;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") != std::string::npos)
            reply += applyStatusCommand(line, platform, log);
    }
    if (!reply.empty())
        sendDatagram(fd, from, reply.data(), reply.size());
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!parseOptions(argc, argv, opt)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    opt.platform.recording.utcOffsetSeconds = localUtcOffset();
    if (!opt.platform.flapSeed)
        opt.platform.flapSeed = std::random_device{}();  // logged, so a run can be repeated
    EventLog log;
    std::FILE* logFile = nullptr;
    if (!opt.logFile.empty()) {
        logFile = std::fopen(opt.logFile.c_str(), "a");
        if (!logFile) {
            std::fprintf(stderr, "gbplat: cannot open log %s: %s\n", opt.logFile.c_str(),
                         std::strerror(errno));
            return 1;
        }
        log.addSink(logFile);
    }
    if (opt.logStderr)
        log.addSink(stderr);

    std::vector<Camera> cameras;
    std::vector<std::string> problems;
    if (!loadCameraFile(opt.cameraFile, cameras, &problems)) {
        std::fprintf(stderr, "gbplat: cannot read camera file %s\n", opt.cameraFile.c_str());
        return 1;
    }
    for (auto& p : problems)
        log.event("camera file %s: %s (row skipped)", opt.cameraFile.c_str(), p.c_str());

    int fd = openSocket(opt.platform.address, opt.platform.port);
    if (fd < 0) {
        std::fprintf(stderr, "gbplat: cannot bind %s:%d: %s\n", opt.platform.address.c_str(),
                     opt.platform.port, std::strerror(errno));
        return 1;
    }
    std::string why;
    if (!opt.media.mediaFile.empty() && !openFileSource(opt.media.mediaFile, &why)) {
        std::fprintf(stderr, "gbplat: --media: %s\n", why.c_str());
        return 1;
    }
    SocketHolder mediaSocket{openMediaSocket(opt.platform)};
    if (mediaSocket.fd < 0) {
        std::fprintf(stderr, "gbplat: no socket for the video: %s\n", std::strerror(errno));
        return 1;
    }
    SocketHolder control{opt.controlPort ? openSocket("127.0.0.1", opt.controlPort) : -1};
    if (opt.controlPort && control.fd < 0) {
        std::fprintf(stderr, "gbplat: cannot bind the control port 127.0.0.1:%d: %s\n",
                     opt.controlPort, std::strerror(errno));
        return 1;
    }
    opt.media.utcOffsetSeconds = opt.platform.recording.utcOffsetSeconds;
    StreamManager media(
        opt.media,
        [mfd = mediaSocket.fd](const Endpoint& to, const uint8_t* p, size_t n) {
            sendDatagram(mfd, to, p, n);
        },
        log);

    installSignals();
    SystemClock clock;
    Platform platform(
        opt.platform, cameras, clock,
        [fd, proxy = opt.outboundProxy](const Endpoint& to, const std::string& b) {
            sendDatagram(fd, proxy ? *proxy : to, b.data(), b.size());
        },
        log, &media);
    log.event("%zu cameras from %s; realm %s, device %s, challenge %s", cameras.size(),
              opt.cameraFile.c_str(), opt.platform.realm.c_str(), opt.platform.deviceId.c_str(),
              opt.platform.challengeStyle == ChallengeStyle::Compact ? "compact" : "spaced");
    log.event("video from %s:%d: %dx%d synthetic recordings%s%s", opt.platform.address.c_str(),
              opt.platform.mediaPort, opt.media.width, opt.media.height,
              opt.media.mediaFile.empty() ? "" : ", replaced by ", opt.media.mediaFile.c_str());
    if (opt.platform.flapMs > 0) {
        log.event("a random camera changes its status every %d ms (seed %llu)", opt.platform.flapMs,
                  static_cast<unsigned long long>(*opt.platform.flapSeed));
    }
    if (control.fd >= 0)
        log.event("status commands on 127.0.0.1:%d", opt.controlPort);
    std::printf("gbplat listening on %s:%d\n", opt.platform.address.c_str(), opt.platform.port);
    std::fflush(stdout);

    int64_t restartAt =
        opt.faultRestartAfter >= 0 ? clock.steadyMs() + opt.faultRestartAfter * 1000LL : -1;
    std::map<std::string, int64_t> byeDue;  // Call-ID -> when our fault BYE goes
    bool running = true;
    while (running) {
        int64_t now = clock.steadyMs();
        if (restartAt >= 0 && now >= restartAt) {
            restartAt = -1;
            platform.restart();
        }
        if (opt.faultByeAfter >= 0) {
            for (auto& pb : platform.playbacks()) {
                if (pb.confirmed && !byeDue.count(pb.callId))
                    byeDue[pb.callId] = now + opt.faultByeAfter * 1000LL;
            }
            for (auto& [callId, due] : byeDue) {
                if (due >= 0 && now >= due) {
                    due = -1;  // once per dialog
                    platform.byePlayback(callId);
                }
            }
        }
        int64_t next = platform.runTimers();
        int timeout = 200;
        if (next >= 0)
            timeout = int(std::clamp<int64_t>(next - clock.steadyMs(), 0, 200));
        pollfd fds[3] = {{fd, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}, {control.fd, POLLIN, 0}};
        int r = poll(fds, 3, timeout);
        if (r < 0 && errno != EINTR)
            break;
        if (r > 0 && (fds[1].revents & POLLIN)) {
            unsigned char sig;
            while (read(g_signalPipe[0], &sig, 1) == 1) {
                if (sig == SIGUSR1) {
                    platform.restart();
                } else if (sig == SIGUSR2) {
                    if (platform.byeOpenPlaybacks() == 0)
                        log.event("SIGUSR2: no open playback");
                } else {
                    running = false;
                }
            }
        }
        if (r > 0 && (fds[0].revents & POLLIN)) {
            drainSocket(fd, log, "datagram", [&](const std::string& d, const Endpoint& from) {
                platform.onDatagram(d, from);
            });
        }
        if (r > 0 && (fds[2].revents & POLLIN)) {
            drainSocket(control.fd, log, "control datagram",
                        [&](const std::string& d, const Endpoint& from) {
                            serveControl(control.fd, d, from, platform, log);
                        });
        }
    }
    log.event("stopping");
    media.stopAll();  // the stream threads log as they end: before the log file closes
    close(fd);
    if (logFile)
        std::fclose(logFile);
    return 0;
}
