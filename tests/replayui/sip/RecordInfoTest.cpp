// The record query MESSAGE and the reading of its paged answers.
#include <gtest/gtest.h>

#include "SipTestKit.h"

using namespace siptest;

namespace {

const char* kCamera = "34020000001310000001";

QDateTime at(int day, int hour, int minute) {
    return QDateTime(QDate(2024, 3, day), QTime(hour, minute));
}

TEST(RecordInfo, QueryBytes) {
    CCTVCAR car;
    configure(car);
    int length = -1;
    std::string text = built(
        car.buildRecordInfoQuery(&length, kCamera, at(5, 3, 0), at(6, 3, 10), 4000000000u), length);
    EXPECT_EQ(text, crlf({"MESSAGE sip:34020000002000000001@10.0.0.9:5060 SIP/2.0",
                          "Via: SIP/2.0/UDP 10.0.0.5:5061;rport;branch=z9hG4bK-0000000042",
                          "From: <sip:34020000001320000001@10.0.0.5>;tag=0000000042",
                          "To: <sip:34020000002000000001@10.0.0.9>",
                          "Call-ID: Vekta9-0000000042-0000000007@10.0.0.5",
                          "CSeq: 0000000042 MESSAGE",
                          "Max-Forwards: 70",
                          "Content-Type: application/MANSCDP+xml",
                          "Content-Length: 261",
                          "",
                          "<?xml version=\"1.0\"?>",
                          "<Query>",
                          "<CmdType>RecordInfo</CmdType>",
                          "<SN>4000000000</SN>",
                          "<DeviceID>34020000001310000001</DeviceID>",
                          "<StartTime>2024-03-05T03:00:00</StartTime>",
                          "<EndTime>2024-03-06T03:10:00</EndTime>",
                          "<Secrecy>0</Secrecy>",
                          "<Type>all</Type>",
                          "</Query>"}));

    struct Row {
        const char* name;
        const char* camera;
        QDateTime start, end;
    };
    const Row refused[] = {
        {"no camera", "", at(5, 3, 0), at(5, 4, 0)},
        {"markup in the code", "3402<x>", at(5, 3, 0), at(5, 4, 0)},
        {"end before start", kCamera, at(5, 4, 0), at(5, 3, 0)},
        {"invalid start", kCamera, QDateTime(), at(5, 3, 0)},
    };
    for (const Row& row : refused) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(car.buildRecordInfoQuery(&length, row.camera, row.start, row.end, 1), nullptr);
        EXPECT_EQ(length, 0);
    }
}

std::string message(const std::string& body) {
    return crlf({"MESSAGE sip:34020000001320000001@10.0.0.5:5061 SIP/2.0",
                 "Via: SIP/2.0/UDP 10.0.0.9:5060;rport;branch=z9hG4bK-r1",
                 "From: <sip:34020000002000000001@10.0.0.9:5060>;tag=p1",
                 "To: <sip:34020000001320000001@10.0.0.5:5061>", "Call-ID: r1@10.0.0.9",
                 "CSeq: 21 MESSAGE", "Content-Type: Application/MANSCDP+xml",
                 "Content-Length: " + std::to_string(body.size()), ""}) +
           body;
}

TEST(RecordInfo, AnswerPagesAreReadAndRoutedByCommand) {
    const std::string page = crlf({"<?xml version=\"1.0\" encoding=\"GB2312\"?>",
                                   "<Response>",
                                   "<CmdType>RecordInfo</CmdType>",
                                   "<SN> 17 </SN>",
                                   "<DeviceID>" + std::string(kCamera) + "</DeviceID>",
                                   "<Name>cam</Name>",
                                   "<SumNum>3</SumNum>",
                                   "<RecordList Num=\"2\">",
                                   "<Item>",
                                   "<DeviceID>34020000001310000001</DeviceID>",
                                   "<Name>a</Name>",
                                   "<StartTime>2024-03-05T00:00:00</StartTime>",
                                   "<EndTime>2024-03-05T03:00:00</EndTime>",
                                   "<Secrecy>0</Secrecy>",
                                   "<Type>time</Type>",
                                   "</Item>",
                                   "<Note>not an item</Note>",
                                   "<item>",
                                   "<StartTime>2024-03-05T03:10:00</StartTime>",
                                   "<EndTime>bad</EndTime>",
                                   "</item>",
                                   "</RecordList>",
                                   "</Response>"});
    CCTVCAR car;
    configure(car);
    ASSERT_GT(feed(car, message(page)), 0);
    EXPECT_EQ(car.messageKind(), "MESSAGE");
    EXPECT_EQ(car.bodyCommand(), manscdp::Command::RecordInfo);
    EXPECT_TRUE(car.catalogue().empty());
    const manscdp::RecordPage& p = car.recordPage();
    EXPECT_EQ(p.sn, "17");
    EXPECT_EQ(p.deviceId, kCamera);
    EXPECT_TRUE(p.hasSumNum);
    EXPECT_EQ(p.sumNum, "3");
    ASSERT_EQ(p.items.size(), 2u);
    EXPECT_EQ(p.items[0].name, "a");
    EXPECT_EQ(p.items[0].startTime, "2024-03-05T00:00:00");
    EXPECT_EQ(p.items[0].endTime, "2024-03-05T03:00:00");
    EXPECT_EQ(p.items[0].secrecy, "0");
    EXPECT_EQ(p.items[0].type, "time");
    EXPECT_EQ(p.items[1].deviceId, "");
    EXPECT_EQ(p.items[1].endTime, "bad");

    struct Row {
        const char* name;
        std::string body;
        manscdp::Command command;
    };
    std::string noSumNum = page;
    noSumNum.erase(noSumNum.find("<SumNum>"), 19);
    std::string query = page;
    query.replace(query.find("<Response>"), 10, "<Query>");
    query.replace(query.find("</Response>"), 11, "</Query>");
    const std::vector<Row> rows = {
        {"no body", "", manscdp::Command::None},
        {"keepalive",
         crlf({"<?xml version=\"1.0\"?>", "<Notify>", "<CmdType>Keepalive</CmdType>", "</Notify>"}),
         manscdp::Command::Other},
        {"a record query is not an answer", query, manscdp::Command::Other},
        {"answer without SumNum", noSumNum, manscdp::Command::RecordInfo},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_GT(feed(car, message(row.body)), 0);
        EXPECT_EQ(car.bodyCommand(), row.command);
    }
    EXPECT_FALSE(car.recordPage().hasSumNum);
}

}  // namespace
