// The playback dialog end to end: INVITE, the platform's answer, ACK, INFO, the platform's
// MESSAGE and BYE, our BYE. Every in-dialog request carries the dialog's identity.
#include <gtest/gtest.h>

#include "SipTestKit.h"

using namespace siptest;

namespace {

const std::string kUs = "<sip:34020000001320000001@10.0.0.5:5061>";
const std::string kDialogFrom = "From: " + kUs + ";tag=0000000042";
const std::string kDialogTo = "To: <sip:34020000002000000001@10.0.0.9:5060>;tag=plat77";
const std::string kDialogCallId = "Call-ID: Vekta9-0000000042-0000000007";
const std::string kRequestUri = " sip:34020000002000000001@10.0.0.9:5060 SIP/2.0";

std::string via(int x) {
    return "Via: SIP/2.0/UDP 10.0.0.5:5061;rport;branch=z9hG4bK-00000000" + std::to_string(x);
}

std::string withBody(std::vector<std::string> headers, const std::string& body) {
    headers.push_back("Content-Length: " + std::to_string(body.size()));
    headers.push_back("");
    return crlf(headers) + body;
}

std::string inviteAnswer(const std::string& callId, const std::string& cseq,
                         const std::string& timeLine = "t=1700000000 1700003600") {
    return withBody(
        {"SIP/2.0 200 OK", "Via: SIP/2.0/UDP 10.0.0.5:5061;rport=5061;branch=z9hG4bK-0000000042",
         kDialogFrom, kDialogTo, "Call-ID: " + callId, "CSeq: " + cseq,
         "Contact: <sip:34020000002000000001@10.0.0.9:5060>", "Content-Type: application/sdp"},
        crlf({"v=0", "o=34020000002000000001 0 0 IN IP4 10.0.0.9", "s=Playback",
              "c=IN IP4 10.0.0.9", timeLine, "m=video 6000 RTP/AVP 96", "a=sendonly"}));
}

std::string platformRequest(const std::string& method, const std::string& callId,
                            const std::string& body) {
    return withBody({method + " sip:34020000001320000001@10.0.0.5:5061 SIP/2.0",
                     "Via: SIP/2.0/UDP 10.0.0.9:5060;rport;branch=z9hG4bK-p" + method,
                     "From: <sip:34020000002000000001@10.0.0.9:5060>;tag=plat77",
                     "To: " + kUs + ";tag=0000000042", "Call-ID: " + callId, "CSeq: 20 " + method,
                     "Content-Type: Application/MANSCDP+xml"},
                    body);
}

const std::string kMediaStatus = crlf(
    {"<?xml version=\"1.0\"?>", "<Notify>", "<CmdType>MediaStatus</CmdType>", "<SN>8</SN>",
     "<DeviceID>34020000001310000001</DeviceID>", "<NotifyType>121</NotifyType>", "</Notify>"});

class PlaybackDialog : public ::testing::Test {
protected:
    void SetUp() override { configure(car); }
    std::string invite() {
        return built(
            car.buildPlaybackInvite(&length, 1700000000, 1700003600, "34020000001310000001"),
            length);
    }
    void answer() {
        ASSERT_GT(feed(car, inviteAnswer("Vekta9-0000000042-0000000007", "1 INVITE")), 0);
        ASSERT_EQ(car.messageKind(), "INVITE_200OK");
    }
    CCTVCAR car;
    int length = -1;
};

TEST_F(PlaybackDialog, InviteOffersPlaybackOfTheSpan) {
    EXPECT_EQ(invite(),
              crlf({"INVITE" + kRequestUri,
                    via(42),
                    kDialogFrom,
                    "To: <sip:34020000002000000001@10.0.0.9:5060>",
                    kDialogCallId,
                    "Subject: 34020000002000000001:0100000001,34020000001320000001:0100000001",
                    "CSeq: 1 INVITE",
                    "Contact: " + kUs,
                    "Content-Type: Application/SDP",
                    "Max-Forwards: 70",
                    "Content-Length: 247",
                    "",
                    "v=0",
                    "o=34020000002000000001 0 0 IN IP4 10.0.0.5",
                    "s=Playback",
                    "u=34020000001310000001:3",
                    "c=IN IP4 10.0.0.5",
                    "t=1700000000 1700003600",
                    "m=video 5061 RTP/AVP 96 98 97",
                    "a=recvonly",
                    "a=rtpmap:96 PS/90000",
                    "a=rtpmap:98 H265/90000",
                    "a=rtpmap:97 MPEG4/90000",
                    ""}));
    EXPECT_EQ(car.currentRequestName(), "INVITE_REPLAY");
    EXPECT_EQ(car.dialogCallIds().at("0"), "Vekta9-0000000042-0000000007");
    EXPECT_EQ(car.dialogTags().at("0"), "0000000042");
}

TEST_F(PlaybackDialog, EveryRequestCarriesTheDialogIdentityAndOrderedCSeq) {
    invite();
    answer();
    EXPECT_EQ(car.remoteTag(), "plat77");
    EXPECT_EQ(car.recordStart(), 1700000000);
    EXPECT_EQ(car.recordEnd(), 1700003600);
    EXPECT_EQ(car.recordDuration(), 3600);

    EXPECT_EQ(built(car.buildPlaybackAck(&length), length),
              crlf({"ACK" + kRequestUri, via(43), kDialogFrom, kDialogTo, kDialogCallId,
                    "CSeq: 1 ACK", "Max-Forwards: 70", "Content-Length: 0", ""}));
    EXPECT_TRUE(car.playbackDialogOpen());

    auto info = [&](int x, int cseq, const std::string& contentLength, const std::string& body) {
        return crlf({"INFO" + kRequestUri, via(x), kDialogFrom, kDialogTo, kDialogCallId,
                     "CSeq: " + std::to_string(cseq) + " INFO", "Contact: " + kUs,
                     "Content-Type: Application/MANSRTSP", "Max-Forwards: 70",
                     "Content-Length: " + contentLength, ""}) +
               body;
    };
    EXPECT_EQ(built(car.buildPlaybackInfo(&length, 1, nullptr, -1), length),
              info(44, 2, "43", crlf({"PAUSE MANSRTSP/1.0", "CSeq:1", "PauseTime:now"})));
    EXPECT_EQ(built(car.buildPlaybackInfo(&length, 2, nullptr, -1), length),
              info(45, 3, "43", crlf({"PLAY MANSRTSP/1.0", "CSeq:2", "Range:npt=now-"})));
    EXPECT_EQ(built(car.buildPlaybackInfo(&length, 3, "2.0", -1), length),
              info(46, 4, "38", crlf({"PLAY MANSRTSP/1.0", "CSeq:3", "Scale:2.0"})));
    EXPECT_EQ(built(car.buildPlaybackInfo(&length, 4, nullptr, 1800), length),
              info(47, 5, "44", crlf({"PLAY MANSRTSP/1.0", "CSeq:4", "Range:npt=1800-"})));
    EXPECT_EQ(built(car.buildPlaybackInfo(&length, 5, "x", 1), length), info(48, 6, "0", ""));
    EXPECT_EQ(car.currentRequestName(), "INFO_REPLAY");

    EXPECT_EQ(built(car.buildPlaybackBye(&length), length),
              crlf({"BYE" + kRequestUri, via(49), kDialogFrom, kDialogTo, kDialogCallId,
                    "CSeq: 7 BYE", "Max-Forwards: 70", "Content-Length: 0", ""}));
    EXPECT_FALSE(car.playbackDialogOpen());
    EXPECT_EQ(car.currentRequestName(), "BYE_REPLAY");
}

TEST_F(PlaybackDialog, ByeWithoutInviteHasEmptyIdentity) {
    std::string text = built(car.buildPlaybackBye(&length), length);
    EXPECT_NE(text.find("From: " + kUs + ";tag=\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Call-ID: \r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("To: <sip:34020000002000000001@10.0.0.9:5060>\r\n"), std::string::npos);
}

TEST_F(PlaybackDialog, EndOfRecordingMessageIsAnsweredByEcho) {
    invite();
    answer();
    car.buildPlaybackAck(&length);
    ASSERT_GT(feed(car, platformRequest("MESSAGE", "Vekta9-0000000042-0000000007", kMediaStatus)),
              0);
    EXPECT_EQ(car.messageKind(), "MESSAGE_REPLAY");
    EXPECT_EQ(
        built(car.buildPlaybackMessageOk(&length), length),
        crlf({"SIP/2.0 200 OK", "Via: SIP/2.0/UDP 10.0.0.9:5060;rport;branch=z9hG4bK-pMESSAGE",
              "From: <sip:34020000002000000001@10.0.0.9:5060>;tag=plat77",
              "To: " + kUs + ";tag=0000000042", kDialogCallId, "CSeq: 20 MESSAGE",
              "Max-Forwards: 70", "Content-Length: 0", ""}));
    EXPECT_EQ(car.currentRequestName(), "MessageOK_REPLAY");
}

TEST_F(PlaybackDialog, OnlyDialogOrMediaStatusMessagesEndThePlayback) {
    const std::string catalogue =
        crlf({"<?xml version=\"1.0\"?>", "<Response>", "<CmdType>Catalog</CmdType>", "<SN>1</SN>",
              "<DeviceID>34020000002000000001</DeviceID>", "<SumNum>1</SumNum>",
              "<DeviceList Num=\"1\">", "<Item>", "<DeviceID>34020000001310000001</DeviceID>",
              "<Name>cam</Name>", "</Item>", "</DeviceList>", "</Response>"});
    const std::string keepalive =
        crlf({"<?xml version=\"1.0\"?>", "<Notify>", "<CmdType>Keepalive</CmdType>", "</Notify>"});
    struct Row {
        const char* name;
        bool open;
        std::string callId, body, kind;
    };
    const std::vector<Row> rows = {
        {"catalogue outside the dialog while playing", true, "other@x", catalogue, "MESSAGE"},
        {"keepalive outside the dialog while playing", true, "other@x", keepalive, "MESSAGE"},
        {"media status outside the dialog while playing", true, "other@x", kMediaStatus,
         "MESSAGE_REPLAY"},
        {"any body inside the dialog", true, "Vekta9-0000000042-0000000007", keepalive,
         "MESSAGE_REPLAY"},
        {"media status with the dialog closed", false, "Vekta9-0000000042-0000000007", kMediaStatus,
         "MESSAGE"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CCTVCAR c;
        configure(c);
        c.buildPlaybackInvite(&length, 1, 2, "34020000001310000001");
        feed(c, inviteAnswer("Vekta9-0000000042-0000000007", "1 INVITE"));
        if (row.open)
            c.buildPlaybackAck(&length);
        ASSERT_GT(feed(c, platformRequest("MESSAGE", row.callId, row.body)), 0);
        EXPECT_EQ(c.messageKind(), row.kind);
    }
}

TEST_F(PlaybackDialog, PlatformByeIsAnsweredAndClosesOnlyItsDialog) {
    invite();
    answer();
    car.buildPlaybackAck(&length);
    ASSERT_GT(feed(car, platformRequest("BYE", "unrelated@x", "")), 0);
    EXPECT_EQ(car.messageKind(), "BYE");
    EXPECT_TRUE(car.playbackDialogOpen());

    ASSERT_GT(feed(car, platformRequest("BYE", "Vekta9-0000000042-0000000007", "")), 0);
    EXPECT_EQ(car.messageKind(), "BYE");
    EXPECT_FALSE(car.playbackDialogOpen());
    EXPECT_EQ(built(car.buildByeOk(&length), length),
              crlf({"SIP/2.0 200 OK", "Via: SIP/2.0/UDP 10.0.0.9:5060;rport;branch=z9hG4bK-pBYE",
                    "From: <sip:34020000002000000001@10.0.0.9:5060>;tag=plat77",
                    "To: " + kUs + ";tag=0000000042", kDialogCallId, "CSeq: 20 BYE",
                    "Contact: " + kUs, "Content-Length: 0", ""}));
}

TEST_F(PlaybackDialog, RecordTimesOnlyFromTheDialogsInviteAnswer) {
    invite();
    struct Row {
        const char* name;
        std::string datagram;
        int32_t start;
    };
    const std::vector<Row> rows = {
        {"200 to another INVITE", inviteAnswer("other@x", "1 INVITE", "t=5 10"), 0},
        {"200 to INFO in the dialog",
         inviteAnswer("Vekta9-0000000042-0000000007", "2 INFO", "t=5 10"), 0},
        {"t= not at a line start",
         inviteAnswer("Vekta9-0000000042-0000000007", "1 INVITE", "a=t=5 10"), 0},
        {"time line without blank",
         inviteAnswer("Vekta9-0000000042-0000000007", "1 INVITE", "t=510"), 0},
        {"the dialog's answer",
         inviteAnswer("Vekta9-0000000042-0000000007", "1 INVITE", "t=5 3605"), 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_GT(feed(car, row.datagram), 0);
        EXPECT_EQ(car.recordStart(), row.start);
    }
    EXPECT_EQ(car.recordDuration(), 3600);
}

// A new INVITE forgets the last span; spans past 2038 are carried whole.
TEST_F(PlaybackDialog, EachInviteStartsWithoutASpanAndSpansPass2038) {
    invite();
    answer();
    car.buildPlaybackInvite(&length, 4102444800LL, 4102448400LL, "34020000001310000001");
    EXPECT_NE(std::string(car.lastMessage()).find("t=4102444800 4102448400\r\n"),
              std::string::npos);
    EXPECT_EQ(car.recordStart(), 0);
    EXPECT_EQ(car.recordDuration(), 0);
    const std::string callId = car.dialogCallIds().at("0");
    ASSERT_GT(feed(car, inviteAnswer(callId, "1 INVITE", "b=AS:512")), 0);
    EXPECT_EQ(car.recordDuration(), 0);
    ASSERT_GT(feed(car, inviteAnswer(callId, "1 INVITE", "t=4102444800 4102448400")), 0);
    EXPECT_EQ(car.recordStart(), 4102444800LL);
    EXPECT_EQ(car.recordDuration(), 3600);
}

TEST_F(PlaybackDialog, AnswerToAnyInviteSetsRemoteTag) {
    std::string noTag = inviteAnswer("other@x", "1 INVITE");
    noTag.replace(noTag.find(";tag=plat77"), 11, "");
    feed(car, inviteAnswer("other@x", "1 INVITE"));
    EXPECT_EQ(car.remoteTag(), "plat77");
    feed(car, noTag);
    EXPECT_EQ(car.remoteTag(), "");
}

TEST_F(PlaybackDialog, NewInviteRestartsTheDialog) {
    invite();
    answer();
    car.buildPlaybackAck(&length);
    car.buildPlaybackInfo(&length, 1, nullptr, -1);
    car.buildPlaybackBye(&length);
    std::string second = built(car.buildPlaybackInvite(&length, 1, 2, "c"), length);
    EXPECT_NE(second.find("Call-ID: Vekta9-0000000046-0000000011\r\n"), std::string::npos);
    std::string info = built(car.buildPlaybackInfo(&length, 2, nullptr, -1), length);
    EXPECT_NE(info.find("CSeq: 2 INFO\r\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Call-ID: Vekta9-0000000046-0000000011\r\n"), std::string::npos) << info;
}

}  // namespace
