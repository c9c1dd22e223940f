// The real gbplat program on loopback: its ready line, sipp (an independent SIP stack) as the
// client for registration and playback, the fault signals and a clean stop.
#include "GbplatProcess.h"

#include <cstdlib>
#include <ctime>

namespace {

bool haveSipp() {
    return std::system("command -v sipp > /dev/null 2>&1") == 0;
}

// Runs one sipp scenario against the platform; 0 when the scenario completed.
int runSipp(const std::string& scenario, int platPort, const std::string& password,
            const std::string& extra = std::string()) {
    std::string cmd = "sipp -sf " GBPLAT_SCENARIOS "/" + scenario + " -m 1 -i 127.0.0.1 -p " +
                      std::to_string(freeUdpPort()) + " -s " + kUser + " -au " + kUser + " -ap " +
                      password + " " + extra + " 127.0.0.1:" + std::to_string(platPort) +
                      " -nostdin -timeout 20s -timeout_error > /dev/null 2>&1";
    int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string spanKeys(int64_t start, int64_t end) {
    return "-key camera " + std::string(kCamera) + " -key start " + std::to_string(start) +
           " -key end " + std::to_string(end);
}

// A console-like client on a plain socket for what sipp does not express easily.
class UdpClient {
public:
    UdpClient() : fd_(loopbackSocket(port)) {}
    ~UdpClient() { close(fd_); }
    void send(int toPort, const std::string& text) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = htons(uint16_t(toPort));
        sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    }
    std::string receive(int timeoutMs = 5000) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return std::string();
        char buf[65536];
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, size_t(n)) : std::string();
    }
    std::string keepalive(int platPort, int n) {
        std::string body =
            "<?xml version=\"1.0\"?>\r\n<Notify>\r\n<CmdType>Keepalive</CmdType>\r\n"
            "<DeviceID>34020000001320000001</DeviceID>\r\n<Status>OK</Status>\r\n</Notify>\r\n";
        std::string tag = std::to_string(1000000000 + n);
        send(platPort,
             "MESSAGE sip:01552403048401000001@127.0.0.1:" + std::to_string(platPort) +
                 " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + std::to_string(port) +
                 ";rport;branch=z9hG4bK-" + tag + "\r\nFrom: <sip:" + kUser +
                 "@127.0.0.1>;tag=" + tag +
                 "\r\nTo: <sip:01552403048401000001@127.0.0.1>\r\n"
                 "Call-ID: " +
                 tag + "@127.0.0.1\r\nCSeq: " + tag +
                 " MESSAGE\r\nMax-Forwards: 70\r\nContent-Type: application/MANSCDP+xml\r\n"
                 "Content-Length: " +
                 std::to_string(body.size()) + "\r\n\r\n" + body);
        std::string answer = receive();
        return answer.substr(0, answer.find("\r\n"));
    }
    int port = 0;

private:
    int fd_ = -1;
};

class GbplatProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveSipp())
            GTEST_SKIP() << "sipp is not installed";
    }
};

TEST_F(GbplatProgram, ReadyLineRegistrationAndWrongPassword) {
    GbplatProcess p;
    std::string ready = p.start({});
    ASSERT_EQ(ready, "gbplat listening on 127.0.0.1:" + std::to_string(p.port));
    EXPECT_EQ(runSipp("register.xml", p.port, "482913"), 0);
    EXPECT_EQ(runSipp("register_forbidden.xml", p.port, "wrong"), 0);
    EXPECT_EQ(p.stop(), 0);
    std::string log = p.log();
    EXPECT_NE(log.find(" RECV from 127.0.0.1:"), std::string::npos);
    EXPECT_NE(log.find(" SEND to 127.0.0.1:"), std::string::npos);
    EXPECT_NE(log.find("SIP/2.0 403 Forbidden"), std::string::npos);
    EXPECT_NE(log.find("EVENT stopping"), std::string::npos);
}

TEST_F(GbplatProgram, CompactChallengeWithQop) {
    GbplatProcess p;
    ASSERT_FALSE(p.start({"--challenge", "compact", "--opaque", "0pq"}).empty());
    EXPECT_EQ(runSipp("register.xml", p.port, "482913"), 0);  // sipp answers with qop and opaque
    EXPECT_EQ(p.stop(), 0);
    EXPECT_NE(p.log().find("qop=auth"), std::string::npos);
}

TEST_F(GbplatProgram, PlaybackDialogAndEndOfRecord) {
    GbplatProcess p;
    ASSERT_FALSE(p.start({"--speedup", "1000", "--gap", "none"}).empty());
    int64_t now = int64_t(std::time(nullptr));
    // Spans two days and one day back, well inside the recordings.
    EXPECT_EQ(runSipp("playback.xml", p.port, "482913",
                      spanKeys(now - 2 * 86400, now - 2 * 86400 + 3600)),
              0);
    EXPECT_EQ(
        runSipp("media_status.xml", p.port, "482913", spanKeys(now - 86400, now - 86400 + 60)), 0);
    EXPECT_EQ(p.stop(), 0);
    std::string log = p.log();
    EXPECT_NE(log.find("<NotifyType>121</NotifyType>"), std::string::npos);
    EXPECT_EQ(log.find("matches no dialog"), std::string::npos);
}

TEST_F(GbplatProgram, RestartSignalAndTimedRestart) {
    GbplatProcess p;
    ASSERT_FALSE(p.start({"--nonce", "firstnonce", "--gap", "none"}).empty());
    ASSERT_EQ(runSipp("register.xml", p.port, "482913"), 0);
    UdpClient console;
    EXPECT_EQ(console.keepalive(p.port, 1), "SIP/2.0 200 OK");
    p.signal(SIGUSR1);
    std::string answer;
    // The signal is handled asynchronously: keep asking until the restart shows.
    for (int i = 2; i < 50 && answer != "SIP/2.0 401 Unauthorized"; ++i) {
        answer = console.keepalive(p.port, i);
        if (answer != "SIP/2.0 401 Unauthorized")
            usleep(100'000);
    }
    EXPECT_EQ(answer, "SIP/2.0 401 Unauthorized");
    p.signal(SIGUSR2);  // no playback open: logged, nothing sent
    EXPECT_EQ(runSipp("register.xml", p.port, "482913"), 0);  // registers again with the new nonce
    EXPECT_EQ(console.keepalive(p.port, 70), "SIP/2.0 200 OK");
    EXPECT_EQ(p.stop(), 0);
    std::string log = p.log();
    EXPECT_NE(log.find("EVENT restart"), std::string::npos);
    EXPECT_NE(log.find("SIGUSR2: no open playback"), std::string::npos);

    GbplatProcess timed;
    ASSERT_FALSE(timed.start({"--fault-restart-after", "3"}).empty());
    ASSERT_EQ(runSipp("register.xml", timed.port, "482913"), 0);
    answer.clear();
    UdpClient c2;
    for (int i = 100; i < 200 && answer != "SIP/2.0 401 Unauthorized"; ++i) {
        answer = c2.keepalive(timed.port, i);
        usleep(100'000);
    }
    EXPECT_EQ(answer, "SIP/2.0 401 Unauthorized");
    EXPECT_EQ(timed.stop(), 0);
}

TEST_F(GbplatProgram, PlatformByeFault) {
    GbplatProcess p;
    ASSERT_FALSE(p.start({"--fault-bye-after", "0", "--gap", "none"}).empty());
    int64_t now = int64_t(std::time(nullptr));
    EXPECT_EQ(runSipp("platform_bye.xml", p.port, "482913",
                      spanKeys(now - 2 * 86400, now - 2 * 86400 + 3600)),
              0);
    EXPECT_EQ(p.stop(), 0);
    EXPECT_NE(p.log().find("our BYE for"), std::string::npos);
}

// The status commands a test script sends, and the log lines it can wait for.
TEST(GbplatStatus, ControlPortAndFlaps) {
    GbplatProcess p;
    int control = freeUdpPort();
    ASSERT_FALSE(p.start({"--control-port", std::to_string(control)}).empty());
    UdpClient script;
    script.send(control, std::string(kCamera) + " OFF\r\n00399001010019999999 ON\nnonsense\n");
    EXPECT_EQ(script.receive(), "OK " + std::string(kCamera) +
                                    " OFF\nERR unknown camera 00399001010019999999\n"
                                    "ERR expected CODE ON|OFF\n");
    script.send(control, std::string(kCamera) + " OFF\n");
    EXPECT_EQ(script.receive(), "OK " + std::string(kCamera) + " OFF unchanged\n");
    EXPECT_EQ(p.stop(), 0);
    EXPECT_NE(p.log().find("EVENT camera " + std::string(kCamera) + " status OFF\n"),
              std::string::npos);

    GbplatProcess flapping;
    ASSERT_FALSE(flapping.start({"--flap", "0.1", "--seed", "5"}).empty());
    usleep(600'000);
    EXPECT_EQ(flapping.stop(), 0);
    std::string log = flapping.log();
    int changes = 0;
    for (size_t at = log.find("EVENT camera "); at != std::string::npos;
         at = log.find("EVENT camera ", at + 1)) {
        ++changes;
    }
    EXPECT_GE(changes, 3);
    EXPECT_NE(log.find("(seed 5)"), std::string::npos);
}

TEST(GbplatOptions, BadOptionIsRefusedWithUsage) {
    for (const char* bad : {" --port 0", " --flap 0", " --subscribe-expires-max 0", " --seed -1"}) {
        int status = std::system((std::string(GBPLAT_BIN) + bad + " > /dev/null 2>&1").c_str());
        EXPECT_EQ(WEXITSTATUS(status), 2) << bad;
    }
    int status;
    status =
        std::system(GBPLAT_BIN " --cameras /nonexistent/cameras.csv --port 1 > /dev/null 2>&1");
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

}  // namespace
