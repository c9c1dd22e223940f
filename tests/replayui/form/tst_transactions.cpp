// The transaction layer on its own, on a clock the test moves: retransmission schedules, answers
// after the first, the answers kept for repeated requests, and the texts built from an INVITE
// (CANCEL, ACK, BYE). Which answers belong to a request is tested with the form.
#include <QtTest>

#include "siptexts.h"
#include "siptransactions.h"

using sip::ClientTransactions;
using sip::RequestKey;

namespace {

const std::string kInvite =
    "INVITE sip:01552403048401000001@127.0.0.1:5061 SIP/2.0\r\n"
    "Via: SIP/2.0/UDP 127.0.0.1:7610;rport;branch=z9hG4bK-0000000042\r\n"
    "From: <sip:01552400000805100001@127.0.0.1:7610>;tag=0000000042\r\n"
    "To: <sip:01552403048401000001@127.0.0.1:5061>\r\n"
    "Call-ID: Vekta9-0000000042-0000000007\r\n"
    "CSeq: 1 INVITE\r\n"
    "Content-Length: 0\r\n\r\n";

RequestKey key(const char* method, uint32_t cseq = 1, const char* branch = "z9hG4bK-1") {
    return RequestKey{branch, cseq, method, "call-1"};
}

struct FakeClock {
    int64_t now = 0;
    ClientTransactions::Clock fn() {
        return [this] { return now; };
    }
};

}  // namespace

class TestTransactions : public QObject {
    Q_OBJECT
private slots:
    void retransmissionSchedule_data();
    void retransmissionSchedule();
    void answersAfterTheFirst();
    void answeredRequestsAreBounded();
    void branchOfAVia_data();
    void branchOfAVia();
    void textsBuiltFromTheInvite();
};

void TestTransactions::retransmissionSchedule_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<int>("provisionalAt");  // -1: none
    QTest::addColumn<QList<int>>("resends");
    QTest::addColumn<int>("giveUp");
    // T1 500, T2 4000: Timer A doubles without bound, Timer E up to T2, both end at 64xT1.
    QTest::newRow("INVITE unanswered")
        << "INVITE" << -1 << QList<int>{500, 1500, 3500, 7500, 15500, 31500} << 32000;
    QTest::newRow("INVITE with 100 Trying") << "INVITE" << 600 << QList<int>{500} << 32000;
    QTest::newRow("MESSAGE unanswered")
        << "MESSAGE" << -1
        << QList<int>{500, 1500, 3500, 7500, 11500, 15500, 19500, 23500, 27500, 31500} << 32000;
    QTest::newRow("INFO with 100 Trying")
        << "INFO" << 600 << QList<int>{500, 4600, 8600, 12600, 16600, 20600, 24600, 28600} << 32000;
}

void TestTransactions::retransmissionSchedule() {
    QFETCH(QString, method);
    QFETCH(int, provisionalAt);
    QFETCH(QList<int>, resends);
    QFETCH(int, giveUp);
    FakeClock clock;
    ClientTransactions table(clock.fn());
    const uint64_t id = table.start(key(method.toLatin1().constData()), "text", 7);
    QList<int> sent;
    int gaveUpAt = -1;
    while (gaveUpAt < 0) {
        const int64_t wake = table.nextWakeAt();
        QVERIFY(wake >= 0);
        if (provisionalAt >= 0 && provisionalAt < wake) {
            clock.now = provisionalAt;
            provisionalAt = -1;
            QCOMPARE(table.onResponse(*table.find(id), 100),
                     ClientTransactions::Arrival::Provisional);
            continue;
        }
        clock.now = wake;
        for (const auto& due : table.poll()) {
            if (due.kind == ClientTransactions::Due::Resend) {
                sent << int(clock.now);
            } else {
                gaveUpAt = int(clock.now);
            }
        }
    }
    QCOMPARE(sent, resends);
    QCOMPARE(gaveUpAt, giveUp);
    QCOMPARE(table.find(id)->status, 408);
    QVERIFY(!table.waiting(7));
}

void TestTransactions::answersAfterTheFirst() {
    using Arrival = ClientTransactions::Arrival;
    FakeClock clock;
    ClientTransactions table(clock.fn());
    ClientTransactions::Transaction* invite = table.match(key("INVITE"));
    QVERIFY(invite == nullptr);
    table.start(key("INVITE"), "invite", 1);
    table.start(key("MESSAGE", 2, "z9hG4bK-2"), "message", 2);
    invite = table.match(key("INVITE"));
    ClientTransactions::Transaction* message = table.match(key("MESSAGE", 2, "z9hG4bK-2"));
    QCOMPARE(table.onResponse(*invite, 200), Arrival::Final);
    QCOMPARE(table.onResponse(*invite, 200), Arrival::Repeat);
    QCOMPARE(table.onResponse(*message, 200), Arrival::Final);
    QCOMPARE(table.onResponse(*message, 500), Arrival::Repeat);
    QVERIFY(!table.waiting(1) && !table.waiting(2));
    // A completed MESSAGE absorbs repeats for T4, an accepted INVITE for 64xT1.
    clock.now = 5000;
    table.poll();
    QVERIFY(table.match(key("MESSAGE", 2, "z9hG4bK-2")) == nullptr);
    QVERIFY(table.match(key("INVITE")) != nullptr);
    clock.now = 32000;
    table.poll();
    QCOMPARE(table.size(), size_t(0));

    // Given up, still recognised: the late answer is told apart, its repeats absorbed.
    table.start(key("INVITE", 1, "z9hG4bK-3"), "invite", 1);
    clock.now += 32000;
    QCOMPARE(table.poll().size(), size_t(1));
    ClientTransactions::Transaction* late = table.match(key("INVITE", 1, "z9hG4bK-3"));
    QVERIFY(late != nullptr);
    QCOMPARE(table.onResponse(*late, 200), Arrival::Late);
    QCOMPARE(table.onResponse(*late, 200), Arrival::Repeat);
}

void TestTransactions::answeredRequestsAreBounded() {
    FakeClock clock;
    sip::AnsweredRequests answers(clock.fn(), 32000, 3, 100);
    answers.remember(key("MESSAGE", 1), "ok-1");
    QCOMPARE(*answers.find(key("MESSAGE", 1)), std::string("ok-1"));
    QVERIFY(answers.find(key("MESSAGE", 2)) == nullptr);
    for (uint32_t n = 2; n <= 4; ++n) {
        answers.remember(key("MESSAGE", n), "ok");
    }
    QCOMPARE(answers.size(), size_t(3));
    QVERIFY(answers.find(key("MESSAGE", 1)) == nullptr);  // the oldest went first
    answers.remember(key("NOTIFY", 9), std::string(99, 'x'));
    QCOMPARE(answers.size(), size_t(1));  // room made by bytes
    answers.remember(key("NOTIFY", 10), std::string(200, 'x'));
    QVERIFY(answers.find(key("NOTIFY", 10)) == nullptr);  // too big to keep at all
    clock.now = 32000;
    QVERIFY(answers.find(key("NOTIFY", 9)) == nullptr);  // expired
}

void TestTransactions::branchOfAVia_data() {
    QTest::addColumn<QString>("via");
    QTest::addColumn<QString>("branch");
    QTest::newRow("last parameter") << "SIP/2.0/UDP h:1;rport;branch=z9hG4bK-7"
                                    << "z9hG4bK-7";
    QTest::newRow("received after it")
        << "SIP/2.0/UDP h:1;rport=1;branch=z9hG4bK-7;received=10.0.0.1"
        << "z9hG4bK-7";
    QTest::newRow("blanks and case") << "SIP/2.0/UDP h:1 ; Branch=z9hG4bK-7 ;rport"
                                     << "z9hG4bK-7";
    QTest::newRow("two values in one line")
        << "SIP/2.0/UDP a:1;branch=z9hG4bK-1, SIP/2.0/UDP b:2;branch=z9hG4bK-2"
        << "z9hG4bK-1";
    QTest::newRow("a branch in the host part is no parameter") << "SIP/2.0/UDP branch=x:1;rport"
                                                               << "";
}

void TestTransactions::branchOfAVia() {
    QFETCH(QString, via);
    QFETCH(QString, branch);
    QCOMPARE(QString::fromStdString(siptexts::viaBranch(via.toStdString())), branch);
}

void TestTransactions::textsBuiltFromTheInvite() {
    const std::string uri = " sip:01552403048401000001@127.0.0.1:5061 SIP/2.0\r\n";
    const std::string ownVia =
        "Via: SIP/2.0/UDP 127.0.0.1:7610;rport;branch=z9hG4bK-0000000042\r\n";
    const std::string from = "From: <sip:01552400000805100001@127.0.0.1:7610>;tag=0000000042\r\n";
    const std::string to = "To: <sip:01552403048401000001@127.0.0.1:5061>";
    const std::string callId = "Call-ID: Vekta9-0000000042-0000000007\r\n";
    const std::string end = "Max-Forwards: 70\r\nContent-Length: 0\r\n\r\n";
    // CANCEL (RFC 3261 §9.1): the INVITE's Via, To without a tag, CSeq number.
    QCOMPARE(siptexts::cancelFor(kInvite),
             "CANCEL" + uri + ownVia + from + to + "\r\n" + callId + "CSeq: 1 CANCEL\r\n" + end);
    // ACK for a failure: in the INVITE's transaction, with the answer's To.
    const std::string answerTo = "<sip:01552403048401000001@127.0.0.1:5061>;tag=p1";
    QCOMPARE(siptexts::ackFor(kInvite, answerTo), "ACK" + uri + ownVia + from + "To: " + answerTo +
                                                      "\r\n" + callId + "CSeq: 1 ACK\r\n" + end);
    // BYE for an accepted INVITE: a Via of its own, the next CSeq number.
    const std::string via = siptexts::withBranch(siptexts::header(kInvite, "via"), "z9hG4bK-9");
    QCOMPARE(siptexts::byeFor(kInvite, answerTo, via),
             "BYE" + uri + "Via: SIP/2.0/UDP 127.0.0.1:7610;rport;branch=z9hG4bK-9\r\n" + from +
                 "To: " + answerTo + "\r\n" + callId + "CSeq: 2 BYE\r\n" + end);
    QVERIFY(siptexts::cancelFor("INVITE sip:x SIP/2.0\r\nVia: v\r\n\r\n").empty());
}

QTEST_APPLESS_MAIN(TestTransactions)
#include "tst_transactions.moc"
