// Reading received datagrams: results, classification, identifiers and catalogue bodies.
#include <gtest/gtest.h>

#include <QTextCodec>

#include "SipTestKit.h"

using namespace siptest;

namespace {

std::string withBody(std::vector<std::string> headers, const std::string& body,
                     const char* contentLength = nullptr) {
    headers.push_back(std::string("Content-Length: ") +
                      (contentLength ? contentLength : std::to_string(body.size()).c_str()));
    headers.push_back("");
    return crlf(headers) + body;
}

std::string response(const std::string& status, const std::string& cseq) {
    return withBody(
        {"SIP/2.0 " + status, "Via: SIP/2.0/UDP 10.0.0.5:5061;rport=5061;branch=z9hG4bK-1",
         "From: <sip:34020000001320000001@10.0.0.5:5061>;tag=0000000042",
         "To: <sip:34020000002000000001@10.0.0.9:5060>;tag=r1", "Call-ID: c1", "CSeq: " + cseq},
        "");
}

std::string request(const std::string& method, const std::string& body,
                    const char* contentLength = nullptr) {
    return withBody({method + " sip:34020000001320000001@10.0.0.5:5061 SIP/2.0",
                     "Via: SIP/2.0/UDP 10.0.0.9:5060;rport;branch=z9hG4bK-" + method,
                     "From: <sip:34020000002000000001@10.0.0.9:5060>;tag=f-" + method,
                     "To: <sip:34020000001320000001@10.0.0.5:5061>", "Call-ID: id-" + method,
                     "CSeq: 20 " + method, "Content-Type: Application/MANSCDP+xml"},
                    body, contentLength);
}

const std::string kKeepalive =
    crlf({"<?xml version=\"1.0\"?>", "<Notify>", "<CmdType>Keepalive</CmdType>", "<SN>3</SN>",
          "<DeviceID>34020000002000000001</DeviceID>", "<Status>OK</Status>", "</Notify>"});

constexpr int kWhole = -2;        // the whole datagram
constexpr int kHeadersOnly = -3;  // the datagram less its 10-byte body
constexpr int kToNotifyEnd = -4;  // up to "</Notify>", its line end not included

struct Row {
    const char* name;
    std::string datagram;
    int result;  // or one of the two below
    const char* kind;
};

TEST(Incoming, ResultsAndKinds) {
    const std::string body = "0123456789";
    std::string cut = request("NOTIFY", kKeepalive);
    cut.resize(cut.size() - 12);
    std::string message = request("MESSAGE", kKeepalive);
    const std::vector<Row> rows = {
        {"200 to REGISTER", response("200 OK", "2 REGISTER"), kWhole, "LOGIN"},
        {"401 challenge", response("401 Unauthorized", "1 REGISTER"), kWhole, "REGISTER"},
        {"401 with another reason", response("401 Please Authenticate", "1 REGISTER"), kWhole,
         "REGISTER"},
        {"407 is not a challenge", response("407 Proxy Authentication Required", "1 REGISTER"),
         kWhole, ""},
        {"200 to SUBSCRIBE", response("200 OK", "0000000042 SUBSCRIBE"), kWhole, "SUBSCRIBE_OK"},
        {"200 to MESSAGE", response("200 OK", "0000000042 MESSAGE"), kWhole, "MESSAGE_OK"},
        {"200 to BYE", response("200 OK", "2 BYE"), kWhole, "BYE"},
        {"200 to INFO", response("200 OK", "2 INFO"), kWhole, "INFO_REPLAY"},
        {"100 to INVITE", response("100 Trying", "1 INVITE"), kWhole, "INVITE_100TRYING"},
        {"200 to INVITE, method in lower case", response("200 OK", "1 invite"), kWhole,
         "INVITE_200OK"},
        {"180 to INVITE", response("180 Ringing", "1 INVITE"), kWhole, ""},
        {"486 to INVITE", response("486 Busy Here", "1 INVITE"), kWhole, ""},
        {"keepalive MESSAGE", message, kWhole, "MESSAGE"},
        {"MESSAGE longer than arrived", request("MESSAGE", kKeepalive, "500"),
         int(message.size()) - int(kKeepalive.size()) + 500, "MESSAGE"},
        {"NOTIFY complete", request("NOTIFY", kKeepalive), kToNotifyEnd, "NOTIFY"},
        {"NOTIFY cut before its end", cut, 0, ""},
        {"NOTIFY ending a subscription, no body", request("NOTIFY", ""), kWhole, "NOTIFY"},
        {"NOTIFY whose announced body has not arrived", request("NOTIFY", "", "30"), 0, ""},
        {"INVITE from the platform", request("INVITE", body), kWhole, "INVITE"},
        {"INVITE not complete", request("INVITE", body, "20"), 0, ""},
        {"SUBSCRIBE is refused", request("SUBSCRIBE", body), kHeadersOnly, "ERRORS"},
        {"SUBSCRIBE not complete", request("SUBSCRIBE", body, "11"), 0, ""},
        {"REGISTER is refused", request("REGISTER", ""), kWhole, "ERRORS"},
        {"UNSUBSCRIBE is refused", request("UNSUBSCRIBE", ""), kWhole, "ERRORS"},
        {"BYE from the platform", request("BYE", ""), kWhole, "BYE"},
        {"INFO is rejected", request("INFO", ""), -1, ""},
        {"Content-Length not a number", request("MESSAGE", kKeepalive, "12a"), -1, ""},
        {"Content-Length negative", request("INVITE", body, "-5"), -1, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CCTVCAR car;
        configure(car);
        int expected = row.result;
        if (expected == kWhole)
            expected = int(row.datagram.size());
        if (expected == kHeadersOnly)
            expected = int(row.datagram.size()) - 10;
        if (expected == kToNotifyEnd)
            expected = int(row.datagram.size()) - 2;
        EXPECT_EQ(feed(car, row.datagram), expected);
        EXPECT_EQ(car.messageKind(), row.kind);
    }
}

TEST(Incoming, MessageWithoutContentLengthCarriesTheRest) {
    std::string noLength =
        crlf({"MESSAGE sip:a@b SIP/2.0", "Via: SIP/2.0/UDP 10.0.0.9;branch=z9hG4bK1",
              "CSeq: 9 MESSAGE", ""}) +
        crlf({"<?xml version=\"1.0\"?>", "<Response>", "<CmdType>Catalog</CmdType>", "<DeviceList>",
              "<Item>", "<DeviceID>00201507004002000123</DeviceID>", "</Item>", "</DeviceList>",
              "</Response>"});
    CCTVCAR car;
    configure(car);
    EXPECT_EQ(feed(car, noLength), int(noLength.size()));
    EXPECT_EQ(car.messageKind(), "MESSAGE");
    ASSERT_EQ(car.catalogue().size(), 1u);
    EXPECT_STREQ(car.catalogue()[0].DeviceID, "00201507004002000123");
}

TEST(Incoming, KeepsIdentifiersOfTheLastRequest) {
    CCTVCAR car;
    configure(car);
    ASSERT_GT(feed(car, request("MESSAGE", kKeepalive)), 0);
    const CCTVCAR::ReceivedIds& ids = car.receivedIds();
    EXPECT_EQ(ids.Fromtag, "f-MESSAGE");
    EXPECT_EQ(ids.Totag, "");
    EXPECT_EQ(ids.CallID, "id-MESSAGE");
    EXPECT_EQ(ids.branch, "z9hG4bK-MESSAGE");
    EXPECT_EQ(ids.CSeq, "20 MESSAGE");
    EXPECT_EQ(ids.Fromsipip, "10.0.0.9:5060");

    // A request without From keeps the last host; the others are cleared.
    std::string bare = crlf({"MESSAGE sip:a@b SIP/2.0", "Call-ID: bare", ""});
    ASSERT_GT(feed(car, bare), 0);
    EXPECT_EQ(ids.Fromtag, "");
    EXPECT_EQ(ids.CSeq, "");
    EXPECT_EQ(ids.CallID, "bare");
    EXPECT_EQ(ids.Fromsipip, "10.0.0.9:5060");

    // Responses, incomplete and malformed datagrams leave them alone.
    feed(car, response("200 OK", "1 MESSAGE"));
    feed(car, request("INVITE", "x", "9"));
    feed(car, request("INFO", ""));
    EXPECT_EQ(ids.CallID, "bare");
}

TEST(Incoming, ChallengeReplacesRealmNonceAndOpaque) {
    CCTVCAR car;
    configure(car);
    std::string first = response("401 Unauthorized", "1 REGISTER");
    first.insert(first.find("Content-Length"),
                 "WWW-Authenticate: Digest realm=\"r1\",nonce=\"n1\",opaque=\"o1\"\r\n");
    std::string second = response("401 UNAUTHORIZED", "1 REGISTER");
    second.insert(second.find("Content-Length"), "WWW-Authenticate: Digest nonce=\"n2\"\r\n");
    feed(car, first);
    EXPECT_EQ(car.receivedIds().realm, "r1");
    EXPECT_EQ(car.receivedIds().opaque, "o1");
    feed(car, second);
    EXPECT_EQ(car.receivedIds().realm, "");
    EXPECT_EQ(car.receivedIds().nonce, "n2");
    EXPECT_EQ(car.receivedIds().opaque, "");
}

// ---------------------------------------------------------------- catalogue

QByteArray gb18030(const QString& text) {
    return QTextCodec::codecForName("GB18030")->fromUnicode(text);
}

std::string catalogueBody(const QString& root, const QString& items,
                          const QString& cmdType = QStringLiteral("Catalog")) {
    QString xml = QStringLiteral(
                      "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<%1>\r\n"
                      "<CmdType>%2</CmdType>\r\n<SN>17</SN>\r\n"
                      "<DeviceID>34020000002000000001</DeviceID>\r\n<SumNum>9</SumNum>\r\n"
                      "<DeviceList Num=\"2\">\r\n%3</DeviceList>\r\n</%1>\r\n")
                      .arg(root, cmdType, items);
    return gb18030(xml).toStdString();
}

QString item(const QString& deviceId, const QString& name, const QString& status,
             const QString& extra = QString(), const QString& tag = QStringLiteral("Item")) {
    return QStringLiteral(
               "<%5>\r\n<DeviceID>%1</DeviceID>\r\n<Name>%2</Name>\r\n"
               "<Status>%3</Status>\r\n%4</%5>\r\n")
        .arg(deviceId, name, status, extra, tag);
}

TEST(Catalogue, ReadsGb18030ItemsAndSplitsTheCodes) {
    const QString items =
        item(QStringLiteral("00109901203001000005"), QStringLiteral("一号车厢摄像机"),
             QStringLiteral("ON"),
             QStringLiteral("<ParentID>00109901203401000001</ParentID>\r\n<IPAddress>10.1.1.7"
                            "</IPAddress>\r\n<RegisterWay>1</RegisterWay>\r\n<ChannelNum>2"
                            "</ChannelNum>\r\n")) +
        item(QStringLiteral("00201507004002000123"), QStringLiteral("站台摄像机"),
             QStringLiteral("on"), QString(), QStringLiteral("item")) +
        item(QStringLiteral("00201507004131000001"), QStringLiteral("编码器"),
             QStringLiteral("OFF"), QStringLiteral("<Event> OFF </Event>\r\n")) +
        item(QStringLiteral("00201507004021000009"), QStringLiteral("监视器"), QStringLiteral("ON"),
             QStringLiteral("<ParentID>00201507004401000001</ParentID>\r\n")) +
        item(QStringLiteral("0020150700"), QStringLiteral("短码"), QStringLiteral("ON")) +
        item(QStringLiteral("002015070040010000010"), QStringLiteral("长码"), QStringLiteral("ON"));
    CCTVCAR car;
    configure(car);
    ASSERT_GT(feed(car, request("NOTIFY", catalogueBody(QStringLiteral("Notify"), items))), 0);
    EXPECT_EQ(car.messageKind(), "NOTIFY");
    const std::vector<SIP_CATALOG>& c = car.catalogue();
    ASSERT_EQ(c.size(), 6u);

    EXPECT_STREQ(c[0].DeviceID, "00109901203001000005");
    EXPECT_EQ(c[0].typeCode, 1);
    EXPECT_EQ(c[0].idNumber, 99000005);
    EXPECT_EQ(c[0].idGroupA, 1);
    EXPECT_EQ(c[0].idGroupB, 99);
    EXPECT_EQ(c[0].idGroupC, 12);  // train: three digits
    EXPECT_EQ(c[0].idGroupD, 3);   // car: two digits
    EXPECT_EQ(QByteArray(c[0].Name), gb18030(QStringLiteral("一号车厢摄像机")));
    EXPECT_STREQ(c[0].ParentID, "00109901203401000001");
    EXPECT_STREQ(c[0].IPAddress, "10.1.1.7");
    EXPECT_EQ(c[0].online, 1);
    EXPECT_EQ(c[0].statusMarkA, 1);
    EXPECT_EQ(c[0].registerWay, 1);
    EXPECT_EQ(c[0].channelNum, 2);

    EXPECT_EQ(c[1].typeCode, 2);
    EXPECT_EQ(c[1].idNumber, 15000123);
    EXPECT_EQ(c[1].idGroupC, 7);  // station: two digits
    EXPECT_EQ(c[1].idGroupD, 4);  // then three
    EXPECT_EQ(c[1].online, 0);    // "on" is not "ON"
    EXPECT_EQ(QByteArray(c[1].Name), gb18030(QStringLiteral("站台摄像机")));

    EXPECT_STREQ(c[2].DeviceID, "");  // type 131 not accepted
    EXPECT_EQ(c[2].typeCode, 0);
    EXPECT_EQ(QByteArray(c[2].Name), gb18030(QStringLiteral("编码器")));

    EXPECT_EQ(c[3].typeCode, 21);
    EXPECT_EQ(c[3].idNumber, 21 * 1000 + 9 + 70 * 100000);
    EXPECT_STREQ(c[3].ParentID, "00201507004401000001");

    EXPECT_STREQ(c[4].DeviceID, "");  // too short: ignored, not read out of range
    EXPECT_STREQ(c[5].DeviceID, "");  // too long: ignored, not truncated

    // Beside each record: OFF told from a status nobody knows, and the change notice's Event.
    using Status = manscdp::ItemState::Status;
    const std::vector<manscdp::ItemState>& states = car.catalogueStates();
    ASSERT_EQ(states.size(), c.size());
    EXPECT_EQ(states[0].status, Status::On);
    EXPECT_EQ(states[1].status, Status::Unknown);
    EXPECT_EQ(states[1].statusShown, "\"on\"");
    EXPECT_EQ(states[2].status, Status::Off);
    EXPECT_EQ(states[2].event, "OFF");
    EXPECT_EQ(states[3].event, "");
}

TEST(Catalogue, EveryCatalogBodyReplacesTheList) {
    CCTVCAR car;
    configure(car);
    auto part = [](const char* id) {
        return catalogueBody(QStringLiteral("Response"),
                             item(QLatin1String(id), QStringLiteral("名"), QStringLiteral("ON")));
    };
    feed(car, request("MESSAGE", part("00201507004001000001")));
    feed(car, request("MESSAGE", part("00201507004001000002")));
    ASSERT_EQ(car.catalogue().size(), 1u);
    EXPECT_STREQ(car.catalogue()[0].DeviceID, "00201507004001000002");

    struct Row {
        const char* name;
        std::string body;
    };
    const std::vector<Row> untouched = {
        {"keepalive", kKeepalive},
        {"root Query", catalogueBody(QStringLiteral("Query"), QString())},
        {"lower-case command",
         catalogueBody(QStringLiteral("Response"), QString(), QStringLiteral("catalog"))},
        {"not XML", "<Response><CmdType>Catalog</CmdType"},
    };
    for (const Row& row : untouched) {
        SCOPED_TRACE(row.name);
        ASSERT_GT(feed(car, request("MESSAGE", row.body)), 0);
        EXPECT_EQ(car.catalogue().size(), 1u);
    }
    // A Catalog body without DeviceList empties the list.
    std::string empty =
        gb18030(QStringLiteral("<Response><CmdType>Catalog</CmdType></Response>")).toStdString();
    feed(car, request("MESSAGE", empty));
    EXPECT_TRUE(car.catalogue().empty());
}

TEST(Catalogue, NotifyBodyRunsToItsEndWhateverContentLengthSays) {
    CCTVCAR car;
    configure(car);
    std::string body = catalogueBody(
        QStringLiteral("Notify"),
        item(QStringLiteral("00201507004001000001"), QStringLiteral("名"), QStringLiteral("ON")));
    std::string d = request("NOTIFY", body, "10");
    EXPECT_EQ(feed(car, d), int(d.size()) - 2);
    EXPECT_EQ(car.catalogue().size(), 1u);
}

TEST(Catalogue, LongNameIsCutAtACharacterBoundary) {
    QTextCodec* gb = QTextCodec::codecForName("GB18030");
    const QString fourByte = QString::fromUcs4(U"\U00020000");  // a surrogate pair
    struct Row {
        const char* name;
        QString text;
        int bytes;  // stored byte count
    };
    const std::vector<Row> rows = {
        {"two-byte characters", QString(200, QChar(0x6444)), 254},
        {"four-byte characters", QStringLiteral("a") + fourByte.repeated(100), 253},
        {"255 ASCII fit whole", QString(255, QLatin1Char('n')), 255},
        {"256 ASCII", QString(256, QLatin1Char('n')), 255},
        {"30,000 characters", (QStringLiteral("ab摄") + fourByte).repeated(6000), 252},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CCTVCAR car;
        configure(car);
        feed(car, request("MESSAGE", catalogueBody(QStringLiteral("Response"),
                                                   item(QStringLiteral("00201507004001000001"),
                                                        row.text, QStringLiteral("ON")))));
        ASSERT_EQ(car.catalogue().size(), 1u);
        const QByteArray stored(car.catalogue()[0].Name);
        EXPECT_EQ(stored.size(), row.bytes);
        // Whole characters only: the stored bytes decode to a prefix of the name.
        const QString back = gb->toUnicode(stored);
        EXPECT_TRUE(row.text.startsWith(back));
        EXPECT_EQ(gb->fromUnicode(back), stored);
    }
}

TEST(Catalogue, CodesThatDoNotFitAreRefusedNotCut) {
    const QString items =
        item(QStringLiteral("00201507004021000009"), QStringLiteral("监视器"), QStringLiteral("ON"),
             QStringLiteral("<ParentID>002015070044010000011234</ParentID>\r\n"
                            "<IPAddress>2001:db8::85a3:8a2e:370:7334</IPAddress>\r\n")) +
        item(QStringLiteral(" 00201507004001000002 "), QStringLiteral("名"), QStringLiteral("ON"),
             QStringLiteral("<ParentID>00201507004401000001</ParentID>\r\n"
                            "<IPAddress> 10.1.1.7 </IPAddress>\r\n<IPAddress>十.1.1.8</IPAddress>"
                            "\r\n")) +
        item(QStringLiteral("0020150700400100000२"), QStringLiteral("名"), QStringLiteral("ON"));
    CCTVCAR car;
    configure(car);
    ASSERT_GT(feed(car, request("MESSAGE", catalogueBody(QStringLiteral("Response"), items))), 0);
    EXPECT_EQ(car.bodyCommand(), manscdp::Command::Catalog);
    const std::vector<SIP_CATALOG>& c = car.catalogue();
    ASSERT_EQ(c.size(), 3u);
    // The item is kept; a refused field stays as if its element were absent.
    EXPECT_STREQ(c[0].DeviceID, "00201507004021000009");
    EXPECT_STREQ(c[0].ParentID, "");
    EXPECT_STREQ(c[0].IPAddress, "");
    EXPECT_STREQ(c[1].DeviceID, "00201507004001000002");
    EXPECT_STREQ(c[1].ParentID, "00201507004401000001");
    EXPECT_STREQ(c[1].IPAddress, "10.1.1.7");  // the refused repeat leaves the first value
    EXPECT_STREQ(c[2].DeviceID, "");
    EXPECT_EQ(c[2].typeCode, 0);

    const std::vector<std::string>& notes = car.bodyNotes().lines();
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_NE(notes[0].find("ParentID \"002015070044010000011234\" refused"), std::string::npos);
    EXPECT_NE(notes[1].find("IPAddress \"2001:db8::85a3:8a2e:370:7334\" refused"),
              std::string::npos);
    EXPECT_NE(notes[2].find("IPAddress \"?.1.1.8\" refused"), std::string::npos);
    EXPECT_NE(notes[3].find("DeviceID \"0020150700400100000?\" refused"), std::string::npos);
}

TEST(Catalogue, HostileBodiesAreRefusedAndTheCatalogueKept) {
    const std::string good = catalogueBody(
        QStringLiteral("Response"),
        item(QStringLiteral("00201507004001000001"), QStringLiteral("名"), QStringLiteral("ON")));
    std::string bomb = "<?xml version=\"1.0\"?>\r\n<!DOCTYPE r [<!ENTITY x \"" +
                       std::string(4000, 'x') + "\">]>\r\n<Response><CmdType>Catalog</CmdType>" +
                       "<DeviceList><Item><Name>";
    for (int i = 0; i < 2000; ++i)
        bomb += "&x;";
    bomb += "</Name></Item></DeviceList></Response>";
    // 32 levels with the four of the catalogue; neither <b/> nor the comment opens one.
    std::string deepest = "<b/><!-- <c> -->";
    for (int i = 0; i < 28; ++i)
        deepest = "<a x=\"1\">" + deepest + "</a>";
    const std::string nested = "<a>" + deepest + "</a>";
    struct Row {
        const char* name;
        std::string body;
        const char* note;
    };
    const std::vector<Row> rows = {
        {"internal entities", bomb, "refused: it declares a DOCTYPE"},
        {"external entity",
         "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
         "<Response><CmdType>Catalog</CmdType><DeviceList><Item><Name>&x;</Name></Item>"
         "</DeviceList></Response>",
         "refused: it declares a DOCTYPE"},
        {"deep nesting",
         "<Response><CmdType>Catalog</CmdType><DeviceList><Item><Name>" + nested +
             "</Name></Item></DeviceList></Response>",
         "nest deeper than 32"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CCTVCAR car;
        configure(car);
        ASSERT_GT(feed(car, request("MESSAGE", good)), 0);
        ASSERT_GT(feed(car, request("MESSAGE", row.body)), 0);
        EXPECT_EQ(car.messageKind(), "MESSAGE");
        EXPECT_EQ(car.bodyCommand(), manscdp::Command::Other);
        ASSERT_EQ(car.catalogue().size(), 1u);
        ASSERT_EQ(car.bodyNotes().lines().size(), 1u);
        EXPECT_NE(car.bodyNotes().lines()[0].find(row.note), std::string::npos)
            << car.bodyNotes().lines()[0];
    }
    CCTVCAR car;
    configure(car);
    feed(car, request("MESSAGE", "<Response><CmdType>Catalog</CmdType><DeviceList><Item><Name>" +
                                     deepest + "</Name></Item></DeviceList></Response>"));
    EXPECT_EQ(car.bodyCommand(), manscdp::Command::Catalog);
}

TEST(Catalogue, InvalidGb18030IsReadAsReplacementCharacters) {
    std::string body = catalogueBody(
        QStringLiteral("Response"),
        item(QStringLiteral("00201507004001000001"), QStringLiteral("AB"), QStringLiteral("ON")));
    body.replace(body.find("<Name>AB"), 8, "<Name>\x81\x20\xFF\x80");
    CCTVCAR car;
    configure(car);
    ASSERT_GT(feed(car, request("MESSAGE", body)), 0);
    ASSERT_EQ(car.catalogue().size(), 1u);
    const QByteArray name(car.catalogue()[0].Name);
    EXPECT_FALSE(name.isEmpty());
    EXPECT_EQ(gb18030(QTextCodec::codecForName("GB18030")->toUnicode(name)), name);
    ASSERT_FALSE(car.bodyNotes().lines().empty());
    EXPECT_NE(car.bodyNotes().lines()[0].find("not GB18030"), std::string::npos);
}

TEST(Catalogue, NotesAreBounded) {
    QString items;
    for (int i = 0; i < 100; ++i)
        items +=
            item(QStringLiteral("00201507004001000001"), QStringLiteral("名"), QStringLiteral("ON"),
                 QStringLiteral("<IPAddress>::ffff:10.10.10.10</IPAddress>"));
    CCTVCAR car;
    configure(car);
    ASSERT_GT(feed(car, request("MESSAGE", catalogueBody(QStringLiteral("Response"), items))), 0);
    EXPECT_EQ(car.catalogue().size(), 100u);
    EXPECT_EQ(car.bodyNotes().lines().size(), manscdp::Notes::kKept);
    EXPECT_EQ(car.bodyNotes().more(), 100u - manscdp::Notes::kKept);
}

TEST(Catalogue, BodyStopsAtTheDatagramsZero) {
    CCTVCAR car;
    configure(car);
    std::string body = catalogueBody(
        QStringLiteral("Response"),
        item(QStringLiteral("00201507004001000001"), QStringLiteral("名"), QStringLiteral("ON")));
    std::string d = request("MESSAGE", body);
    d[d.size() - body.size() + 5] = '\0';  // inside the XML declaration: no document
    ASSERT_GT(feed(car, d), 0);
    EXPECT_TRUE(car.catalogue().empty());
}

}  // namespace
