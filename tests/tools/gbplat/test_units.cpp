// The pure parts of gbplat: message reader, digest, playback clock, recording spans, catalogue.
#include "CameraStatus.h"
#include "Catalogue.h"
#include "Digest.h"
#include "PlaybackClock.h"
#include "PlaybackText.h"
#include "RecordInfo.h"
#include "RecordingModel.h"
#include "SipMessage.h"

#include <gtest/gtest.h>

using namespace gbplat;

namespace {

const std::string kRequest =
    "INFO sip:01552403048401000001@127.0.0.1:5061 SIP/2.0\r\n"
    "v: SIP/2.0/UDP 127.0.0.1:5060;rport;branch=z9hG4bK-1, SIP/2.0/UDP "
    "10.0.0.9:5070;branch=z9hG4bK-0\r\n"
    "Via: SIP/2.0/UDP 10.0.0.8;branch=z9hG4bK-x\r\n"
    "f: <sip:34020000001320000001@127.0.0.1:5060>;tag=abc;x=1\r\n"
    "t: \"Plat\" <sip:01552403048401000001@127.0.0.1:5061>;tag=def\r\n"
    "i: call-1\r\n"
    "CSeq : 3 INFO\r\n"
    "Subject: first part,\r\n"
    "  second part\r\n"
    "c: Application/MANSRTSP\r\n"
    "l: 4\r\n"
    "\r\n"
    "PLAYextra";

}  // namespace

TEST(SipMessageTest, ReadsCompactFormsListsFoldingAndBody) {
    std::string why;
    auto m = parseSipMessage(kRequest, &why);
    ASSERT_TRUE(m) << why;
    EXPECT_TRUE(m->isRequest);
    EXPECT_EQ(m->method, "INFO");
    auto vias = m->headerValues("Via");
    ASSERT_EQ(vias.size(), 3u);
    EXPECT_EQ(parseVia(vias[0])->branch(), "z9hG4bK-1");
    EXPECT_EQ(parseVia(vias[1])->host, "10.0.0.9");
    EXPECT_EQ(parseVia(vias[2])->port, 0);
    EXPECT_EQ(parseNameAddr(*m->header("From"))->tag(), "abc");
    auto to = parseNameAddr(*m->header("to"));
    EXPECT_EQ(to->display, "\"Plat\"");
    EXPECT_EQ(to->tag(), "def");
    EXPECT_EQ(*m->header("Call-ID"), "call-1");
    EXPECT_EQ(parseCSeq(*m->header("CSeq"))->number, 3u);
    EXPECT_EQ(*m->header("Subject"), "first part, second part");
    EXPECT_EQ(m->body, "PLAY");  // Content-Length decides, the rest is ignored
}

TEST(SipMessageTest, RejectsWhatAStrictPeerMustNotGuess) {
    const std::pair<std::string, const char*> bad[] = {
        {"INFO sip:a@b SIP/2.0\r\nCall-ID: x\r\n", "no blank line"},
        {"INFO sip:a@b SIP/3.0\r\n\r\n", "version"},
        {"INFO  sip:a@b SIP/2.0\r\n\r\n", "double blank"},
        {"SIP/2.0 2000 OK\r\n\r\n", "status digits"},
        {"INFO sip:a@b SIP/2.0\r\n continuation\r\n\r\n", "fold first"},
        {"INFO sip:a@b SIP/2.0\r\nNoColon\r\n\r\n", "no colon"},
        {"INFO sip:a@b SIP/2.0\r\nContent-Length: 10\r\n\r\nshort", "body shorter than length"},
        {"INFO sip:a@b SIP/2.0\r\nContent-Length: -1\r\n\r\n", "negative length"},
    };
    for (auto& [text, what] : bad)
        EXPECT_FALSE(parseSipMessage(text)) << what;
    auto noLength = parseSipMessage("MESSAGE sip:a@b SIP/2.0\r\nCall-ID: x\r\n\r\n<xml/>");
    ASSERT_TRUE(noLength);
    EXPECT_EQ(noLength->body, "<xml/>");  // UDP: the rest of the datagram
    auto noReason = parseSipMessage("SIP/2.0 486\r\n\r\n");
    ASSERT_TRUE(noReason);
    EXPECT_EQ(noReason->status, 486);
}

TEST(SipMessageTest, SerializeAlwaysWritesTheBodyLength) {
    SipMessage m;
    m.status = 200;
    m.reason = "OK";
    m.add("Call-ID", "x");
    m.add("Content-Length", "999");
    m.body = "abc";
    EXPECT_EQ(m.serialize(), "SIP/2.0 200 OK\r\nCall-ID: x\r\nContent-Length: 3\r\n\r\nabc");
}

TEST(SipMessageTest, UriAndDigestParameters) {
    auto u = parseSipUri("SIP:01552403048401000001@127.0.0.1:5061;transport=udp");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->scheme, "sip");
    EXPECT_EQ(u->user, "01552403048401000001");
    EXPECT_EQ(u->port, 5061);
    EXPECT_FALSE(parseSipUri("sip:a@b:99999"));
    EXPECT_FALSE(parseCSeq("2147483648 INFO"));
    // Both comma styles, quoted commas, names of any case.
    auto spaced = parseDigestParams("Digest realm=\"a,b\", NONCE=\"n\", algorithm=MD5");
    auto compact = parseDigestParams("Digest realm=\"a,b\",nonce=\"n\",algorithm=MD5");
    ASSERT_TRUE(spaced && compact);
    EXPECT_EQ(*spaced, *compact);
    EXPECT_EQ(spaced->at("realm"), "a,b");
    EXPECT_EQ(spaced->at("nonce"), "n");
    EXPECT_FALSE(parseDigestParams("Basic abc"));
}

TEST(DigestTest, Md5AndTheRfc2617Example) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");  // padding edge
    EXPECT_EQ(
        digestResponse("Mufasa", "testrealm@host.com", "Circle Of Life", "GET", "/dir/index.html",
                       "dcd98b7102dd2f0e8b11d0f600bfb0c093", "auth", "00000001", "0a4f113b"),
        "6629fae49393a05397450978507c4ef1");
}

TEST(DigestTest, ChallengeStyles) {
    Challenge c{"3402000000", "N", "", true, false};
    EXPECT_EQ(challengeValue(c, ChallengeStyle::Compact),
              "Digest realm=\"3402000000\",qop=\"auth\",nonce=\"N\",algorithm=MD5");
    c.offerQop = false;
    c.opaque = "O";
    c.stale = true;
    EXPECT_EQ(challengeValue(c, ChallengeStyle::Spaced),
              "Digest realm=\"3402000000\", nonce=\"N\", opaque=\"O\", stale=TRUE, algorithm=MD5");
}

TEST(DigestTest, VerdictsOfTheConsoleFormOfCredentials) {
    const std::string nonce = "0123456789abcdef0123456789abcdef";
    DigestCheck check{"REGISTER", "SIP:01552403048401000001@127.0.0.1:5061", "482913", "",
                      Challenge{"3402000000", nonce, "", false, false}};
    std::map<std::string, std::string> auth = {
        {"username", "34020000001320000001"},
        {"uri", "sip:01552403048401000001@127.0.0.1:5061"},
        {"algorithm", "MD5"},
        {"realm", "3402000000"},
        {"nonce", nonce},
        {"response", "9f586f5be903ec43253dd3eb5199ee26"}};  // computed independently
    EXPECT_EQ(verifyDigest(auth, check), DigestVerdict::Ok);

    auto with = [&](const char* k, const std::string& v) {
        auto a = auth;
        a[k] = v;
        return verifyDigest(a, check);
    };
    EXPECT_EQ(with("response", "6f24e53fa6df939e82225df523146de2"), DigestVerdict::WrongResponse);
    EXPECT_EQ(with("nonce", "old"), DigestVerdict::StaleNonce);
    EXPECT_EQ(with("realm", "other"), DigestVerdict::WrongRealm);
    EXPECT_EQ(with("uri", "sip:01552403048401000001@127.0.0.1:5062"), DigestVerdict::WrongUri);
    EXPECT_EQ(with("algorithm", "SHA-256"), DigestVerdict::Malformed);
    EXPECT_EQ(with("qop", "auth"), DigestVerdict::Malformed);  // qop without nc and cnonce

    auto qop = auth;
    qop["qop"] = "auth";
    qop["nc"] = "00000001";
    qop["cnonce"] = "0a4f113b";
    qop["response"] = "07354c16298f3d0676e96f3cb0988cca";
    EXPECT_EQ(verifyDigest(qop, check), DigestVerdict::Ok);

    check.challenge.opaque = "op";
    EXPECT_EQ(verifyDigest(auth, check), DigestVerdict::WrongOpaque);
    EXPECT_EQ(with("opaque", "op"), DigestVerdict::Ok);
    check.acceptUser = "someone";
    EXPECT_EQ(with("opaque", "op"), DigestVerdict::WrongUser);
}

TEST(PlaybackClockTest, PlayPauseScaleAndSeek) {
    PlaybackClock c(1000, 4600);
    EXPECT_EQ(c.position(5000), 1000.0);  // not started
    c.play(0);
    EXPECT_DOUBLE_EQ(c.position(10'000), 1010.0);
    c.pause(10'000);
    EXPECT_DOUBLE_EQ(c.position(60'000), 1010.0);
    EXPECT_EQ(c.msUntilEnd(60'000), -1);
    c.play(60'000);
    EXPECT_TRUE(c.setScale(60'000, 2.0));
    EXPECT_DOUBLE_EQ(c.position(65'000), 1020.0);
    EXPECT_FALSE(c.setScale(65'000, 0.0));
    EXPECT_FALSE(c.setScale(65'000, -1.0));
    c.seek(65'000, 1800);  // offset from the span start
    EXPECT_DOUBLE_EQ(c.offset(65'000), 1800.0);
    EXPECT_EQ(c.msUntilEnd(65'000), 900'000);  // 1800 s left at 2x
    c.seek(65'000, 99'999);
    EXPECT_TRUE(c.atEnd(65'000));
    EXPECT_EQ(c.msUntilEnd(65'000), 0);
    c.seek(65'000, -5);
    EXPECT_DOUBLE_EQ(c.offset(65'000), 0.0);
    EXPECT_DOUBLE_EQ(c.position(10'000'000), 4600.0);  // never past the end
}

TEST(PlaybackClockTest, SpeedupMultipliesEveryScale) {
    PlaybackClock c(0, 3600, 60.0);
    c.play(0);
    c.setScale(0, 0.5);
    EXPECT_DOUBLE_EQ(c.position(1000), 30.0);
    EXPECT_EQ(c.msUntilEnd(1000), 119'000);
}

TEST(RecordingModelTest, ClipsToTheFirstRecordedSegment) {
    const int64_t day = 86400, now = 20000 * day + 12 * 3600;  // noon UTC
    RecordingModel m(RecordingPolicy{30, 3 * 60, 3 * 60 + 10, true, 0});
    const int64_t gap = 20000 * day + 3 * 3600;
    struct Case {
        TimeSpan asked;
        std::optional<TimeSpan> expected;
    } cases[] = {
        {{now - 7200, now - 3600}, TimeSpan{now - 7200, now - 3600}},  // inside
        {{now - 600, now + 600}, TimeSpan{now - 600, now}},            // into the future
        {{gap - 600, gap + 3600}, TimeSpan{gap - 600, gap}},           // across the gap
        {{gap + 60, gap + 3600}, TimeSpan{gap + 600, gap + 3600}},     // starts in the gap
        {{gap + 60, gap + 300}, std::nullopt},                         // only the gap
        {{now - 40 * day, now - 31 * day}, std::nullopt},              // too old
        {{now - 3600, now - 3600}, std::nullopt},                      // empty
        {{now, now - 3600}, std::nullopt},                             // reversed
        {{now + 60, now + 3600}, std::nullopt},                        // future
    };
    for (auto& c : cases) {
        EXPECT_EQ(m.clip(c.asked, now), c.expected) << c.asked.start << ".." << c.asked.end;
    }
    auto segs = m.segments(now);
    EXPECT_EQ(segs.front().start, now - 30 * day);
    EXPECT_EQ(segs.back().end, now);
    EXPECT_EQ(segs.size(), 31u);  // 30 gaps fall in the window
}

TEST(RecordingModelTest, GapFollowsLocalTimeAndCanBeOff) {
    const int64_t day = 86400, now = 20000 * day + 12 * 3600;
    RecordingModel east(RecordingPolicy{30, 3 * 60, 3 * 60 + 10, true, 8 * 3600});
    // 03:00 at UTC+8 is 19:00 UTC of the day before.
    int64_t gapUtc = 20000 * day - 5 * 3600;
    EXPECT_EQ(east.clip({gapUtc - 60, gapUtc + 60}, now), (TimeSpan{gapUtc - 60, gapUtc}));
    RecordingModel none(RecordingPolicy{1, 0, 0, false, 0});
    EXPECT_EQ(none.segments(now).size(), 1u);
}

TEST(PlaybackTextTest, OfferAndMansrtsp) {
    auto o = parsePlaybackOffer(
        "v=0\r\no=x 0 0 IN IP4 1.2.3.4\r\ns=Playback\r\nu=00399001010010000001:3\r\n"
        "c=IN IP4 1.2.3.4\r\nt=1700000000 1700003600\r\nm=video 5060 RTP/AVP 96\r\n\r\n");
    ASSERT_TRUE(o);
    EXPECT_EQ(o->camera, "00399001010010000001");
    EXPECT_EQ(o->end - o->start, 3600);
    EXPECT_FALSE(parsePlaybackOffer("v=0\r\ns=Playback\r\nu=c:0\r\nt=abc 1\r\n"));
    EXPECT_FALSE(parsePlaybackOffer("v=0\r\ns=Playback\r\nt=1 2\r\n"));

    auto pause = parseMansrtsp("PAUSE MANSRTSP/1.0\r\nCSeq:1\r\nPauseTime:now\r\n");
    ASSERT_TRUE(pause);
    EXPECT_EQ(pause->method, "PAUSE");
    auto resume = parseMansrtsp("PLAY MANSRTSP/1.0\r\nCSeq:2\r\nRange:npt=now-\r\n");
    ASSERT_TRUE(resume);
    EXPECT_TRUE(resume->hasRange && resume->rangeNow);
    auto scale = parseMansrtsp("PLAY MANSRTSP/1.0\r\nCSeq:3\r\nScale:2.0\r\n");
    ASSERT_TRUE(scale);
    EXPECT_TRUE(scale->hasScale);
    EXPECT_EQ(scale->scale, 2.0);
    auto seek = parseMansrtsp("PLAY MANSRTSP/1.0\r\nCSeq: 4\r\nRange: npt=1800-\r\n");
    ASSERT_TRUE(seek);
    EXPECT_EQ(seek->rangeStart, 1800.0);
    EXPECT_FALSE(parseMansrtsp("PLAY RTSP/1.0\r\nCSeq:1\r\n"));
    EXPECT_FALSE(parseMansrtsp("PLAY MANSRTSP/1.0\r\nScale:fast\r\n"));
    EXPECT_FALSE(parseMansrtsp("PLAY MANSRTSP/1.0\r\nRange:npt=-5-\r\n"));
}

TEST(PlaybackTextTest, WhereTheVideoGoes) {
    const std::string console = "c=IN IP4 127.0.0.1\r\nt=1 2\r\n";
    struct Case {
        const char* what;
        std::string sdp;
        const char* dest;  // "" when the offer must be refused
        int payloadType;
        int64_t ssrc;  // -1: none
    } cases[] = {
        {"console's offer",
         console + "m=video 5060 RTP/AVP 96 98 97\r\na=recvonly\r\n"
                   "a=rtpmap:96 PS/90000\r\na=rtpmap:98 H265/90000\r\n",
         "127.0.0.1:5060", 96, -1},
        {"media c= wins, y= names the SSRC",
         console + "m=video 7000 RTP/AVP 96\r\nc=IN IP4 10.1.2.3\r\ny=0100000001\r\n",
         "10.1.2.3:7000", 96, 100000001},
        {"PS under another number", console + "m=video 7000 RTP/AVP 98\r\na=rtpmap:98 ps/90000\r\n",
         "127.0.0.1:7000", 98, -1},
        {"y= beyond 32 bits", console + "m=video 7000 RTP/AVP 96\r\ny=9999999999\r\n",
         "127.0.0.1:7000", 96, -1},
        {"c= after another m=",
         "t=1 2\r\nm=audio 9 RTP/AVP 8\r\nc=IN IP4 1.1.1.1\r\n"
         "m=video 7000 RTP/AVP 96\r\n",
         "", 0, -1},
        {"no c=", "t=1 2\r\nm=video 7000 RTP/AVP 96\r\n", "", 0, -1},
        {"c= 0.0.0.0", "c=IN IP4 0.0.0.0\r\nm=video 7000 RTP/AVP 96\r\n", "", 0, -1},
        {"c= multicast", "c=IN IP4 239.1.1.1/16\r\nm=video 7000 RTP/AVP 96\r\n", "", 0, -1},
        {"c= host name", "c=IN IP4 console.local\r\nm=video 7000 RTP/AVP 96\r\n", "", 0, -1},
        {"c= IPv6", "c=IN IP6 ::1\r\nm=video 7000 RTP/AVP 96\r\n", "", 0, -1},
        {"port 0", console + "m=video 0 RTP/AVP 96\r\n", "", 0, -1},
        {"port 70000", console + "m=video 70000 RTP/AVP 96\r\n", "", 0, -1},
        {"no m=video", console + "m=audio 7000 RTP/AVP 8\r\n", "", 0, -1},
        {"media over TCP", console + "m=video 7000 TCP/RTP/AVP 96\r\n", "", 0, -1},
        {"96 is H.264", console + "m=video 7000 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n", "", 0,
         -1},
        {"PS mapped but not offered",
         console + "m=video 7000 RTP/AVP 97\r\na=rtpmap:96 PS/90000\r\n", "", 0, -1},
    };
    for (auto& c : cases) {
        std::string why;
        auto m = parseMediaOffer("v=0\r\ns=Playback\r\n" + c.sdp, &why);
        if (!*c.dest) {
            EXPECT_FALSE(m) << c.what;
            EXPECT_FALSE(why.empty()) << c.what;
            continue;
        }
        ASSERT_TRUE(m) << c.what << ": " << why;
        EXPECT_EQ(m->host + ":" + std::to_string(m->port), c.dest) << c.what;
        EXPECT_EQ(m->payloadType, c.payloadType) << c.what;
        EXPECT_EQ(m->ssrc ? int64_t(*m->ssrc) : -1, c.ssrc) << c.what;
    }
}

TEST(CatalogueTest, CsvRowsAndProblems) {
    std::vector<std::string> problems;
    auto cams = parseCameraCsv(
        "code,name,online,train,car,type\r\n"
        "00399001010010000001,\"Front, car 1\",1,1,1,1\r\n"
        "00399001010010000002,后部,0,1,1,2\r\n"
        "123,short,1,1,1,1\r\n"
        "00399001010010000001,dup,1,1,1,1\r\n"
        "00399001010010000003,few,1\r\n",
        &problems);
    ASSERT_EQ(cams.size(), 2u);
    EXPECT_EQ(cams[0].name, "Front, car 1");
    EXPECT_FALSE(cams[1].online);
    EXPECT_EQ(problems.size(), 3u);
}

TEST(CatalogueTest, PagesCoverEveryCameraOnce) {
    for (size_t n : {0u, 1u, 4u, 5u, 240u}) {
        size_t total = 0;
        for (auto& p : catalogPages(n, 4)) {
            EXPECT_EQ(p.first, total);
            EXPECT_LE(p.count, 4u);
            total += p.count;
        }
        EXPECT_EQ(total, n);
    }
}

TEST(CatalogueTest, BodyIsGb18030WithStatusAndSumNum) {
    std::vector<Camera> cams = {{"00399001010010000001", "车厢<1>", true, 1, 1, 1},
                                {"00399001010010000002", "后部", false, 1, 1, 2}};
    std::string body = buildCatalogBody({"Notify", "7", "01552403048401000001", "GB2312", 240},
                                        cams, CatalogPage{1, 1});
    EXPECT_EQ(body.rfind("<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<Notify>", 0), 0u);
    EXPECT_EQ(xmlRootName(body), "Notify");
    EXPECT_EQ(xmlElementText(body, "SumNum"), "240");
    EXPECT_EQ(xmlElementText(body, "DeviceID"), "01552403048401000001");
    EXPECT_NE(body.find("<DeviceList Num=\"1\">"), std::string::npos);
    EXPECT_NE(body.find("<Name>\xBA\xF3\xB2\xBF</Name>"), std::string::npos);  // 后部 in GB18030
    EXPECT_NE(body.find("<Status>OFF</Status>"), std::string::npos);
    EXPECT_EQ(body.find("00399001010010000001"), std::string::npos);
    std::string escaped;
    ASSERT_TRUE(utf8ToGb18030(xmlEscape("车厢<1>"), escaped));
    EXPECT_NE(escaped.find("&lt;1&gt;"), std::string::npos);
    std::string out;
    EXPECT_FALSE(utf8ToGb18030("\xff\xfe", out));
}

TEST(RecordInfoTest, LocalTimesAreReadStrictly) {
    const int64_t nine = 1709629200;  // 2024-03-05 09:00:00 UTC
    struct Case {
        const char* text;
        int64_t offset;
        std::optional<int64_t> expected;
    } cases[] = {
        {"2024-03-05T09:00:00", 0, nine},
        {"2024-03-05 09:00:00", 0, nine},
        {"2024-03-05T17:00:00", 8 * 3600, nine},  // the same instant at UTC+8
        {"2024-02-29T00:00:00", 0, 1709164800},
        {"2023-02-29T00:00:00", 0, std::nullopt},
        {"2024-03-05T24:00:00", 0, std::nullopt},
        {"2024-13-05T09:00:00", 0, std::nullopt},
        {"2024-03-05T09:00", 0, std::nullopt},
        {"2024-03-05T09:00:00Z", 0, std::nullopt},
        {"2024/03/05T09:00:00", 0, std::nullopt},
        {"2024-03-05T09:0a:00", 0, std::nullopt},
        {"", 0, std::nullopt},
    };
    for (auto& c : cases)
        EXPECT_EQ(parseLocalTime(c.text, c.offset), c.expected) << c.text;
    EXPECT_EQ(formatLocalTime(nine, 8 * 3600), "2024-03-05T17:00:00");
}

TEST(CameraStatusTest, CommandLines) {
    struct Case {
        const char* line;
        bool ok;
        bool online;
    } cases[] = {
        {"00309900101001000001 OFF", true, false},
        {"  00309900101001000001\tON ", true, true},
        {"00309900101001000001 on", false, false},
        {"00309900101001000001", false, false},
        {"00309900101001000001 ON extra", false, false},
        {"", false, false},
    };
    for (auto& c : cases) {
        auto cmd = parseStatusCommand(c.line);
        ASSERT_EQ(bool(cmd), c.ok) << c.line;
        if (cmd) {
            EXPECT_EQ(cmd->code, "00309900101001000001") << c.line;
            EXPECT_EQ(cmd->online, c.online) << c.line;
        }
    }
}
