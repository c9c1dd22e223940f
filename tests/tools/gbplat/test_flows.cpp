// gbplat driven in-process by a console written as literal datagrams, on a fake clock: the
// answers it sends, where it sends them, and what a faulty client runs into.
#include "PlatformFlow.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>

namespace {

TEST_F(PlatformFlow, RegistrationChallengeVerifyAndRefusal) {
    start();
    auto r = in(registerText(1));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].to, kConsole);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 401 Unauthorized");
    EXPECT_EQ(
        field(r[0].text, "WWW-Authenticate"),
        "Digest realm=\"3402000000\", nonce=\"0123456789abcdef0123456789abcdef\", algorithm=MD5");
    EXPECT_EQ(field(r[0].text, "Via"),
              "SIP/2.0/UDP 127.0.0.1:5060;rport=5060;branch=z9hG4bK-0000000041;received=127.0.0.1");
    EXPECT_EQ(field(r[0].text, "Call-ID"), "Vekta9-0000000041-0000000007");

    r = in(registerText(2, consoleAuth("6f24e53fa6df939e82225df523146de2")));  // wrong password
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 403 Forbidden");
    EXPECT_FALSE(plat->isRegistered(kUser));

    r = in(registerText(3, consoleAuth("9f586f5be903ec43253dd3eb5199ee26", "oldnonce")));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 401 Unauthorized");
    EXPECT_NE(field(r[0].text, "WWW-Authenticate").find("stale=TRUE"), std::string::npos);

    r = in(registerText(4, consoleAuth("9f586f5be903ec43253dd3eb5199ee26")));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 200 OK");
    EXPECT_EQ(field(r[0].text, "Expires"), "3600");
    EXPECT_EQ(field(r[0].text, "Contact"),
              "<sip:34020000001320000001@127.0.0.1:5060>;expires=3600");
    EXPECT_EQ(field(r[0].text, "Date").size(), 23u);
    EXPECT_FALSE(tagOf(field(r[0].text, "To")).empty());
    EXPECT_TRUE(plat->isRegistered(kUser));
}

TEST_F(PlatformFlow, CompactChallengeAndResponsesFollowTheVia) {
    PlatformConfig cfg;
    cfg.challengeStyle = ChallengeStyle::Compact;
    start(cfg);
    // Without rport the answer goes to the sent-by port, at the source address.
    std::string text = registerText(1);
    text.replace(text.find(";rport"), 6, "");
    text.replace(text.find("127.0.0.1:5060;branch"), 14, "10.1.1.1:5070");
    auto r = in(text);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].to, (Endpoint{"127.0.0.1", 5070}));
    EXPECT_EQ(field(r[0].text, "WWW-Authenticate"),
              "Digest realm=\"3402000000\",qop=\"auth\",nonce=\"0123456789abcdef0123456789abcdef\","
              "algorithm=MD5");
    EXPECT_NE(field(r[0].text, "Via").find(";received=127.0.0.1"), std::string::npos);
    // The console answers without qop (RFC 2069 form); that is still accepted.
    r = in(registerText(2, consoleAuth("9f586f5be903ec43253dd3eb5199ee26")));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 200 OK");
}

TEST_F(PlatformFlow, MalformedRequestsAreRefusedOrDropped) {
    start();
    std::string noTag = registerText(1);
    noTag.replace(noTag.find(";tag=0000000041"), 15, "");
    auto r = in(noTag);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 400 Bad Request");
    std::string wrongMethod = registerText(7);
    wrongMethod.replace(wrongMethod.find("7 REGISTER"), 10, "7 INVITE");
    EXPECT_EQ(startLine(in(wrongMethod).at(0).text), "SIP/2.0 400 Bad Request");
    EXPECT_TRUE(in("REGISTER sip:x SIP/2.0\r\nContent-Length: 50\r\n\r\nshort").empty());
    EXPECT_TRUE(in("garbage\r\n\r\n").empty());
    EXPECT_TRUE(in("\r\n\r\n").empty());
    std::string other = registerText(8);
    other.replace(other.find("SIP:0155"), 8, "SIP:9999");
    EXPECT_EQ(startLine(in(other).at(0).text), "SIP/2.0 404 Not Found");
}

TEST_F(PlatformFlow, KeepaliveNeedsRegistration) {
    start();
    auto r = in(manscdp("MESSAGE", "z9hG4bK-0000000300", kKeepalive));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 401 Unauthorized");
    registerConsole();
    r = in(manscdp("MESSAGE", "z9hG4bK-0000000301", kKeepalive));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 200 OK");
    // A retransmission gets the same answer again, not a second handling.
    r = in(manscdp("MESSAGE", "z9hG4bK-0000000301", kKeepalive));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 200 OK");
    std::string plain = manscdp("MESSAGE", "z9hG4bK-0000000302", kKeepalive);
    plain.replace(plain.find("application/MANSCDP+xml"), 23, "text/plain");
    EXPECT_EQ(startLine(in(plain).at(0).text), "SIP/2.0 415 Unsupported Media Type");
}

TEST_F(PlatformFlow, UnregisteredAnswerCanBeForbidden) {
    PlatformConfig cfg;
    cfg.unregisteredStatus = 403;
    start(cfg);
    auto r = in(manscdp("MESSAGE", "z9hG4bK-0000000300", kKeepalive));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 403 Forbidden");
}

TEST_F(PlatformFlow, CatalogQueryIsAnsweredInPagesWithSumNum) {
    start();
    registerConsole();
    auto r = in(manscdp("MESSAGE", "z9hG4bK-0000000400", kCatalogQuery));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 200 OK");
    size_t items = 0, pages = 0;
    std::set<std::string> codes, callIds;
    for (Sent page = r[1];; ++pages) {
        ASSERT_EQ(startLine(page.text), "MESSAGE sip:34020000001320000001@127.0.0.1:5060 SIP/2.0");
        EXPECT_EQ(page.to, kConsole);  // the registered Contact
        std::string body = bodyOf(page.text);
        EXPECT_EQ(body.rfind("<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<Response>", 0), 0u);
        EXPECT_EQ(xmlText(body, "SN"), "17");
        EXPECT_EQ(xmlText(body, "SumNum"), std::to_string(cameras.size()));
        int n = count(body, "<Item>");
        EXPECT_LE(n, 4);
        items += size_t(n);
        for (size_t p = body.find("<Item>\r\n<DeviceID>"); p != std::string::npos;
             p = body.find("<Item>\r\n<DeviceID>", p + 1)) {
            codes.insert(body.substr(p + 18, 20));
        }
        callIds.insert(field(page.text, "Call-ID"));
        auto next = in(okFor(page.text));
        if (next.empty())
            break;
        ASSERT_EQ(next.size(), 1u);
        page = next[0];
    }
    EXPECT_EQ(items, cameras.size());
    EXPECT_EQ(codes.size(), cameras.size());
    EXPECT_EQ(callIds.size(), pages + 1);  // each Response is its own request
    EXPECT_EQ(cameras.size(), 240u);
    EXPECT_EQ(plat->stats().strayResponses, 0);
}

TEST_F(PlatformFlow, UnansweredCatalogPageIsRetransmittedThenAbandoned) {
    start();
    registerConsole();
    auto r = in(manscdp("MESSAGE", "z9hG4bK-0000000400", kCatalogQuery));
    ASSERT_EQ(r.size(), 2u);
    std::string first = r[1].text;
    auto later = advance(40'000);
    EXPECT_GE(later.size(), 5u);
    for (auto& s : later)
        EXPECT_EQ(s.text, first);  // retransmissions only, no next page
    EXPECT_TRUE(advance(60'000).empty());
}

TEST_F(PlatformFlow, SubscribeGivesNotifyPagesInsideTheSubscription) {
    start();
    registerConsole();
    std::string sub = withBody(
        "SUBSCRIBE sip:01552403048401000001@127.0.0.1:5061 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 127.0.0.1:5060;rport;branch=z9hG4bK-0000000500\r\n"
        "From: <sip:34020000001320000001@127.0.0.1>;tag=0000000500\r\n"
        "To: <sip:01552403048401000001@127.0.0.1>\r\n"
        "Call-ID: 0000000500@127.0.0.1\r\nCSeq: 0000000500 SUBSCRIBE\r\nEvent: presence\r\n"
        "Max-Forwards: 70\r\nContact: <sip:34020000001320000001@127.0.0.1:5060>\r\n"
        "Content-Type: application/MANSCDP+xml\r\nExpires: 3600\r\n",
        kCatalogQuery);
    auto r = in(sub);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 200 OK");
    std::string ourTag = tagOf(field(r[0].text, "To"));
    ASSERT_FALSE(ourTag.empty());
    size_t items = 0;
    int lastCSeq = 0;
    for (Sent n = r[1];;) {
        ASSERT_EQ(startLine(n.text), "NOTIFY sip:34020000001320000001@127.0.0.1:5060 SIP/2.0");
        EXPECT_EQ(field(n.text, "Call-ID"), "0000000500@127.0.0.1");
        EXPECT_EQ(tagOf(field(n.text, "From")), ourTag);
        EXPECT_EQ(tagOf(field(n.text, "To")), "0000000500");
        EXPECT_EQ(field(n.text, "Event"), "presence");
        EXPECT_EQ(field(n.text, "Subscription-State").rfind("active;expires=", 0), 0u);
        int cseq = std::stoi(field(n.text, "CSeq"));
        EXPECT_GT(cseq, lastCSeq);
        lastCSeq = cseq;
        EXPECT_EQ(xmlText(bodyOf(n.text), "CmdType"), "Catalog");
        EXPECT_EQ(bodyOf(n.text).find("<Notify>"), bodyOf(n.text).find("<Notify>\r\n<CmdType>"));
        items += size_t(count(bodyOf(n.text), "<Item>"));
        auto next = in(okFor(n.text));
        if (next.empty())
            break;
        n = next.at(0);
    }
    EXPECT_EQ(items, cameras.size());
}

TEST_F(PlatformFlow, RequestsGoToTheContactNotTheSource) {
    start();
    registerConsole();
    // A SUBSCRIBE whose Contact names another port (as the platform's own port would be):
    // the answer follows the Via, the NOTIFYs follow the Contact.
    std::string sub = withBody(
        "SUBSCRIBE sip:01552403048401000001@127.0.0.1:5061 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 127.0.0.1:5060;rport;branch=z9hG4bK-0000000501\r\n"
        "From: <sip:34020000001320000001@127.0.0.1>;tag=0000000501\r\n"
        "To: <sip:01552403048401000001@127.0.0.1>\r\n"
        "Call-ID: 0000000501@127.0.0.1\r\nCSeq: 0000000501 SUBSCRIBE\r\nEvent: presence\r\n"
        "Max-Forwards: 70\r\nContact: <sip:34020000001320000001@127.0.0.1:5061>\r\n"
        "Content-Type: application/MANSCDP+xml\r\nExpires: 3600\r\n",
        kCatalogQuery);
    auto r = in(sub);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].to, kConsole);
    EXPECT_EQ(r[1].to, (Endpoint{"127.0.0.1", 5061}));
    EXPECT_EQ(startLine(r[1].text), "NOTIFY sip:34020000001320000001@127.0.0.1:5061 SIP/2.0");
}

TEST_F(PlatformFlow, PlaybackAnswerClipsTheSpanAndControlsTheClock) {
    start();
    registerConsole();
    auto r = in(inviteText(kNoon - 7200, kNoon + 3600));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 100 Trying");
    ASSERT_EQ(startLine(r[1].text), "SIP/2.0 200 OK");
    std::string sdp = bodyOf(r[1].text);
    EXPECT_NE(
        sdp.find("\r\nt=" + std::to_string(kNoon - 7200) + " " + std::to_string(kNoon) + "\r\n"),
        std::string::npos);
    EXPECT_NE(sdp.find("s=Playback\r\n"), std::string::npos);
    EXPECT_EQ(field(r[1].text, "Contact"), "<sip:01552403048401000001@127.0.0.1:5061>");
    InDialog d = dialog(tagOf(field(r[1].text, "To")));
    ack(d);
    ASSERT_EQ(plat->playbacks().size(), 1u);
    EXPECT_TRUE(plat->playbacks()[0].playing);

    advance(10'000);
    EXPECT_DOUBLE_EQ(plat->playbacks()[0].position, double(kNoon - 7200 + 10));
    auto ok = [&](const std::string& rtsp) {
        auto a = in(infoText(d, rtsp));
        ++d.cseq;
        ++d.branch;
        return a.size() == 1 && startLine(a[0].text) == "SIP/2.0 200 OK";
    };
    EXPECT_TRUE(ok("PAUSE MANSRTSP/1.0\r\nCSeq:1\r\nPauseTime:now\r\n"));
    advance(30'000);
    EXPECT_FALSE(plat->playbacks()[0].playing);
    EXPECT_DOUBLE_EQ(plat->playbacks()[0].position, double(kNoon - 7200 + 10));
    EXPECT_TRUE(ok("PLAY MANSRTSP/1.0\r\nCSeq:2\r\nRange:npt=now-\r\n"));
    EXPECT_TRUE(ok("PLAY MANSRTSP/1.0\r\nCSeq:3\r\nScale:2.0\r\n"));
    advance(5'000);
    EXPECT_DOUBLE_EQ(plat->playbacks()[0].position, double(kNoon - 7200 + 20));
    EXPECT_EQ(plat->playbacks()[0].scale, 2.0);
    EXPECT_TRUE(ok("PLAY MANSRTSP/1.0\r\nCSeq:4\r\nRange:npt=3600-\r\n"));
    EXPECT_DOUBLE_EQ(plat->playbacks()[0].position, double(kNoon - 3600));
    EXPECT_FALSE(ok("PLAY MANSRTSP/1.0\r\nCSeq:3\r\nScale:0\r\n"));

    auto bye = in(dialogRequest("BYE", d, "", ""));
    ASSERT_EQ(bye.size(), 1u);
    EXPECT_EQ(startLine(bye[0].text), "SIP/2.0 200 OK");
    EXPECT_TRUE(plat->playbacks().empty());
    ++d.cseq;
    ++d.branch;
    EXPECT_EQ(startLine(in(infoText(d, "PAUSE MANSRTSP/1.0\r\nCSeq:1\r\n")).at(0).text),
              "SIP/2.0 481 Call/Transaction Does Not Exist");
}

TEST_F(PlatformFlow, InDialogRequestsMustMatchTheDialogAndItsOrder) {
    start();
    registerConsole();
    InDialog d = dialog(openPlayback());
    ack(d);
    const std::string pause = "PAUSE MANSRTSP/1.0\r\nCSeq:1\r\nPauseTime:now\r\n";
    struct Case {
        const char* what;
        InDialog req;
        const char* status;
    };
    InDialog freshCallId = d, otherFromTag = d, otherToTag = d, fixedSix = d;
    freshCallId.callId = "Vekta9-0000000555-0000000001";
    freshCallId.branch = 501;
    otherFromTag.fromTag = "0000000555";
    otherFromTag.branch = 502;
    otherToTag.toTag = "nottheplatformstag";
    otherToTag.branch = 503;
    fixedSix.cseq = 6;
    fixedSix.branch = 601;
    InDialog byeAfterSix = d;
    byeAfterSix.branch = 602;  // CSeq 2 after 6: out of order
    for (Case c :
         {Case{"fresh Call-ID", freshCallId, "SIP/2.0 481 Call/Transaction Does Not Exist"},
          Case{"other From tag", otherFromTag, "SIP/2.0 481 Call/Transaction Does Not Exist"},
          Case{"other To tag", otherToTag, "SIP/2.0 481 Call/Transaction Does Not Exist"},
          Case{"INFO 6", fixedSix, "SIP/2.0 200 OK"},
          Case{"INFO 2 after 6", byeAfterSix, "SIP/2.0 500 Server Internal Error"}}) {
        auto r = in(infoText(c.req, pause));
        ASSERT_EQ(r.size(), 1u) << c.what;
        EXPECT_EQ(startLine(r[0].text), c.status) << c.what;
    }
    byeAfterSix.branch = 603;
    EXPECT_EQ(startLine(in(dialogRequest("BYE", byeAfterSix, "", "")).at(0).text),
              "SIP/2.0 500 Server Internal Error");
    EXPECT_EQ(plat->stats().noDialog, 3);
    EXPECT_EQ(plat->stats().outOfOrder, 2);
    EXPECT_EQ(plat->playbacks().size(), 1u);
}

TEST_F(PlatformFlow, UnmatchedAckLeavesThe200RepeatingUntilTheCallIsEnded) {
    start();
    registerConsole();
    InDialog d = dialog(openPlayback());
    InDialog wrong = d;
    wrong.callId = "Vekta9-0000000777-0000000002";  // the Part's ACK with a fresh Call-ID
    ack(wrong);
    auto later = advance(40'000);
    int repeats = 0, byes = 0;
    for (auto& s : later) {
        repeats += startLine(s.text) == "SIP/2.0 200 OK";
        if (startLine(s.text).rfind("BYE ", 0) == 0) {
            ++byes;
            EXPECT_EQ(field(s.text, "Call-ID"), d.callId);
        }
    }
    EXPECT_GE(repeats, 5);
    EXPECT_GE(byes, 1);
    EXPECT_TRUE(plat->playbacks().empty());
}

TEST_F(PlatformFlow, EndOfSpanSendsMediaStatusThenExpectsTheBye) {
    PlatformConfig cfg;
    cfg.speedup = 100;
    start(cfg);
    registerConsole();
    InDialog d = dialog(openPlayback());
    ack(d);
    EXPECT_TRUE(advance(71'000).empty());  // 7100 s of recording at 100x: not yet
    auto r = advance(1'000);
    ASSERT_EQ(r.size(), 1u);
    const std::string msg = r[0].text;
    EXPECT_EQ(startLine(msg), "MESSAGE sip:34020000001320000001@127.0.0.1:5060 SIP/2.0");
    EXPECT_EQ(field(msg, "Call-ID"), d.callId);
    EXPECT_EQ(tagOf(field(msg, "From")), d.toTag);
    EXPECT_EQ(tagOf(field(msg, "To")), d.fromTag);
    std::string body = bodyOf(msg);
    EXPECT_EQ(xmlText(body, "CmdType"), "MediaStatus");
    EXPECT_EQ(xmlText(body, "NotifyType"), "121");
    EXPECT_EQ(xmlText(body, "DeviceID"), kCamera);
    EXPECT_EQ(plat->stats().mediaStatusSent, 1);

    // The Part's reply (fresh Call-ID and tag, "7 Message") does not answer it.
    std::string partsOk = okFor(msg);
    partsOk.replace(partsOk.find(d.callId), d.callId.size(), "Vekta9-0000000888-0000000003");
    EXPECT_TRUE(in(partsOk).empty());
    EXPECT_EQ(plat->stats().mismatchedResponses, 1);
    r = advance(600);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].text, msg);  // retransmitted

    EXPECT_TRUE(in(okFor(msg)).empty());
    d.cseq = 3;
    auto bye = in(dialogRequest("BYE", d, "", ""));
    ASSERT_EQ(bye.size(), 1u);
    EXPECT_EQ(startLine(bye[0].text), "SIP/2.0 200 OK");
    EXPECT_TRUE(plat->playbacks().empty());
    EXPECT_EQ(plat->stats().byeSent, 0);
}

TEST_F(PlatformFlow, SeekToTheEndAndMissingByeMakeThePlatformHangUp) {
    start();
    registerConsole();
    InDialog d = dialog(openPlayback());
    ack(d);
    auto r = in(infoText(d, "PLAY MANSRTSP/1.0\r\nCSeq:4\r\nRange:npt=7200-\r\n"));
    ASSERT_EQ(r.size(), 1u);
    r = advance(1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(xmlText(bodyOf(r[0].text), "CmdType"), "MediaStatus");
    EXPECT_TRUE(in(okFor(r[0].text)).empty());
    r = advance(33'000);
    ASSERT_GE(r.size(), 1u);
    EXPECT_EQ(startLine(r[0].text), "BYE sip:34020000001320000001@127.0.0.1:5060 SIP/2.0");
    for (auto& s : r)
        EXPECT_EQ(s.text, r[0].text);  // the BYE and its retransmissions
    EXPECT_TRUE(plat->playbacks().empty());
}

TEST_F(PlatformFlow, PlatformByeUsesTheDialog) {
    start();
    registerConsole();
    InDialog d = dialog(openPlayback());
    ack(d);
    EXPECT_EQ(plat->byeOpenPlaybacks(), 1);
    auto r = take();
    ASSERT_EQ(r.size(), 1u);
    const std::string& bye = r[0].text;
    EXPECT_EQ(startLine(bye), "BYE sip:34020000001320000001@127.0.0.1:5060 SIP/2.0");
    EXPECT_EQ(field(bye, "Call-ID"), d.callId);
    EXPECT_EQ(tagOf(field(bye, "From")), d.toTag);
    EXPECT_EQ(tagOf(field(bye, "To")), d.fromTag);
    EXPECT_EQ(field(bye, "CSeq"), "1 BYE");
    EXPECT_TRUE(in(okFor(bye)).empty());
    EXPECT_TRUE(advance(40'000).empty());  // answered: no retransmission
    EXPECT_EQ(startLine(in(infoText(d, "PAUSE MANSRTSP/1.0\r\nCSeq:1\r\n")).at(0).text),
              "SIP/2.0 481 Call/Transaction Does Not Exist");
}

TEST_F(PlatformFlow, InviteRefusals) {
    start();
    auto r = in(inviteText(kNoon - 7200, kNoon));
    EXPECT_EQ(startLine(r.at(0).text), "SIP/2.0 401 Unauthorized");  // not registered
    registerConsole();
    struct Case {
        std::string invite;
        const char* status;
    } cases[] = {
        {inviteText(kNoon - 7200, kNoon, "00399001010010009999"), "SIP/2.0 404 Not Found"},
        {inviteText(kNoon + 60, kNoon + 3600), "SIP/2.0 404 Not Found"},
        {inviteText(kNoon - 7200, kNoon, kCamera, "Play"), "SIP/2.0 488 Not Acceptable Here"},
        {inviteText(kNoon - 7200, kNoon, kCamera, "Playback", ""),
         "SIP/2.0 488 Not Acceptable Here"},
        {inviteText(kNoon - 7200, kNoon, kCamera, "Playback", "c=IN IP4 0.0.0.0\r\n"),
         "SIP/2.0 488 Not Acceptable Here"},
        {inviteText(kNoon - 7200, kNoon, kCamera, "Playback", "c=IN IP4 127.0.0.1\r\n",
                    "m=video 0 RTP/AVP 96\r\n"),
         "SIP/2.0 488 Not Acceptable Here"},
        {inviteText(kNoon - 7200, kNoon, kCamera, "Playback", "c=IN IP4 127.0.0.1\r\n", ""),
         "SIP/2.0 488 Not Acceptable Here"},
    };
    int branch = 0;
    for (auto& c : cases) {
        std::string text = c.invite;
        text.replace(text.find("z9hG4bK-0000000100"), 18,
                     "z9hG4bK-00000009" + std::to_string(10 + branch++));
        r = in(text);
        ASSERT_EQ(r.size(), 2u);
        EXPECT_EQ(startLine(r[1].text), c.status) << bodyOf(c.invite);
    }
    EXPECT_TRUE(plat->playbacks().empty());
    EXPECT_TRUE(media.started.empty());
}

// The video goes to the offer's c= and m=video (not to the Contact), starts with the ACK, follows
// every INFO and stops with either side's BYE and with a restart.
TEST_F(PlatformFlow, VideoFollowsTheDialog) {
    PlatformConfig cfg;
    cfg.maxStreams = 1;
    start(cfg);
    registerConsole();
    auto r = in(inviteText(kNoon - 7200, kNoon, kCamera, "Playback", "c=IN IP4 127.0.0.2\r\n",
                           "m=video 7070 RTP/AVP 96\r\na=rtpmap:96 PS/90000\r\ny=0100000009\r\n"));
    ASSERT_EQ(r.size(), 2u);
    std::string sdp = bodyOf(r[1].text);
    EXPECT_NE(sdp.find("\r\nm=video 5063 RTP/AVP 96\r\n"), std::string::npos) << sdp;
    EXPECT_NE(sdp.find("\r\ny=0100000009\r\n"), std::string::npos) << sdp;
    InDialog d = dialog(tagOf(field(r[1].text, "To")));
    EXPECT_TRUE(media.started.empty());
    ack(d);
    ASSERT_EQ(media.started.size(), 1u);
    const StreamOrder& o = media.started[0];
    EXPECT_EQ(o.dest, (Endpoint{"127.0.0.2", 7070}));
    EXPECT_EQ(o.payloadType, 96);
    EXPECT_EQ(o.ssrc, 100000009u);
    EXPECT_EQ(o.cameraCode, kCamera);
    EXPECT_EQ(o.cameraName, cameras[0].name);
    EXPECT_EQ(o.span, (TimeSpan{kNoon - 7200, kNoon}));
    std::string another = inviteText(kNoon - 7200, kNoon);
    another.replace(another.find("z9hG4bK-0000000100"), 18, "z9hG4bK-0000000101");
    another.replace(another.find("Vekta9-0000000100"), 17, "Vekta9-0000000101");
    EXPECT_EQ(startLine(in(another).at(1).text), "SIP/2.0 486 Busy Here");  // one at a time

    advance(10'000);
    struct Step {
        const char* rtsp;
        double offset;
        bool playing;
        double rate;
        uint32_t seeks;
    } steps[] = {
        {"PAUSE MANSRTSP/1.0\r\nCSeq:1\r\nPauseTime:now\r\n", 10, false, 1, 0},
        {"PLAY MANSRTSP/1.0\r\nCSeq:2\r\nRange:npt=now-\r\n", 10, true, 1, 0},
        {"PLAY MANSRTSP/1.0\r\nCSeq:4\r\nRange:npt=600-\r\n", 600, true, 1, 1},
        {"PLAY MANSRTSP/1.0\r\nCSeq:3\r\nScale:2.0\r\n", 600, true, 2, 1},
        {"PLAY MANSRTSP/1.0\r\nCSeq:4\r\nRange:npt=600-\r\n", 600, true, 2, 2},
    };
    for (auto& step : steps) {
        ASSERT_EQ(in(infoText(d, step.rtsp)).size(), 1u);
        ++d.cseq;
        ++d.branch;
        ASSERT_FALSE(media.steered.empty());
        auto [id, c] = media.steered.back();
        EXPECT_EQ(id, o.id) << step.rtsp;
        EXPECT_DOUBLE_EQ(c.offset, step.offset) << step.rtsp;
        EXPECT_EQ(c.playing, step.playing) << step.rtsp;
        EXPECT_DOUBLE_EQ(c.rate, step.rate) << step.rtsp;
        EXPECT_EQ(c.seeks, step.seeks) << step.rtsp;
    }
    EXPECT_EQ(media.steered.size(), std::size(steps));
    in(dialogRequest("BYE", d, "", ""));
    EXPECT_EQ(media.stopped, std::vector<uint64_t>{o.id});

    // Without y= the SSRC is ours, and the answer says which. (The same INVITE again, once
    // its transaction is over.)
    advance(40'000);
    d = dialog(openPlayback());
    ack(d);
    ASSERT_EQ(media.started.size(), 2u);
    EXPECT_EQ(media.started[1].dest, kConsole);
    EXPECT_GE(media.started[1].ssrc, 1000000000u);
    EXPECT_LE(media.started[1].ssrc, 1999999999u);
    std::string answer;
    for (auto& [ours, text] : wire) {
        if (ours && text.find("\r\ny=") != std::string::npos)
            answer = text;
    }
    EXPECT_NE(answer.find("\r\ny=" + std::to_string(media.started[1].ssrc) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(plat->byeOpenPlaybacks(), 1);
    EXPECT_EQ(media.stopped.back(), media.started[1].id);

    advance(40'000);
    InDialog again = dialog(openPlayback());
    ack(again);
    ASSERT_EQ(media.started.size(), 3u);
    plat->restart();
    EXPECT_EQ(media.stopped.back(), media.started[2].id);
    EXPECT_EQ(media.stopped.size(), 3u);
}

TEST_F(PlatformFlow, RestartForgetsEverythingAndChallengesTheNextRequest) {
    start();
    registerConsole();
    InDialog d = dialog(openPlayback());
    ack(d);
    plat->restart();
    EXPECT_FALSE(plat->isRegistered(kUser));
    EXPECT_NE(plat->currentNonce(), kNonce);
    EXPECT_EQ(startLine(in(infoText(d, "PAUSE MANSRTSP/1.0\r\nCSeq:1\r\n")).at(0).text),
              "SIP/2.0 481 Call/Transaction Does Not Exist");
    auto r = in(manscdp("MESSAGE", "z9hG4bK-0000000600", kKeepalive));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 401 Unauthorized");
    std::string challenge = field(r[0].text, "WWW-Authenticate");
    EXPECT_NE(challenge.find(plat->currentNonce()), std::string::npos);
    // The 15-minute REGISTER with the old nonce is stale now.
    r = in(registerText(5, consoleAuth("9f586f5be903ec43253dd3eb5199ee26")));
    EXPECT_NE(field(r.at(0).text, "WWW-Authenticate").find("stale=TRUE"), std::string::npos);
    std::string nonce = plat->currentNonce();
    std::string resp = digestResponse(kUser, "3402000000", "482913", "REGISTER",
                                      "sip:01552403048401000001@127.0.0.1:5061", nonce, "", "", "");
    r = in(registerText(6, consoleAuth(resp, nonce)));
    EXPECT_EQ(startLine(r.at(0).text), "SIP/2.0 200 OK");
    EXPECT_TRUE(plat->isRegistered(kUser));
    EXPECT_TRUE(advance(60'000).empty());  // nothing of the old session lingers
}

}  // namespace

namespace {

// Every datagram cut short at each byte, and each byte replaced by a delimiter: the platform
// must neither crash nor stop answering (run under the sanitizers in CI).
TEST_F(PlatformFlow, MutatedDatagramsAreRefusedSafely) {
    start();
    registerConsole();
    InDialog d = dialog(openPlayback());
    ack(d);
    const std::vector<std::string> seeds = {
        registerText(9, consoleAuth("9f586f5be903ec43253dd3eb5199ee26")),
        manscdp("MESSAGE", "z9hG4bK-0000000700", kCatalogQuery),
        inviteText(kNoon - 600, kNoon),
        infoText(d, "PLAY MANSRTSP/1.0\r\nCSeq:4\r\nRange:npt=10-\r\n"),
        "SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 127.0.0.1:5061;rport;branch=z9hG4bKx\r\nFrom: "
        "<sip:a@b>;tag=1\r\nTo: <sip:c@d>;tag=2\r\nCall-ID: x\r\nCSeq: 1 MESSAGE\r\n"
        "Content-Length: 0\r\n\r\n",
    };
    const char replacements[] = {'\r', '\n', ':', ';', '<', '"', ' ', '\0'};
    size_t datagrams = 0;
    for (const auto& seed : seeds) {
        for (size_t cut = 1; cut < seed.size(); ++cut) {
            in(seed.substr(0, cut));
            ++datagrams;
        }
        for (size_t pos = 0; pos < seed.size(); ++pos) {
            for (char c : replacements) {
                std::string m = seed;
                m[pos] = c;
                in(m);
                ++datagrams;
            }
        }
    }
    advance(100'000);
    EXPECT_GT(datagrams, 10'000u);
    auto r = in(manscdp("MESSAGE", "z9hG4bK-0000000701", kKeepalive));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(startLine(r[0].text), "SIP/2.0 200 OK");
}

}  // namespace

namespace {

void put16(std::string& out, uint16_t v) {
    out += char(v >> 8);
    out += char(v & 0xff);
}

// A pcap file (raw IPv4) with each datagram between 127.0.0.1:5060 (console) and :5061.
void writePcap(const std::string& path, const std::vector<std::pair<bool, std::string>>& wire) {
    std::string file;
    auto le32 = [&file](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file += char((v >> (8 * i)) & 0xff);
    };
    le32(0xa1b2c3d4);
    file += std::string("\x02\x00\x04\x00", 4);
    le32(0);
    le32(0);
    le32(65535);
    le32(101);  // LINKTYPE_RAW
    uint32_t n = 0;
    for (auto& [fromPlatform, payload] : wire) {
        std::string pkt = std::string("\x45\x00", 2);
        put16(pkt, uint16_t(28 + payload.size()));
        put16(pkt, uint16_t(n));
        pkt += std::string("\x00\x00\x40\x11\x00\x00\x7f\x00\x00\x01\x7f\x00\x00\x01", 14);
        put16(pkt, fromPlatform ? 5061 : 5060);
        put16(pkt, fromPlatform ? 5060 : 5061);
        put16(pkt, uint16_t(8 + payload.size()));
        put16(pkt, 0);
        pkt += payload;
        le32(1765000000 + n);
        le32(0);
        le32(uint32_t(pkt.size()));
        le32(uint32_t(pkt.size()));
        file += pkt;
        ++n;
    }
    std::ofstream(path, std::ios::binary) << file;
}

// A whole session, every datagram in both directions decoded by Wireshark's SIP dissector:
// each must be SIP and none malformed.
TEST_F(PlatformFlow, EveryDatagramDecodesAsSipInWireshark) {
    if (std::system("command -v tshark > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "no tshark";
    PlatformConfig cfg;
    cfg.pageSize = 10;
    cfg.speedup = 100;
    start(cfg);
    in(registerText(3));
    in(registerText(4, consoleAuth("6f24e53fa6df939e82225df523146de2")));  // 403
    registerConsole();
    in(manscdp("MESSAGE", "z9hG4bK-0000000800", kKeepalive));
    auto r = in(manscdp("MESSAGE", "z9hG4bK-0000000801", kCatalogQuery));
    for (int i = 0; i < 3; ++i)
        r = in(okFor(r.back().text));
    InDialog d = dialog(openPlayback());
    ack(d);
    in(infoText(d, "PAUSE MANSRTSP/1.0\r\nCSeq:1\r\nPauseTime:now\r\n"));
    d.cseq = 3;
    d.branch = 203;
    in(infoText(d, "PLAY MANSRTSP/1.0\r\nCSeq:3\r\nScale:2.0\r\n"));
    d.branch = 204;
    in(infoText(d, "PLAY MANSRTSP/1.0\r\nCSeq:4\r\nRange:npt=7000-\r\n"));  // CSeq 3 again: 500
    d.cseq = 4;
    d.branch = 205;
    in(infoText(d, "PLAY MANSRTSP/1.0\r\nCSeq:4\r\nRange:npt=7000-\r\n"));
    r = advance(5'000);
    ASSERT_FALSE(r.empty());
    in(okFor(r[0].text));
    d.cseq = 5;
    d.branch = 206;
    in(dialogRequest("BYE", d, "", ""));
    in(dialogRequest("BYE", d, "", ""));  // retransmission: the same 200
    d.branch = 207;
    d.cseq = 6;
    in(dialogRequest("BYE", d, "", ""));  // 481
    ASSERT_GT(wire.size(), 25u);

    std::string pcap = ::testing::TempDir() + "gbplat_wire.pcap";
    std::string out = ::testing::TempDir() + "gbplat_wire.txt";
    writePcap(pcap, wire);
    // Wireshark's own reading of the identity headers and the body length of every frame.
    std::string cmd = "tshark -r " + pcap + " -d udp.port==5061,sip -T fields -e frame.number -e " +
                      "_ws.col.Protocol -e sip.Call-ID -e sip.CSeq.method -e sip.from.tag -e " +
                      "sip.Content-Length -e _ws.malformed -E separator=/t > " + out +
                      " 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream f(out);
    std::string line;
    size_t frames = 0;
    while (std::getline(f, line) && frames < wire.size()) {
        std::vector<std::string> cols;
        size_t pos = 0;
        for (size_t tab; (tab = line.find('\t', pos)) != std::string::npos; pos = tab + 1) {
            cols.push_back(line.substr(pos, tab - pos));
        }
        cols.push_back(line.substr(pos));
        cols.resize(7);
        const std::string& text = wire[frames++].second;
        EXPECT_EQ(cols[1].rfind("SIP", 0), 0u) << line;
        EXPECT_EQ(cols[2], field(text, "Call-ID")) << line;
        EXPECT_FALSE(cols[3].empty()) << line;
        EXPECT_EQ(cols[4], tagOf(field(text, "From"))) << line;
        EXPECT_EQ(cols[5], std::to_string(bodyOf(text).size())) << line;
        EXPECT_TRUE(cols[6].empty()) << "malformed: " << line;
    }
    EXPECT_EQ(frames, wire.size());
}

}  // namespace
