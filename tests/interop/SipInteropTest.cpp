// CCTVCAR against a real SIP implementation: SIPp plays the video platform over UDP on loopback,
// this driver plays the console over a plain socket, and tshark checks every datagram on the wire.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <functional>
#include <string>

#include "CCTVCAR.h"

namespace {

constexpr const char* kHostCode = "34020000001320000001";
constexpr const char* kPlatCode = "34020000002000000001";
constexpr const char* kCamera = "34020000001310000001";
constexpr const char* kUser = "admin";
constexpr const char* kPassword = "12345678";
constexpr int kAnswerWaitMs = 3000;  // before a request is sent again
constexpr int kAttempts = 5;

// A UDP socket on a free loopback port.
class UdpSocket {
public:
    UdpSocket() {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = loopback(0);
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return;
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~UdpSocket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    static sockaddr_in loopback(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return a;
    }
    int port() const { return m_port; }
    bool sendTo(int port, const char* text, int length) const {
        sockaddr_in a = loopback(port);
        return ::sendto(m_fd, text, size_t(length), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
               length;
    }
    // One datagram, or an empty text after timeoutMs.
    std::string receive(int timeoutMs) const {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return {};
        std::string buffer(65536, '\0');
        ssize_t n = ::recv(m_fd, buffer.data(), buffer.size(), 0);
        buffer.resize(n > 0 ? size_t(n) : 0);
        return buffer;
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

// True while some process has the UDP port bound on loopback.
bool portBound(int port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = UdpSocket::loopback(port);
    bool taken = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
    ::close(fd);
    return taken;
}

int freePort() {
    UdpSocket probe;
    return probe.port();
}

QString fileText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// tshark writing every UDP datagram between the two ports to a capture file.
class Capture {
public:
    Capture(const QString& file, int portA, int portB) : m_file(file), m_a(portA), m_b(portB) {}
    ~Capture() { stop(); }

    bool start(QString* why) {
        m_tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        if (m_tshark.isEmpty()) {
            *why = QStringLiteral("tshark not installed");
            return false;
        }
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(m_tshark, {QStringLiteral("-i"), QStringLiteral("lo"), QStringLiteral("-f"),
                                   QStringLiteral("udp port %1 or udp port %2").arg(m_a).arg(m_b),
                                   QStringLiteral("-w"), m_file, QStringLiteral("-q")});
        QString err;
        for (int i = 0; i < 200 && !err.contains(QLatin1String("Capturing on")); ++i) {
            if (!m_process.waitForReadyRead(100) && m_process.state() != QProcess::Running)
                break;
            err += QString::fromLocal8Bit(m_process.readAllStandardError());
        }
        if (!err.contains(QLatin1String("Capturing on"))) {
            *why = QStringLiteral("tshark did not start capturing: ") + err;
            return false;
        }
        return true;
    }

    void stop() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        QThread::msleep(300);  // let the last datagrams reach the capture
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // One line per captured frame: "number<TAB>request line<TAB>status line<TAB>malformed".
    QStringList decodedFrames() {
        stop();
        QProcess reader;
        reader.start(m_tshark, {QStringLiteral("-r"), m_file, QStringLiteral("-d"),
                                QStringLiteral("udp.port==%1,sip").arg(m_a), QStringLiteral("-d"),
                                QStringLiteral("udp.port==%1,sip").arg(m_b), QStringLiteral("-T"),
                                QStringLiteral("fields"), QStringLiteral("-e"),
                                QStringLiteral("frame.number"), QStringLiteral("-e"),
                                QStringLiteral("sip.Request-Line"), QStringLiteral("-e"),
                                QStringLiteral("sip.Status-Line"), QStringLiteral("-e"),
                                QStringLiteral("_ws.malformed")});
        reader.waitForFinished(30000);
        return QString::fromUtf8(reader.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

private:
    QString m_file;
    int m_a, m_b;
    QString m_tshark;
    QProcess m_process;
};

// One SIPp run of a scenario template, as the platform on its own port.
class Platform {
public:
    Platform(const QString& dir, const QString& scenario, const QMap<QString, QString>& values,
             int calls)
        : m_dir(dir), m_port(freePort()) {
        QString text = fileText(QStringLiteral(SIP_SCENARIO_DIR "/") + scenario);
        for (auto it = values.begin(); it != values.end(); ++it)
            text.replace(QLatin1Char('@') + it.key() + QLatin1Char('@'), it.value());
        m_scenario = dir + QLatin1Char('/') + scenario;
        QFile out(m_scenario);
        if (out.open(QIODevice::WriteOnly))
            out.write(text.toUtf8());
        m_calls = calls;
    }
    ~Platform() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    int port() const { return m_port; }

    bool start() {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(
            QStringLiteral("sipp"),
            {QStringLiteral("-sf"), m_scenario, QStringLiteral("-i"), QStringLiteral("127.0.0.1"),
             QStringLiteral("-p"), QString::number(m_port), QStringLiteral("-m"),
             QString::number(m_calls), QStringLiteral("-timeout"), QStringLiteral("40s"),
             QStringLiteral("-timeout_error"), QStringLiteral("-nostdin"),
             QStringLiteral("-trace_err"), QStringLiteral("-error_file"),
             m_dir + QStringLiteral("/sipp-errors.log")});
        if (!m_process.waitForStarted(10000))
            return false;
        for (int i = 0; i < 200 && m_process.state() == QProcess::Running; ++i) {
            if (portBound(m_port))
                return true;  // SIPp listens
            m_process.waitForFinished(50);
        }
        return false;
    }

    std::string output() { return QString::fromLocal8Bit(m_process.readAll()).toStdString(); }

    // SIPp's exit code (0: every call passed), after it finished on its own.
    int finish(QString* output) {
        if (!m_process.waitForFinished(60000))
            m_process.kill();
        m_process.waitForFinished(5000);
        *output = QString::fromLocal8Bit(m_process.readAll()).right(3000) +
                  fileText(m_dir + QStringLiteral("/sipp-errors.log"));
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

private:
    QString m_dir;
    int m_port;
    QString m_scenario;
    int m_calls = 1;
    QProcess m_process;
};

// The console side: the codec over a plain UDP socket, as the form drives it.
class Console {
public:
    explicit Console(int platformPort) : m_platform(platformPort) {
        const QByteArray ourPort = QByteArray::number(m_socket.port());
        const QByteArray platPort = QByteArray::number(platformPort);
        m_car.setSessionParams("127.0.0.1", kHostCode, ourPort.constData(), "127.0.0.1", kPlatCode,
                               platPort.constData(), kUser, kPassword, "0", "0", "1");
    }

    CCTVCAR& car() { return m_car; }
    int port() const { return m_socket.port(); }
    int exchanged() const { return m_exchanged; }

    bool send(const char* text, int length) {
        if (text == nullptr || length <= 0)
            return false;
        ++m_exchanged;
        return m_socket.sendTo(m_platform, text, length);
    }

    // Builds and sends a message that expects no answer (ACK, replies).
    bool send(const std::function<const char*(int*)>& build) {
        int length = 0;
        const char* text = build(&length);
        return send(text, length);
    }

    // Sends the built request until a datagram of the expected kind arrives; other datagrams
    // (provisional answers, retransmissions) are read and skipped.
    bool request(const std::function<const char*(int*)>& build, const std::string& kind) {
        int length = 0;
        const char* text = build(&length);
        const std::string message = text ? std::string(text, size_t(length)) : std::string();
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            if (!send(message.data(), int(message.size())))
                return false;
            if (awaitKind(kind, kAnswerWaitMs))
                return true;
        }
        return false;
    }

    bool awaitKind(const std::string& kind, int timeoutMs) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < until) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            std::string d = m_socket.receive(int(std::max<int64_t>(1, left.count())));
            if (d.empty())
                continue;
            ++m_exchanged;
            if (m_car.handleIncoming(d.data(), int(d.size())) > 0 && m_car.messageKind() == kind)
                return true;
            m_seen.push_back(m_car.messageKind());
        }
        return false;
    }

    std::string seen() const {
        std::string all;
        for (const std::string& k : m_seen)
            all += "[" + k + "]";
        return all;
    }

private:
    UdpSocket m_socket;
    int m_platform;
    CCTVCAR m_car;
    int m_exchanged = 0;
    std::vector<std::string> m_seen;
};

class SipInterop : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("sipp")).isEmpty())
            GTEST_SKIP() << "sipp not installed";
        ASSERT_TRUE(m_dir.isValid());
    }

    QMap<QString, QString> values(const QString& challenge = QString()) const {
        return {{QStringLiteral("USER"), QLatin1String(kUser)},
                {QStringLiteral("PASSWORD"), QLatin1String(kPassword)},
                {QStringLiteral("PLAT_CODE"), QLatin1String(kPlatCode)},
                {QStringLiteral("HOST_CODE"), QLatin1String(kHostCode)},
                {QStringLiteral("CAMERA"), QLatin1String(kCamera)},
                {QStringLiteral("CHALLENGE"), challenge}};
    }

    // Every captured datagram decodes as SIP and none is malformed.
    void expectCleanWire(Capture& capture, int exchanged) {
        const QStringList frames = capture.decodedFrames();
        EXPECT_GE(frames.size(), exchanged);
        for (const QString& frame : frames) {
            const QStringList f = frame.split(QLatin1Char('\t'));
            SCOPED_TRACE(frame.toStdString());
            ASSERT_GE(f.size(), 4);
            EXPECT_FALSE(f[1].isEmpty() && f[2].isEmpty()) << "not decoded as SIP";
            EXPECT_TRUE(f[3].isEmpty()) << "malformed";
        }
    }

    void startCapture(Capture& capture) {
        QString why;
        ASSERT_TRUE(capture.start(&why)) << why.toStdString();
    }

    void expectPlatformPassed(Platform& platform) {
        QString output;
        EXPECT_EQ(platform.finish(&output), 0) << output.toStdString();
    }

    void registerWith(const QString& challenge) {
        Platform platform(m_dir.path(), QStringLiteral("register_uas.xml"), values(challenge), 2);
        Console console(platform.port());
        Capture capture(m_dir.path() + QStringLiteral("/register.pcap"), platform.port(),
                        console.port());
        startCapture(capture);
        ASSERT_TRUE(platform.start()) << platform.output();
        CCTVCAR& car = console.car();
        ASSERT_TRUE(console.request([&](int* n) { return car.buildRegister(0, n); }, "REGISTER"))
            << console.seen();
        EXPECT_FALSE(car.receivedIds().nonce.empty());
        EXPECT_TRUE(console.request([&](int* n) { return car.buildRegister(1, n); }, "LOGIN"))
            << console.seen();
        expectPlatformPassed(platform);
        expectCleanWire(capture, console.exchanged());
    }

    QTemporaryDir m_dir;
};

TEST_F(SipInterop, RegisterWithDigestChallengeWithoutBlanks) {
    registerWith(
        QStringLiteral("Digest realm=\"3402000000\",qop=\"auth\","
                       "nonce=\"9a8b7c6d5e4f30211203948576abcdef\",algorithm=MD5"));
}

TEST_F(SipInterop, RegisterWithDigestChallengeWithBlanksAndOpaque) {
    registerWith(
        QStringLiteral("Digest realm=\"3402000000\", nonce=\"6fe9ba44a76be22a\", "
                       "opaque=\"5ccc069c403ebaf9\", algorithm=MD5"));
}

TEST_F(SipInterop, PlaybackDialogWithPauseSpeedSeekAndBye) {
    Platform platform(m_dir.path(), QStringLiteral("playback_uas.xml"), values(), 1);
    Console console(platform.port());
    Capture capture(m_dir.path() + QStringLiteral("/playback.pcap"), platform.port(),
                    console.port());
    startCapture(capture);
    ASSERT_TRUE(platform.start()) << platform.output();
    CCTVCAR& car = console.car();
    ASSERT_TRUE(console.request(
        [&](int* n) { return car.buildPlaybackInvite(n, 1700000000, 1700003600, kCamera); },
        "INVITE_200OK"))
        << console.seen();
    EXPECT_EQ(car.recordDuration(), 3600);
    ASSERT_TRUE(console.send([&](int* n) { return car.buildPlaybackAck(n); }));
    EXPECT_TRUE(console.request(
        [&](int* len) { return car.buildPlaybackInfo(len, 1, nullptr, -1); }, "INFO_REPLAY"));
    EXPECT_TRUE(console.request([&](int* len) { return car.buildPlaybackInfo(len, 3, "2.0", -1); },
                                "INFO_REPLAY"));
    EXPECT_TRUE(console.request(
        [&](int* len) { return car.buildPlaybackInfo(len, 4, nullptr, 1800); }, "INFO_REPLAY"));
    EXPECT_TRUE(console.request([&](int* len) { return car.buildPlaybackBye(len); }, "BYE"))
        << console.seen();
    expectPlatformPassed(platform);
    expectCleanWire(capture, console.exchanged());
}

TEST_F(SipInterop, EndOfRecordingMessageIsAnsweredInsideTheDialog) {
    Platform platform(m_dir.path(), QStringLiteral("media_status_uas.xml"), values(), 1);
    Console console(platform.port());
    Capture capture(m_dir.path() + QStringLiteral("/media_status.pcap"), platform.port(),
                    console.port());
    startCapture(capture);
    ASSERT_TRUE(platform.start()) << platform.output();
    CCTVCAR& car = console.car();
    ASSERT_TRUE(console.request(
        [&](int* n) { return car.buildPlaybackInvite(n, 1700000000, 1700000600, kCamera); },
        "INVITE_200OK"))
        << console.seen();
    ASSERT_TRUE(console.send([&](int* n) { return car.buildPlaybackAck(n); }));
    ASSERT_TRUE(console.awaitKind("MESSAGE_REPLAY", 15000)) << console.seen();
    ASSERT_TRUE(console.send([&](int* n) { return car.buildPlaybackMessageOk(n); }));
    EXPECT_TRUE(console.request([&](int* len) { return car.buildPlaybackBye(len); }, "BYE"))
        << console.seen();
    expectPlatformPassed(platform);
    expectCleanWire(capture, console.exchanged());
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("NXROOT", "/tmp");
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
