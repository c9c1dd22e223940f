// The catalogue subscription kept alive: its timing rules, and the form against a scripted
// platform that grants, refuses, ends and forgets subscriptions.
#include <QSignalSpy>
#include <QtTest>

#include "formtestkit.h"
#include "mainform.h"
#include "sipsession.h"
#include "subscription.h"
#include "ui_mainform.h"

using namespace kit;

namespace {

SessionTimings quickRetry() {
    SessionTimings t = FormRig::quietTimings();
    t.subscribeRetryMs = 100;
    t.subscribeRetryMaxMs = 250;
    return t;
}

QByteArray granted(ScriptedPlatform& p, const QByteArray& subscribe, int expires) {
    return p.reply(subscribe, "200 OK", "Expires: " + QByteArray::number(expires) + "\r\n");
}

// A NOTIFY inside the subscription that SUBSCRIBE opened.
QByteArray notifyIn(ScriptedPlatform& p, const QByteArray& subscribe, int cseq,
                    const QByteArray& state, const QByteArray& content = QByteArray()) {
    QByteArray n = p.request("NOTIFY", header(subscribe, "Call-ID"), cseq, content);
    return n.replace(
        "Max-Forwards: 70\r\n",
        "Max-Forwards: 70\r\nEvent: presence\r\nSubscription-State: " + state + "\r\n");
}

bool isCatalogueQuery(const QByteArray& message) {
    return body(message).contains("<Query>") && body(message).contains("Catalog");
}

}  // namespace

class TestSubscription : public QObject {
    Q_OBJECT
private slots:
    void refreshTimesAndBackOff();
    void notifiesOfLiveAndEndedSubscriptions();
    void refreshedEndedAndForgottenSubscriptions();
    void refusedSubscribeIsRetriedWithBackOff();
    void registeredAgainSubscribesAndQueries();
};

// The rules on a clock of our own.
void TestSubscription::refreshTimesAndBackOff() {
    int64_t now = 0;
    sub::Keeper k([&] { return now; }, sub::Timing{5000, 60000, 3600});
    QVERIFY(!k.due());
    k.start();
    QVERIFY(k.due());
    struct Row {
        const char* name;
        int status;
        int64_t expires;
        // From the SUBSCRIBE's sending: a grant counts from there, a refusal from its answer
        // 300 ms later.
        int64_t nextAfterMs;
    };
    const Row rows[] = {
        {"90 s granted: refreshed at 60 s", 200, 90, 60000},
        {"no Expires: the 3600 s asked for", 200, -1, 2400000},
        {"more than asked: the asked for", 200, 7200, 2400000},
        {"refused: 5 s", 403, -1, 5300},
        {"refused again: 10 s", 403, -1, 10300},
        {"no answer: 20 s", 408, -1, 20300},
        {"refused: 40 s", 500, -1, 40300},
        {"refused: at most 60 s", 403, -1, 60300},
        {"0 s granted is none", 200, 0, 60300},
        {"granted again", 200, 30, 20000},
    };
    int n = 0;
    for (const Row& row : rows) {
        const std::string callId = "c" + std::to_string(++n);
        k.sent(callId);
        QVERIFY2(!k.due(), row.name);
        const int64_t sentAt = now;
        now += 300;  // the answer's round trip
        k.answered(callId, row.status, row.expires);
        now = sentAt + row.nextAfterMs - 1;
        QVERIFY2(!k.due(), row.name);
        now += 1;
        QVERIFY2(k.due(), row.name);
    }
    // A stale answer changes nothing; nor does a second start while one waits.
    k.sent("c-last");
    k.answered("c1", 200, 90);
    QVERIFY(!k.due());
    QCOMPARE(k.liveCallId(), std::string("c10"));
    // The live one runs past its time unrefreshed: forgotten once.
    now += 30000;
    QVERIFY(k.lapse());
    QVERIFY(!k.lapse());
    QVERIFY(!k.subscribed());
}

void TestSubscription::notifiesOfLiveAndEndedSubscriptions() {
    int64_t now = 0;
    sub::Keeper k([&] { return now; }, sub::Timing{5000, 60000, 3600});
    using N = sub::Keeper::Notify;
    QVERIFY(k.notifyArrived("x", false) == N::Ended);  // none held: ended
    k.start();
    k.sent("a");
    QVERIFY(k.notifyArrived("a", false) == N::Live);  // before its 200
    k.answered("a", 200, 3600);
    QVERIFY(k.notifyArrived("other", false) == N::Live);  // the platform's own Call-ID
    now += 1000;
    k.sent("b");
    k.answered("b", 200, 3600);  // replaces a
    QVERIFY(k.notifyArrived("a", false) == N::Ended);
    QVERIFY(k.notifyArrived("b", false) == N::Live);
    // Ended soon after its grant: asked for again after the retry wait, not at once.
    QVERIFY(k.notifyArrived("b", true) == N::Terminated);
    QVERIFY(!k.due());
    now += 5000;
    QVERIFY(k.due());
    k.sent("c");
    k.answered("c", 200, 3600);
    now += 600000;
    QVERIFY(k.notifyArrived("c", true) == N::Terminated);
    QVERIFY(k.due());
    QVERIFY(k.notifyArrived("c", false) == N::Ended);
    k.stop();
    QVERIFY(!k.due());
    QVERIFY(k.notifyArrived("other", false) == N::Ended);
    QCOMPARE(sub::expiresSeconds(" 120 "), int64_t(120));
    QCOMPARE(sub::expiresSeconds("12a"), int64_t(-1));
    QVERIFY(sub::isTerminated("Terminated;reason=timeout"));
    QVERIFY(!sub::isTerminated("terminatedX"));
    QVERIFY(!sub::isTerminated("active;expires=60"));
}

// Refreshed before the granted time runs out, with a fresh SUBSCRIBE; a NOTIFY of the replaced
// subscription gets 481 and changes nothing; the platform's last NOTIFY (no body) gets 200 and
// a new subscription.
void TestSubscription::refreshedEndedAndForgottenSubscriptions() {
    FormRig rig(quickRetry());
    QVERIFY(rig.logIn());
    ScriptedPlatform& p = rig.platform();
    const QByteArray first = p.waitFor("SUBSCRIBE ");
    QCOMPARE(header(first, "Expires"), QByteArray("3600"));
    p.send(granted(p, first, 1));
    const QByteArray second = p.waitFor("SUBSCRIBE ", 3000);
    QVERIFY(!second.isEmpty());
    QVERIFY(header(second, "Call-ID") != header(first, "Call-ID"));
    QCOMPARE(header(second, "Expires"), QByteArray("3600"));
    p.send(granted(p, second, 3600));
    QTRY_COMPARE(rig.form()->session()->subscription().grantedSeconds(), int64_t(3600));

    p.forget();
    p.send(
        notifyIn(p, first, 5, "active;expires=30",
                 catalogueBody("Notify", {catalogueItem(trainCameraId(3, 1, 1, 9), "x", "ON")})));
    const QByteArray refused = p.waitFor("SIP/2.0 481");
    QCOMPARE(header(refused, "Call-ID"), header(first, "Call-ID"));
    QTest::qWait(30);
    QVERIFY(rig.host().recorder.calls.empty());

    p.send(notifyIn(p, second, 6, "terminated;reason=timeout"));
    const QByteArray ok = p.waitFor("SIP/2.0 200 OK");
    QCOMPARE(header(ok, "CSeq"), QByteArray("6 NOTIFY"));
    const QByteArray third = p.waitFor("SUBSCRIBE ", 3000);
    QVERIFY(!third.isEmpty());
    QVERIFY(header(third, "Call-ID") != header(second, "Call-ID"));
}

void TestSubscription::refusedSubscribeIsRetriedWithBackOff() {
    FormRig rig(quickRetry());
    QVERIFY(rig.logIn());
    ScriptedPlatform& p = rig.platform();
    const SipSession* session = rig.form()->session();
    p.send(p.reply(p.waitFor("SUBSCRIBE "), "403 Forbidden"));
    QTRY_COMPARE(rig.form()->widgets()->labelStatus->text(),
                 QStringLiteral("订阅状态反馈- 403 Forbidden"));
    QCOMPARE(session->subscription().backoffMs(), int64_t(100));
    p.send(p.reply(p.waitFor("SUBSCRIBE "), "500 Server Internal Error"));
    QTRY_COMPARE(session->subscription().backoffMs(), int64_t(200));
    p.send(p.reply(p.waitFor("SUBSCRIBE "), "403 Forbidden"));
    QTRY_COMPARE(session->subscription().backoffMs(), int64_t(250));
    p.send(granted(p, p.waitFor("SUBSCRIBE "), 600));
    QTRY_VERIFY(session->subscription().subscribed());
    QCOMPARE(session->subscription().backoffMs(), int64_t(0));
}

// A platform that restarted challenges the next keepalive; the console registers again, then
// subscribes and asks for the catalogue. So does a login after the registration was lost.
void TestSubscription::registeredAgainSubscribesAndQueries() {
    SessionTimings t = quickRetry();
    t.registerMs = 100;
    FormRig rig(t);
    QVERIFY(rig.logInAndSubscribe());
    ScriptedPlatform& p = rig.platform();
    SipSession* session = rig.form()->session();
    p.forget();
    QVERIFY(session->sendKeepalive());
    p.send(challenge(p, p.waitFor("MESSAGE "), "after-restart"));
    p.send(p.reply(p.waitFor("REGISTER "), "200 OK"));
    QVERIFY(!p.waitFor("SUBSCRIBE ").isEmpty());
    QVERIFY(isCatalogueQuery(p.waitFor("MESSAGE ")));

    p.forget();
    QVERIFY(session->autoRelogin());
    p.send(p.reply(p.waitFor("REGISTER "), "403 Forbidden"));
    QTRY_VERIFY(!session->loggedIn());
    const QByteArray plain = p.waitFor("REGISTER ", 3000);
    p.send(challenge(p, plain));
    p.send(p.reply(p.waitFor("REGISTER "), "200 OK"));
    QVERIFY(!p.waitFor("SUBSCRIBE ").isEmpty());
    QVERIFY(isCatalogueQuery(p.waitFor("MESSAGE ")));
}

QTEST_MAIN(TestSubscription)
#include "tst_subscription.moc"
