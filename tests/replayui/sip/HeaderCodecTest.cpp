// The text codec: start lines, header block, derived keys and serialization.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "CHTTPHdrs.h"
#include "SipTestKit.h"

using siptest::crlf;

namespace {

struct ParseRow {
    const char* name;
    std::string datagram;
    int result;  // -2: the full length of the datagram
    int kind;
    int status;
    std::map<std::string, const char*> keys;  // nullptr: must be absent
};

int lengthOf(const ParseRow& row) {
    return row.result == -2 ? int(row.datagram.size()) : row.result;
}

std::vector<ParseRow> parseRows() {
    return {
        {"bare 200 without headers", "SIP/2.0 200 OK\r\n\r\n", 18, 1, 200, {}},
        {"13 bytes complete", "SIP/2.0 2\r\n\r\n", 0, 0, 0, {}},
        {"no blank line yet", "SIP/2.0 200 OK\r\nCSeq: 1 REGISTER\r\n", 0, 0, 0, {}},
        {"401 reason kept",
         crlf({"SIP/2.0 401 Unauthorized", "CSeq: 1 REGISTER", ""}),
         -2,
         1,
         401,
         {{"SIP401", "Unauthorized"}, {"sip401", "Unauthorized"}, {"CSeqType", "REGISTER"}}},
        {"status line without reason", crlf({"SIP/2.0 486", "CSeq: 3 INFO", ""}), -2, 1, 486, {}},
        {"HTTP status line", crlf({"HTTP/1.1 404 Not Found", "Server: x", ""}), -2, 1, 404, {}},
        {"malformed status digits", crlf({"SIP/2.0 2x0 OK", "A: b", ""}), -1, 1, 0, {}},
        {"INFO request rejected", crlf({"INFO sip:a@b SIP/2.0", "CSeq: 1 INFO", ""}), -1, 0, 0, {}},
        {"ACK request rejected", crlf({"ACK sip:a@b SIP/2.0", "CSeq: 1 ACK", ""}), -1, 0, 0, {}},
        {"OPTIONS request rejected", crlf({"OPTIONS sip:a@b SIP/2.0", "A: b", ""}), -1, 0, 0, {}},
        {"BYE request accepted",
         crlf({"BYE sip:a@b SIP/2.0", "CSeq: 3 BYE", ""}),
         -2,
         8,
         0,
         {{"CSeqType", "BYE"}}},
        {"method prefix only is no method",
         crlf({"NOTIFYING sip:a@b SIP/2.0", "A: b", ""}),
         -1,
         0,
         0,
         {}},
        {"two Via: the table keeps the last, branch from it",
         crlf({"MESSAGE sip:a@b SIP/2.0", "Via: SIP/2.0/UDP 1.1.1.1:5060;branch=z9hG4bK-a",
               "Via: SIP/2.0/UDP 2.2.2.2:5060;rport;branch=z9hG4bK-b", ""}),
         -2,
         6,
         0,
         {{"Via", "SIP/2.0/UDP 2.2.2.2:5060;rport;branch=z9hG4bK-b"}, {"branch", "z9hG4bK-b"}}},
        {"branch key holds the branch value only",
         crlf({"MESSAGE sip:a@b SIP/2.0",
               "Via: SIP/2.0/UDP branch.example:5060;rport=5060;branch=z9hG4bK-c;received=1.2.3.4",
               ""}),
         -2,
         6,
         0,
         {{"branch", "z9hG4bK-c"}}},
        {"address keys with port and tag parameter",
         crlf({"MESSAGE sip:a@b SIP/2.0", "From: <sip:3402@10.0.0.9:5060>;tag=77;x=1",
               "To: <sip:a@b>;tag=9f2c;x=1", "Contact: <sip:c@d:7>;expires=60", ""}),
         -2,
         6,
         0,
         {{"Fromsip", "3402"},
          {"Fromsipip", "10.0.0.9:5060"},
          {"Fromtag", "77"},
          {"Tosip", "a"},
          {"Tosipip", "b"},
          {"Totag", "9f2c"},
          {"Contactsip", "c"},
          {"Contactsipip", "d:7"},
          {"Contacttag", nullptr}}},
        {"display name before the address",
         crlf({"MESSAGE sip:a@b SIP/2.0", "From: \"Plat form\" <sip:u@h>;tag=t1", ""}),
         -2,
         6,
         0,
         {{"Fromsip", "u"}, {"Fromsipip", "h"}, {"Fromtag", "t1"}}},
        {"user containing the letters tag",
         crlf({"MESSAGE sip:a@b SIP/2.0", "To: <sip:vantage@h>", ""}),
         -2,
         6,
         0,
         {{"Tosip", "vantage"}, {"Totag", nullptr}}},
        {"CSeq method",
         crlf({"INVITE sip:a@b SIP/2.0", "CSeq: 5 INVITE", ""}),
         -2,
         7,
         0,
         {{"CSeqType", "INVITE"}}},
        {"compact names under full names",
         crlf({"MESSAGE sip:a@b SIP/2.0", "v: SIP/2.0/UDP h;branch=z9hG4bK1", "f: <sip:u@h>;tag=1",
               "t: <sip:v@h>", "i: abc@h", "l: 0", "c: text/plain", ""}),
         -2,
         6,
         0,
         {{"Via", "SIP/2.0/UDP h;branch=z9hG4bK1"},
          {"From", "<sip:u@h>;tag=1"},
          {"Call-ID", "abc@h"},
          {"Content-Length", "0"},
          {"Content-Type", "text/plain"},
          {"Fromtag", "1"}}},
        {"folded line extends the value",
         crlf({"MESSAGE sip:a@b SIP/2.0", "Subject: first", "  second", "\tthird",
               "CSeq: 1 MESSAGE", ""}),
         -2,
         6,
         0,
         {{"Subject", "first second third"}, {"CSeqType", "MESSAGE"}}},
        {"blanks before the colon",
         crlf({"MESSAGE sip:a@b SIP/2.0", "Call-ID  : x1", ""}),
         -2,
         6,
         0,
         {{"Call-ID", "x1"}}},
        {"empty value kept as empty",
         crlf({"MESSAGE sip:a@b SIP/2.0", "Subject:", ""}),
         -2,
         6,
         0,
         {{"Subject", ""}}},
        {"continuation before any header",
         crlf({"MESSAGE sip:a@b SIP/2.0", " orphan", "A: b", ""}),
         -1,
         6,
         0,
         {}},
        {"empty header name", crlf({"MESSAGE sip:a@b SIP/2.0", ": v", ""}), -1, 6, 0, {}},
        {"header line without colon", crlf({"MESSAGE sip:a@b SIP/2.0", "Junk", ""}), -1, 6, 0, {}},
        {"challenge with blanks after commas",
         crlf({"SIP/2.0 401 Unauthorized",
               "WWW-Authenticate: Digest realm=\"R\", nonce=\"N\", algorithm=MD5", ""}),
         -2,
         1,
         401,
         {{"realm", "R"}, {"nonce", "N"}, {"algorithm", "MD5"}}},
        {"challenge with an escaped quote",
         crlf({"SIP/2.0 401 Unauthorized",
               "WWW-Authenticate: Digest realm=\"a\\\"b\",nonce=\"n\\\\1\"", ""}),
         -2,
         1,
         401,
         {{"realm", "a\"b"}, {"nonce", "n\\1"}}},
        {"challenge without blanks, upper-case names, comma in a quote",
         crlf({"SIP/2.0 401 Unauthorized",
               "WWW-Authenticate: Digest REALM=\"3402000000\",qop=\"auth,auth-int\",nonce=\"9a8b\","
               "algorithm=MD5,opaque=\"op1\"",
               ""}),
         -2,
         1,
         401,
         {{"realm", "3402000000"},
          {"qop", "auth,auth-int"},
          {"nonce", "9a8b"},
          {"algorithm", "MD5"},
          {"opaque", "op1"}}},
    };
}

TEST(HeaderCodec, ParsesDatagramTable) {
    for (const ParseRow& row : parseRows()) {
        SCOPED_TRACE(row.name);
        CHTTPHdrs codec;
        int r = codec.parseHeaders(row.datagram.data(), int(row.datagram.size()));
        EXPECT_EQ(r, lengthOf(row));
        if (r > 0) {
            EXPECT_EQ(codec.incomingKind(), row.kind);
            EXPECT_EQ(codec.incomingStatus(), row.status);
        }
        for (const auto& [key, expected] : row.keys) {
            const char* got = codec.incomingHeader(key.c_str());
            if (expected == nullptr) {
                EXPECT_EQ(got, nullptr) << key;
            } else {
                ASSERT_NE(got, nullptr) << key;
                EXPECT_STREQ(got, expected) << key;
            }
        }
    }
}

TEST(HeaderCodec, KeepsEveryViaInOrderAndReadsOnlyCount) {
    CHTTPHdrs codec;
    std::string d = crlf({"MESSAGE sip:a@b SIP/2.0", "Via: SIP/2.0/UDP 1.1.1.1;branch=a",
                          "v: SIP/2.0/UDP 2.2.2.2;branch=b", "  ;received=3.3.3.3", ""});
    ASSERT_EQ(codec.parseHeaders(d.data(), int(d.size())), int(d.size()));
    std::vector<std::string> vias = codec.incomingVias();
    ASSERT_EQ(vias.size(), 2u);
    EXPECT_EQ(vias[0], "SIP/2.0/UDP 1.1.1.1;branch=a");
    EXPECT_EQ(vias[1], "SIP/2.0/UDP 2.2.2.2;branch=b ;received=3.3.3.3");

    // The blank line lies beyond count: nothing past count is read.
    std::string cut = d.substr(0, d.size() - 2);
    EXPECT_EQ(codec.parseHeaders(cut.data(), int(cut.size())), 0);
    EXPECT_EQ(codec.parseHeaders(nullptr, 100), 0);
}

TEST(HeaderCodec, ClearsIncomingTableOnEveryParse) {
    CHTTPHdrs codec;
    std::string first = crlf({"MESSAGE sip:a@b SIP/2.0", "Subject: one", ""});
    std::string bad = crlf({"MESSAGE sip:a@b SIP/2.0", "CSeq: 1 MESSAGE", "Junk", ""});
    codec.parseHeaders(first.data(), int(first.size()));
    EXPECT_EQ(codec.parseHeaders(bad.data(), int(bad.size())), -1);
    EXPECT_EQ(codec.incomingHeader("Subject"), nullptr);
    EXPECT_STREQ(codec.incomingHeader("CSeq"), "1 MESSAGE");
    EXPECT_FALSE(codec.parseError().empty());
}

TEST(HeaderCodec, FullTableDropsFurtherHeadersSilently) {
    std::string d = "MESSAGE sip:a@b SIP/2.0\r\n";
    for (int i = 0; i < 300; ++i)
        d += "X" + std::to_string(i) + ": v\r\n  more\r\n";
    d += "\r\n";
    CHTTPHdrs codec;
    EXPECT_EQ(codec.parseHeaders(d.data(), int(d.size())), int(d.size()));
    EXPECT_STREQ(codec.incomingHeader("X0"), "v more");
    EXPECT_EQ(codec.incomingHeader("X299"), nullptr);
}

TEST(HeaderCodec, FoldedLinesAreJoinedWithinASmallMultipleOfTheDatagram) {
    // 30 KB of folded lines: the joined value must not be copied again for every line.
    std::string d = "MESSAGE sip:a@b SIP/2.0\r\nSubject: s\r\n";
    std::string expected = "s";
    for (int i = 0; d.size() < 30000; ++i) {
        d += " \t" + std::to_string(i) + "\r\n";
        expected += " " + std::to_string(i);
    }
    d += "Via: SIP/2.0/UDP h;branch=b1\r\n";
    for (int i = 0; i < 300; ++i)
        d += " ;x" + std::to_string(i) + "\r\n";
    d += "\r\n";
    CHTTPHdrs codec;
    ASSERT_EQ(codec.parseHeaders(d.data(), int(d.size())), int(d.size()));
    EXPECT_EQ(codec.incomingHeader("Subject"), expected);
    ASSERT_EQ(codec.incomingVias().size(), 1u);
    EXPECT_EQ(codec.incomingVias()[0].size(), std::strlen(codec.incomingHeader("Via")));
    EXPECT_LT(codec.incomingFootprint(), 4 * d.size());

    // Via lines beyond any real path of proxies make the datagram malformed.
    std::string vias = "MESSAGE sip:a@b SIP/2.0\r\n";
    for (int i = 0; i < 257; ++i)
        vias += "v: SIP/2.0/UDP h;branch=b" + std::to_string(i) + "\r\n";
    vias += "\r\n";
    EXPECT_EQ(codec.parseHeaders(vias.data(), int(vias.size())), -1);
}

TEST(HeaderCodec, SerializesStartLinesHeadersAndBody) {
    CHTTPHdrs codec;
    int count = 0;
    codec.resetOutgoing();
    codec.setOutgoingKind(CHTTPHdrs::kResponse);
    codec.setStatusCode(486);
    codec.setHeader("content-length", "0");
    codec.setHeader("Content-Length", "5");
    EXPECT_EQ(codec.setBody("hello", 5), 0);  // a response carries no body
    codec.serialize();
    EXPECT_EQ(siptest::built(codec.output(&count), count),
              "SIP/2.0 486\r\ncontent-length: 5\r\n\r\n");

    codec.resetOutgoing();
    codec.setStatusCode(200);
    codec.serialize();
    EXPECT_EQ(siptest::built(codec.output(&count), count), "SIP/2.0 200 OK\r\n\r\n");

    codec.resetOutgoing();
    codec.setOutgoingKind(CHTTPHdrs::kMessage);
    EXPECT_EQ(codec.setRequestUri(""), 0);
    EXPECT_EQ(codec.setRequestUri("sip:a@b SIP/2.0"), 1);
    EXPECT_EQ(codec.setHeader(nullptr, "x"), 0);
    codec.setHeader("Subject", "");
    codec.addHeader("Via", "one");
    codec.addHeader("Via", "two");
    EXPECT_EQ(codec.setBody("hello", 0), 0);
    EXPECT_EQ(codec.setBody("hello", 5), 1);
    codec.serialize();
    // Without a Content-Length entry the body is not written.
    EXPECT_EQ(siptest::built(codec.output(&count), count),
              "MESSAGE sip:a@b SIP/2.0\r\nSubject: \r\nVia: one\r\nVia: two\r\n\r\n");
    EXPECT_STREQ(codec.outgoingHeader("via"), "one");
}

TEST(HeaderCodec, OutgoingTableHoldsAtMost256Headers) {
    CHTTPHdrs codec;
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(codec.setHeader(("H" + std::to_string(i)).c_str(), "v"), 1);
    }
    EXPECT_EQ(codec.setHeader("Overflow", "v"), 0);
    EXPECT_EQ(codec.setHeader("H3", "replaced"), 1);
    EXPECT_STREQ(codec.outgoingHeader("h3"), "replaced");
}

}  // namespace
