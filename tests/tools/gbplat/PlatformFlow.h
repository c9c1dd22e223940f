// A console written as literal datagrams, driving gbplat in-process on a fake clock: the
// fixture and the test's own reading of what the platform sends.
#pragma once

#include "Digest.h"
#include "Platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using namespace gbplat;

namespace flow {

const int64_t kNoon = 20000LL * 86400 + 12 * 3600;  // "now" on the platform's wall clock
const Endpoint kConsole{"127.0.0.1", 5060};
inline const char* kNonce = "0123456789abcdef0123456789abcdef";
inline const char* kUser = "34020000001320000001";
// The first camera of the demo file, whatever its code; set when a test starts the platform.
inline std::string kCamera;

class FakeClock : public PlatformClock {
public:
    int64_t ms = 1000;
    int64_t steadyMs() override { return ms; }
    int64_t epochSeconds() override { return kNoon; }
};

struct Sent {
    Endpoint to;
    std::string text;
};

// The test's own reading of a datagram: nothing of gbplat's parser is used.
inline std::string startLine(const std::string& t) {
    return t.substr(0, t.find("\r\n"));
}

inline std::vector<std::string> fields(const std::string& t, const std::string& name) {
    std::vector<std::string> out;
    size_t end = t.find("\r\n\r\n");
    size_t pos = t.find("\r\n") + 2;
    while (pos < end) {
        size_t eol = t.find("\r\n", pos);
        std::string line = t.substr(pos, eol - pos);
        if (line.compare(0, name.size() + 2, name + ": ") == 0)
            out.push_back(line.substr(name.size() + 2));
        pos = eol + 2;
    }
    return out;
}

inline std::string field(const std::string& t, const std::string& name) {
    auto f = fields(t, name);
    return f.empty() ? std::string() : f[0];
}

inline std::string bodyOf(const std::string& t) {
    return t.substr(t.find("\r\n\r\n") + 4);
}

inline std::string tagOf(const std::string& value) {
    size_t p = value.find(";tag=");
    return p == std::string::npos ? std::string()
                                  : value.substr(p + 5, value.find(';', p + 5) - p - 5);
}

inline int count(const std::string& hay, const std::string& needle) {
    int n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1))
        ++n;
    return n;
}

inline std::string xmlText(const std::string& body, const std::string& name) {
    size_t b = body.find("<" + name + ">");
    if (b == std::string::npos)
        return std::string();
    b += name.size() + 2;
    return body.substr(b, body.find("</" + name + ">", b) - b);
}

// The console's 200 OK to a request of the platform: every Via, From, To (+ our tag), Call-ID
// and CSeq echoed.
inline std::string okFor(const std::string& req, const std::string& ourTag = "cli0000001") {
    std::string out = "SIP/2.0 200 OK\r\n";
    for (auto& v : fields(req, "Via"))
        out += "Via: " + v + "\r\n";
    std::string to = field(req, "To");
    if (tagOf(to).empty())
        to += ";tag=" + ourTag;
    out += "From: " + field(req, "From") + "\r\nTo: " + to +
           "\r\nCall-ID: " + field(req, "Call-ID") + "\r\nCSeq: " + field(req, "CSeq") +
           "\r\nContent-Length: 0\r\n\r\n";
    return out;
}

inline std::string withBody(std::string headers, const std::string& body) {
    return headers + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

inline std::string registerText(int cseq, const std::string& auth = std::string()) {
    return "REGISTER SIP:01552403048401000001@127.0.0.1:5061 SIP/2.0\r\n"
           "Via: SIP/2.0/UDP 127.0.0.1:5060;rport;branch=z9hG4bK-000000004" +
           std::to_string(cseq) +
           "\r\n"
           "From: <sip:34020000001320000001@127.0.0.1:5060>;tag=000000004" +
           std::to_string(cseq) +
           "\r\n"
           "To: <sip:34020000001320000001@127.0.0.1:5060>\r\n"
           "Call-ID: Vekta9-000000004" +
           std::to_string(cseq) +
           "-0000000007\r\n"
           "CSeq: " +
           std::to_string(cseq) +
           " REGISTER\r\n"
           "Contact: <sip:34020000001320000001@127.0.0.1:5060>\r\n" +
           (auth.empty() ? "" : "Authorization: " + auth + "\r\n") +
           "User-Agent: TAVI\r\nMax-Forwards: 70\r\nExpires: 3600\r\nContent-Length: 0\r\n\r\n";
}

inline std::string consoleAuth(const std::string& response, const std::string& nonce = kNonce) {
    return "Digest "
           "username=\"34020000001320000001\",uri=\"sip:01552403048401000001@127.0.0.1:5061\","
           "algorithm=MD5,realm=\"3402000000\",nonce=\"" +
           nonce + "\",response=\"" + response + "\"";
}

inline std::string manscdp(const std::string& method, const std::string& branch,
                           const std::string& body, const std::string& callId = "m1@127.0.0.1",
                           int cseq = 20) {
    return withBody(
        "MESSAGE sip:01552403048401000001@127.0.0.1:5061 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 127.0.0.1:5060;rport;branch=" +
            branch +
            "\r\n"
            "From: <sip:34020000001320000001@127.0.0.1>;tag=" +
            branch.substr(8) +
            "\r\n"
            "To: <sip:01552403048401000001@127.0.0.1>\r\n"
            "Call-ID: " +
            callId +
            "\r\n"
            "CSeq: " +
            std::to_string(cseq) + " " + method +
            "\r\n"
            "Max-Forwards: 70\r\nContent-Type: application/MANSCDP+xml\r\n",
        body);
}

const std::string kKeepalive =
    "<?xml version=\"1.0\"?>\r\n<Notify>\r\n<CmdType>Keepalive</CmdType>\r\n"
    "<DeviceID>34020000001320000001</DeviceID>\r\n<Status>OK</Status>\r\n</Notify>\r\n";
const std::string kCatalogQuery =
    "<?xml version=\"1.0\"?>\r\n<Query>\r\n<CmdType>Catalog</CmdType>\r\n<SN>17</SN>\r\n"
    "<DeviceID>01552403048401000001</DeviceID>\r\n</Query>\r\n";

const std::string kConsoleVideo =
    "m=video 5060 RTP/AVP 96 98 97\r\na=recvonly\r\na=rtpmap:96 PS/90000\r\n";

// The console's INVITE, whose c= line and m= section may be replaced.
inline std::string inviteText(int64_t start, int64_t end, std::string camera = std::string(),
                              const std::string& session = "Playback",
                              const std::string& connection = "c=IN IP4 127.0.0.1\r\n",
                              const std::string& video = kConsoleVideo) {
    if (camera.empty())
        camera = kCamera;
    std::string sdp = "v=0\r\no=01552403048401000001 0 0 IN IP4 127.0.0.1\r\ns=" + session +
                      "\r\nu=" + camera + ":3\r\n" + connection + "t=" + std::to_string(start) +
                      " " + std::to_string(end) + "\r\n" + video + "\r\n";
    return withBody(
        "INVITE sip:01552403048401000001@127.0.0.1:5061 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 127.0.0.1:5060;rport;branch=z9hG4bK-0000000100\r\n"
        "From: <sip:34020000001320000001@127.0.0.1:5060>;tag=0000000100\r\n"
        "To: <sip:01552403048401000001@127.0.0.1:5061>\r\n"
        "Call-ID: Vekta9-0000000100-0000000001\r\n"
        "Subject: 01552403048401000001:0100000001,34020000001320000001:0100000001\r\n"
        "CSeq: 1 INVITE\r\n"
        "Contact: <sip:34020000001320000001@127.0.0.1:5060>\r\n"
        "Content-Type: Application/SDP\r\nMax-Forwards: 70\r\n",
        sdp);
}

// An in-dialog request of the console; the defaults name the dialog opened by inviteText.
struct InDialog {
    std::string callId = "Vekta9-0000000100-0000000001";
    std::string fromTag = "0000000100";
    std::string toTag;
    int cseq = 2;
    int branch = 200;
};

inline std::string dialogRequest(const std::string& method, const InDialog& d,
                                 const std::string& type, const std::string& body) {
    std::string h = method +
                    " sip:01552403048401000001@127.0.0.1:5061 SIP/2.0\r\n"
                    "Via: SIP/2.0/UDP 127.0.0.1:5060;rport;branch=z9hG4bK-" +
                    std::to_string(d.branch) +
                    "\r\n"
                    "From: <sip:34020000001320000001@127.0.0.1:5060>;tag=" +
                    d.fromTag +
                    "\r\n"
                    "To: <sip:01552403048401000001@127.0.0.1:5061>;tag=" +
                    d.toTag +
                    "\r\n"
                    "Call-ID: " +
                    d.callId +
                    "\r\n"
                    "CSeq: " +
                    std::to_string(d.cseq) + " " + method + "\r\nMax-Forwards: 70\r\n" +
                    (type.empty() ? "" : "Content-Type: " + type + "\r\n");
    return withBody(h, body);
}

inline std::string infoText(const InDialog& d, const std::string& rtsp) {
    return dialogRequest("INFO", d, "Application/MANSRTSP", rtsp);
}

// What the platform asks of its video.
struct MediaCalls : MediaControl {
    std::vector<StreamOrder> started;
    std::vector<std::pair<uint64_t, StreamClock>> steered;
    std::vector<uint64_t> stopped;
    void startStream(const StreamOrder& o, const StreamClock&) override { started.push_back(o); }
    void steerStream(uint64_t id, const StreamClock& c) override { steered.push_back({id, c}); }
    void stopStream(uint64_t id) override { stopped.push_back(id); }
};

class PlatformFlow : public ::testing::Test {
protected:
    FakeClock clock;
    MediaCalls media;
    EventLog log;
    std::vector<Sent> sent;
    std::vector<std::pair<bool, std::string>> wire;  // every datagram; true: sent by gbplat
    std::unique_ptr<Platform> plat;
    std::vector<Camera> cameras;

    void start(PlatformConfig cfg = PlatformConfig()) {
        cfg.nonce = kNonce;
        cfg.t1Ms = 500;
        cfg.recording = RecordingPolicy{30, 3 * 60, 3 * 60 + 10, true, 0};
        std::vector<std::string> problems;
        ASSERT_TRUE(loadCameraFile(GBPLAT_DEMO_CAMERAS, cameras, &problems));
        ASSERT_FALSE(cameras.empty());
        kCamera = cameras[0].code;
        plat = std::make_unique<Platform>(
            cfg, cameras, clock,
            [this](const Endpoint& to, const std::string& b) {
                sent.push_back({to, b});
                wire.push_back({true, b});
            },
            log, &media);
    }
    std::vector<Sent> in(const std::string& text, const Endpoint& from = kConsole) {
        wire.push_back({false, text});
        plat->onDatagram(text, from);
        return take();
    }
    std::vector<Sent> take() {
        auto s = std::move(sent);
        sent.clear();
        return s;
    }
    // Moves the fake clock, firing every timer on its way.
    std::vector<Sent> advance(int64_t ms) {
        int64_t target = clock.ms + ms;
        for (int64_t next = plat->nextDeadline(); next >= 0 && next <= target;
             next = plat->nextDeadline()) {
            clock.ms = std::max(clock.ms, next);
            plat->runTimers();
        }
        clock.ms = target;
        return take();
    }
    void registerConsole() {
        auto r = in(registerText(1));
        ASSERT_EQ(r.size(), 1u);
        ASSERT_EQ(startLine(r[0].text), "SIP/2.0 401 Unauthorized");
        r = in(registerText(2, consoleAuth("9f586f5be903ec43253dd3eb5199ee26")));
        ASSERT_EQ(r.size(), 1u);
        ASSERT_EQ(startLine(r[0].text), "SIP/2.0 200 OK");
    }
    // INVITE for two hours up to now, answered 100 and 200; returns the platform's To tag.
    std::string openPlayback() {
        auto r = in(inviteText(kNoon - 7200, kNoon));
        EXPECT_EQ(r.size(), 2u);
        if (r.size() != 2)
            return std::string();
        EXPECT_EQ(startLine(r[0].text), "SIP/2.0 100 Trying");
        EXPECT_EQ(startLine(r[1].text), "SIP/2.0 200 OK");
        return tagOf(field(r[1].text, "To"));
    }
    InDialog dialog(const std::string& toTag) {
        InDialog d;
        d.toTag = toTag;
        return d;
    }
    void ack(const InDialog& d) {
        InDialog a = d;
        a.cseq = 1;
        a.branch = 199;
        EXPECT_TRUE(in(dialogRequest("ACK", a, "", "")).empty());
    }
};

}  // namespace flow

using namespace flow;
