// Byte-exact messages of every builder, with fixed identifiers and clock.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "SipTestKit.h"

using namespace siptest;

namespace {

const std::string kOurContact = "<sip:34020000001320000001@10.0.0.5:5061>";
const std::string kPlatUser = "34020000002000000001";
const std::string kCamera = "34020000001310000001";

std::string via(int x) {
    return "Via: SIP/2.0/UDP 10.0.0.5:5061;rport;branch=z9hG4bK-00000000" + std::to_string(x);
}

std::string challenge(const std::string& wwwAuthenticate) {
    return crlf({"SIP/2.0 401 Unauthorized",
                 "Via: SIP/2.0/UDP 10.0.0.5:5061;rport=5061;branch=z9hG4bK-0000000042",
                 "From: <sip:34020000001320000001@10.0.0.5:5061>;tag=0000000042",
                 "To: <sip:34020000001320000001@10.0.0.5:5061>;tag=p1",
                 "Call-ID: Vekta9-0000000042-0000000007", "CSeq: 1 REGISTER",
                 "WWW-Authenticate: " + wwwAuthenticate, "Content-Length: 0", ""});
}

class Builders : public ::testing::Test {
protected:
    void SetUp() override { configure(car); }
    CCTVCAR car;
    int length = -1;
};

TEST_F(Builders, FirstRegister) {
    std::string text = built(car.buildRegister(0, &length), length);
    EXPECT_EQ(text, crlf({"REGISTER SIP:34020000002000000001@10.0.0.9:5060 SIP/2.0", via(42),
                          "From: " + kOurContact + ";tag=0000000042", "To: " + kOurContact,
                          "Call-ID: Vekta9-0000000042-0000000007", "CSeq: 1 REGISTER",
                          "Contact: " + kOurContact, "User-Agent: TAVI", "Max-Forwards: 70",
                          "Expires: 3600", "Content-Length: 0", ""}));
    EXPECT_EQ(length, int(text.size()));
    EXPECT_EQ(car.currentRequestName(), "REGISTER");
}

TEST_F(Builders, AuthenticatedRegisterAfterChallengeWithoutBlanks) {
    car.buildRegister(0, &length);
    ASSERT_GT(feed(car, challenge("Digest realm=\"3402000000\",qop=\"auth\",nonce=\"9a8b7c6d\","
                                  "algorithm=MD5")),
              0);
    EXPECT_EQ(car.messageKind(), "REGISTER");
    std::string text = built(car.buildRegister(1, &length), length);
    EXPECT_EQ(text, crlf({"REGISTER SIP:34020000002000000001@10.0.0.9:5060 SIP/2.0", via(43),
                          "From: " + kOurContact + ";tag=0000000043", "To: " + kOurContact,
                          "Call-ID: Vekta9-0000000043-0000000008", "CSeq: 2 REGISTER",
                          "Contact: " + kOurContact,
                          "Authorization: Digest username=\"admin\",uri=\"sip:34020000002000000001@"
                          "10.0.0.9:5060\",algorithm=MD5,realm=\"3402000000\",nonce=\"9a8b7c6d\","
                          "response=\"9e15bf2d0ec8001a2d5c80a67f1f6b0c\"",
                          "User-Agent: TAVI", "Max-Forwards: 70", "Expires: 3600",
                          "Content-Length: 0", ""}));
}

TEST_F(Builders, AuthorizationEchoesOpaqueAndIgnoresUnusualReasonPhrase) {
    std::string c = challenge("Digest realm=\"3402000000\", nonce=\"9a8b7c6d\", opaque=\"x,y\"");
    c.replace(c.find("Unauthorized"), 12, "Auth needed");
    ASSERT_GT(feed(car, c), 0);
    EXPECT_EQ(car.messageKind(), "REGISTER");
    std::string text = built(car.buildRegister(1, &length), length);
    EXPECT_NE(text.find("response=\"9e15bf2d0ec8001a2d5c80a67f1f6b0c\",opaque=\"x,y\"\r\n"),
              std::string::npos)
        << text;
}

TEST_F(Builders, AuthorizationQuotesEscapedChallengeValuesAgain) {
    ASSERT_GT(feed(car, challenge(R"(Digest realm="a\"b\\c", nonce="n\"1")")), 0);
    ASSERT_EQ(car.receivedIds().realm, R"(a"b\c)");
    std::string text = built(car.buildRegister(1, &length), length);
    // The digest is computed over the unescaped values.
    char ha1[33], ha2[33], response[33];
    CCTVCAR::md5Hex(R"(admin:a"b\c:12345678)", ha1);
    CCTVCAR::md5Hex("REGISTER:sip:34020000002000000001@10.0.0.9:5060", ha2);
    CCTVCAR::md5Hex((std::string(ha1) + R"(:n"1:)" + ha2).c_str(), response);
    EXPECT_NE(
        text.find(R"(,realm="a\"b\\c",nonce="n\"1",response=")" + std::string(response) + "\"\r\n"),
        std::string::npos)
        << text;
}

TEST_F(Builders, RegisterWithUnknownAttemptHasNoAuthorization) {
    std::string text = built(car.buildRegister(4, &length), length);
    EXPECT_NE(text.find("CSeq: 5 REGISTER\r\n"), std::string::npos);
    EXPECT_EQ(text.find("Authorization"), std::string::npos);
}

TEST_F(Builders, CatalogQuery) {
    std::string text = built(car.buildCatalogQuery(&length), length);
    EXPECT_EQ(text, crlf({"MESSAGE sip:34020000002000000001@10.0.0.9:5060 SIP/2.0", via(42),
                          "From: <sip:34020000001320000001@10.0.0.5>;tag=0000000042",
                          "To: <sip:34020000002000000001@10.0.0.9>",
                          "Call-ID: Vekta9-0000000042-0000000007@10.0.0.5",
                          "CSeq: 0000000042 MESSAGE", "Max-Forwards: 70",
                          "Content-Type: application/MANSCDP+xml", "Content-Length: 125", "",
                          "<?xml version=\"1.0\"?>", "<Query>", "<CmdType>Catalog</CmdType>",
                          "<SN>1</SN>", "<DeviceID>34020000002000000001</DeviceID>", "</Query>"}));
}

TEST_F(Builders, SubscribeNamesUsWithBranchAndPort) {
    std::string text = built(car.buildSubscribe(&length), length);
    EXPECT_EQ(text, crlf({"SUBSCRIBE sip:34020000002000000001@10.0.0.9:5060 SIP/2.0",
                          via(42),
                          "From: <sip:34020000001320000001@10.0.0.5>;tag=0000000042",
                          "To: <sip:34020000002000000001@10.0.0.9>",
                          "Call-ID: Vekta9-0000000042-0000000007@10.0.0.5",
                          "CSeq: 0000000042 SUBSCRIBE",
                          "Event: presence",
                          "Max-Forwards: 70",
                          "Contact: " + kOurContact,
                          "Content-Type: application/MANSCDP+xml",
                          "Expires: 3600",
                          "Content-Length: 209",
                          "",
                          "<?xml version=\"1.0\"?>",
                          "<Query>",
                          "<CmdType>Catalog</CmdType>",
                          "<SN>1</SN>",
                          "<DeviceID>34020000002000000001</DeviceID>",
                          "<StartTime>2024-03-05T09:00:00</StartTime>",
                          "<EndTime>2999-12-12T00:00:00</EndTime>",
                          "</Query>"}));
}

TEST_F(Builders, Keepalive) {
    std::string text = built(car.buildKeepalive(&length), length);
    EXPECT_EQ(
        text,
        crlf({"MESSAGE sip:34020000002000000001@10.0.0.9:5060 SIP/2.0", via(42),
              "From: <sip:34020000001320000001@10.0.0.5>;tag=0000000042",
              "To: <sip:34020000002000000001@10.0.0.9>",
              "Call-ID: Vekta9-0000000042-0000000007@10.0.0.5", "CSeq: 0000000042 MESSAGE",
              "Max-Forwards: 70", "Content-Type: application/MANSCDP+xml", "Content-Length: 138",
              "", "<?xml version=\"1.0\"?>", "<Notify>", "<CmdType>Keepalive</CmdType>",
              "<DeviceID>34020000001320000001</DeviceID>", "<Status>OK</Status>", "</Notify>"}));
    EXPECT_EQ(std::string(car.buildKeepalive()).find("tag=0000000043"),
              text.find("tag=0000000042"));
}

// The platform's MESSAGE with two Via lines, a From with port and no To tag.
const std::string kPlatformMessage =
    crlf({"MESSAGE sip:34020000001320000001@10.0.0.5:5061 SIP/2.0",
          "Via: SIP/2.0/UDP 10.0.0.20:5060;branch=z9hG4bK-proxy",
          "Via: SIP/2.0/UDP 10.0.0.9:5060;rport=5060;branch=z9hG4bK776asdhds",
          "From: <sip:34020000002000000001@10.0.0.9:5060>;tag=plat1",
          "To: <sip:34020000001320000001@10.0.0.5:5061>", "Call-ID: 8812@10.0.0.9",
          "CSeq: 20 MESSAGE", "Content-Type: Application/MANSCDP+xml", "Content-Length: 0", ""});

TEST_F(Builders, MessageOkEchoesTheRequest) {
    car.buildKeepalive(&length);  // our last tag is 0000000042
    ASSERT_GT(feed(car, kPlatformMessage), 0);
    std::string text = built(car.buildMessageOk(&length), length);
    EXPECT_EQ(text, crlf({"SIP/2.0 200 OK", "Via: SIP/2.0/UDP 10.0.0.20:5060;branch=z9hG4bK-proxy",
                          "Via: SIP/2.0/UDP 10.0.0.9:5060;rport=5060;branch=z9hG4bK776asdhds",
                          "From: <sip:34020000002000000001@10.0.0.9:5060>;tag=plat1",
                          "To: <sip:34020000001320000001@10.0.0.5:5061>;tag=0000000042",
                          "Call-ID: 8812@10.0.0.9", "CSeq: 20 MESSAGE", "Contact: " + kOurContact,
                          "Content-Length: 0", ""}));
    EXPECT_EQ(car.localIds().tag, "0000000042");  // draws nothing
}

TEST_F(Builders, MessageOkKeepsAnExistingToTag) {
    std::string withTag = kPlatformMessage;
    withTag.replace(withTag.find("10.0.0.5:5061>\r\n"), 16, "10.0.0.5:5061>;tag=ours9\r\n");
    ASSERT_GT(feed(car, withTag), 0);
    std::string text = built(car.buildMessageOk(&length), length);
    EXPECT_NE(text.find("To: <sip:34020000001320000001@10.0.0.5:5061>;tag=ours9\r\n"),
              std::string::npos)
        << text;
}

TEST_F(Builders, RepliesNeedARequestToEcho) {
    const std::string noVia =
        crlf({"MESSAGE sip:a@b SIP/2.0", "From: <sip:p@h>;tag=1", "To: <sip:u@h>", "Call-ID: c",
              "CSeq: 1 MESSAGE", "Content-Length: 0", ""});
    for (const std::string& before : {std::string(), noVia}) {
        SCOPED_TRACE(before.empty() ? "nothing received" : "request without Via");
        CCTVCAR c;
        configure(c);
        if (!before.empty()) {
            ASSERT_GT(feed(c, before), 0);
        }
        for (auto build :
             {&CCTVCAR::buildMessageOk, &CCTVCAR::buildPlaybackMessageOk, &CCTVCAR::buildByeOk}) {
            int n = -1;
            EXPECT_EQ((c.*build)(&n), nullptr);
            EXPECT_EQ(n, 0);
        }
    }
}

TEST_F(Builders, ValuesBeyondTheOldFixedSizesAreHeldAndEchoedWhole) {
    const std::string cseq = "123456789012345678901234 MESSAGE";
    const std::string callId = std::string(100, 'c') + "@10.0.0.9";
    const std::string tag = std::string(60, 't');
    std::string d = kPlatformMessage;
    d.replace(d.find("20 MESSAGE"), 10, cseq);
    d.replace(d.find("8812@10.0.0.9"), 13, callId);
    d.replace(d.find("10.0.0.5:5061>\r\n"), 16, "10.0.0.5:5061>;tag=" + tag + "\r\n");
    ASSERT_GT(feed(car, d), 0);
    EXPECT_EQ(car.receivedIds().CSeq, cseq);
    EXPECT_EQ(car.receivedIds().CallID, callId);
    EXPECT_EQ(car.receivedIds().Totag, tag);
    std::string text = built(car.buildMessageOk(&length), length);
    for (const std::string& line : {"CSeq: " + cseq, "Call-ID: " + callId,
                                    "To: <sip:34020000001320000001@10.0.0.5:5061>;tag=" + tag}) {
        EXPECT_NE(text.find("\r\n" + line + "\r\n"), std::string::npos) << line;
    }

    // The platform's To tag of a 200 OK to our INVITE goes whole into the dialog's requests.
    car.buildPlaybackInvite(&length, 1, 2, kCamera.c_str());
    std::string ok =
        crlf({"SIP/2.0 200 OK", "Via: SIP/2.0/UDP 10.0.0.5:5061;branch=z9hG4bK-1",
              "From: " + kOurContact + ";tag=" + car.localIds().tag,
              "To: <sip:" + kPlatUser + "@10.0.0.9:5060>;tag=" + tag,
              "Call-ID: " + car.localIds().CallID, "CSeq: 1 INVITE", "Content-Length: 0", ""});
    ASSERT_GT(feed(car, ok), 0);
    EXPECT_EQ(car.remoteTag(), tag);
    text = built(car.buildPlaybackAck(&length), length);
    EXPECT_NE(text.find("To: <sip:" + kPlatUser + "@10.0.0.9:5060>;tag=" + tag + "\r\n"),
              std::string::npos)
        << text;
}

TEST_F(Builders, DecoderControlMessages) {
    const std::string head =
        crlf({"MESSAGE sip:34020000002000000001@10.0.0.9:5060 SIP/2.0", via(42),
              "From: <sip:34020000001320000001@10.0.0.5>;tag=0000000042",
              "To: <sip:34020000002000000001@10.0.0.9>",
              "Call-ID: Vekta9-0000000042-0000000007@10.0.0.5", "CSeq: 0000000042 MESSAGE",
              "Max-Forwards: 70", "Content-Type: application/MANSCDP+xml"});
    struct Row {
        const char* name;
        std::function<const char*(CCTVCAR&, int*)> build;
        std::string tail;
    };
    const std::vector<Row> rows = {
        {"RealPlayUrl",
         [](CCTVCAR& c, int* n) {
             return c.buildPlayUrlControl(n, 1, "34020000001310000001", "34020000001330000001");
         },
         crlf({"Content-Length: 192", "", "<?xml version=\"1.0\"?>", "<Control>",
               "<CmdType>RealPlayUrl</CmdType>", "<SN>1</SN>",
               "<DeviceID>34020000001310000001</DeviceID>",
               "<DecoderChannelID>34020000001330000001</DecoderChannelID>", "</Control>"})},
        {"StopPlayUrl ignores the channel",
         [](CCTVCAR& c, int* n) {
             return c.buildPlayUrlControl(n, 0, "34020000001310000001", "34020000001330000001");
         },
         crlf({"Content-Length: 133", "", "<?xml version=\"1.0\"?>", "<Control>",
               "<CmdType>StopPlayUrl</CmdType>", "<SN>1</SN>",
               "<DeviceID>34020000001310000001</DeviceID>", "</Control>"})},
        {"DecoderDivision",
         [](CCTVCAR& c, int* n) { return c.buildDecoderDivision(n, "34020000001330000001", 4); },
         crlf({"Content-Length: 161", "", "<?xml version=\"1.0\"?>", "<Control>",
               "<CmdType>DecoderDivision</CmdType>", "<SN>1</SN>",
               "<DeviceID>34020000001330000001</DeviceID>", "<Division>4</Division>",
               "</Control>"})},
        {"DeviceControl",
         [](CCTVCAR& c, int* n) {
             return c.buildDeviceControl(n, "34020000001310000001",
                                         CCTVCAR::encodePtzCmd(1, 64).c_str());
         },
         crlf({"Content-Length: 225", "", "<?xml version=\"1.0\"?>", "<Control>",
               "<CmdType>DeviceControl</CmdType>", "<SN>1</SN>",
               "<DeviceID>34020000001310000001</DeviceID>", "<PTZCmd>A50F010800FF00BC</PTZCmd>",
               "<Info>", "<ControlPriority>0</ControlPriority>", "</Info>", "</Control>"})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CCTVCAR c;
        configure(c);
        int n = 0;
        EXPECT_EQ(built(row.build(c, &n), n), head + row.tail);
        EXPECT_EQ(c.currentRequestName(), "");
    }
}

TEST(PtzCommand, EncodesTheEightBytes) {
    struct Row {
        int command, speed;
        const char* expected;
    };
    const Row rows[] = {
        {0, 99, "A50F0100000000B5"},
        {1, 64, "A50F010800FF00BC"},
        {5, 64, "A50F01100000F0B5"},
        {104, 3, "A50F01820003003A"},
        {3, 10, "A50F0102280000DF"},
        {15, 20, "A50F0100000000B5"},
        {77, 20, "A50F0100000000B5"},
        {11, 10, "A50F010A2828000F"},
        // More speed never gives less: the data byte and the zoom nibble saturate.
        {1, 65, "A50F010800FF00BC"},
        {1, 1000, "A50F010800FF00BC"},
        {5, 1000, "A50F01100000F0B5"},
        {3, -5, "A50F0102000000B7"},
        {114, 258, "A50F018100020038"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.command) + "/" + std::to_string(r.speed));
        std::string cmd = CCTVCAR::encodePtzCmd(r.command, r.speed);
        ASSERT_EQ(cmd.size(), 16u);
        EXPECT_EQ(cmd.substr(0, std::strlen(r.expected)), r.expected);
    }
}

TEST(Md5, LowerCaseHexOfRfc1321Vectors) {
    char out[33];
    EXPECT_EQ(CCTVCAR::md5Hex("", out), 32);
    EXPECT_STREQ(out, "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(CCTVCAR::md5Hex("message digest", out), 32);
    EXPECT_STREQ(out, "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(CCTVCAR::md5Hex(nullptr, out), -1);
    EXPECT_EQ(CCTVCAR::md5Hex("x", nullptr), -1);
}

TEST(Identifiers, DrawnDigitsShareTagBranchAndCSeq) {
    CCTVCAR car;
    for (int i = 0; i < 20; ++i) {
        car.newIdentifiers();
        const CCTVCAR::LocalIds& ids = car.localIds();
        ASSERT_EQ(ids.tag.size(), 10u);
        EXPECT_EQ(ids.branch, "z9hG4bK-" + ids.tag);
        EXPECT_EQ(ids.CSeqNumber, ids.tag);
        EXPECT_EQ(ids.CallID.rfind("Vekta9-" + ids.tag + "-", 0), 0u);
        EXPECT_EQ(ids.CallID.size(), 28u);
        EXPECT_LE(std::stoll(ids.tag), 400000000);
    }
}

TEST_F(Builders, FixedAreasAreLimitsNotCuts) {
    // A camera code that makes the SDP exceed its 1024-byte area builds nothing.
    std::string longCode(900, '7');
    EXPECT_EQ(car.buildPlaybackInvite(&length, 1, 2, longCode.c_str()), nullptr);
    EXPECT_EQ(length, 0);
    // A MANSCDP body of 256 bytes or more builds nothing either.
    std::string code(120, '1');
    EXPECT_EQ(car.buildPlayUrlControl(&length, 1, code.c_str(), code.c_str()), nullptr);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(car.lastMessage(), nullptr);
    // An echoed value is never cut: a reply that cannot hold it whole is not built.
    std::string longVia = kPlatformMessage;
    longVia.insert(longVia.find(";branch=z9hG4bK-proxy"), ";x=" + std::string(250, 'v'));
    ASSERT_GT(feed(car, longVia), 0);
    EXPECT_EQ(car.buildMessageOk(&length), nullptr);
    EXPECT_EQ(length, 0);
    // A header value that reaches 256 bytes builds nothing.
    CCTVCAR wide;
    std::string host(240, 'h');
    wide.setSessionParams(host.c_str(), kHostCode, kHostPort, kPlatIp, kPlatCode, kPlatPort, "u",
                          "p", "0", "0", "1");
    EXPECT_EQ(wide.buildRegister(0, &length), nullptr);
    EXPECT_EQ(length, 0);
}

}  // namespace
