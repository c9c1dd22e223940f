// Registration, keepalive and the receive filters of the session, against a scripted platform.
#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

#include "formtestkit.h"
#include "mainform.h"
#include "sipsession.h"
#include "ui_mainform.h"

using namespace kit;

namespace {

int cseqNumber(const QByteArray& msg) {
    return header(msg, "CSeq").split(' ').value(0).toInt();
}

QString statusText(const FormRig& rig) {
    return rig.form()->widgets()->labelStatus->text();
}

}  // namespace

class TestRegistration : public QObject {
    Q_OBJECT
private slots:
    void twoStepsWithStatusTexts();
    void unansweredRegisterIsResentThenGivenUp();
    void acceptedWithoutChallenge();
    void regTwoFallsBackOnlyOnRegisterFailure();
    void refusedReRegistrationLogsOutAndBacksOff();
    void reloginAnswerChangesNothing();
    void keepaliveAndReloginFollowTheirTimers();
    void strangersAndMediaAreDropped();
    void datagramSizeLimit();
    void withoutSettingsFileTheDefaultsConfigureTheSession();
    void brokenSocketIsReplacedBeforeASend();
    void portTakenStopsTheSending();
    void strangersAreReportedBoundedly();
};

void TestRegistration::twoStepsWithStatusTexts() {
    FormRig rig;
    ScriptedPlatform& p = rig.platform();
    const QByteArray first = p.waitFor("REGISTER ");
    QVERIFY(!first.isEmpty());
    QCOMPARE(header(first, "CSeq"), QByteArray("1 REGISTER"));
    QVERIFY(header(first, "Authorization").isEmpty());
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_ONE));

    p.send(challenge(p, first, "nonce-1"));
    const QByteArray second = p.waitFor("REGISTER ");
    QCOMPARE(header(second, "CSeq"), QByteArray("2 REGISTER"));
    QVERIFY(header(second, "Authorization").contains("nonce=\"nonce-1\""));
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_TWO));
    QCOMPARE(statusText(rig), QStringLiteral("登录状态反馈- 401 Unauthorized"));

    p.send(p.reply(second, "200 OK"));
    const QByteArray subscribe = p.waitFor("SUBSCRIBE ");
    QVERIFY(!subscribe.isEmpty());
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_OK));
    QVERIFY(rig.form()->session()->loggedIn());
    QCOMPARE(statusText(rig), QStringLiteral("登录状态反馈- 200 OK"));

    p.send(p.reply(subscribe, "200 OK"));
    QTRY_COMPARE(statusText(rig), QStringLiteral("订阅状态反馈- 200 OK"));
}

// An unanswered REGISTER is sent again unchanged, given up after 64×T1 with a status text, and
// only then replaced by a new one (RFC 3261 §10.2); the authenticated one falls back to REG_ONE.
void TestRegistration::unansweredRegisterIsResentThenGivenUp() {
    SessionTimings t = FormRig::quietTimings();
    t.registerMs = 30;
    t.t1Ms = 5;
    t.t2Ms = 20;
    FormRig rig(t);
    ScriptedPlatform& p = rig.platform();
    const auto nextDifferent = [&](const QByteArray& than) {
        QByteArray reg;
        do {
            reg = p.waitFor("REGISTER ");
        } while (!reg.isEmpty() && reg == than);
        return reg;
    };
    const QByteArray first = p.waitFor("REGISTER ");
    QCOMPARE(p.waitFor("REGISTER "), first);
    const QByteArray second = nextDifferent(first);
    QCOMPARE(cseqNumber(second), 1);
    QVERIFY(header(second, "Via") != header(first, "Via"));
    QVERIFY(statusText(rig).endsWith(QStringLiteral("- 408 Request Timeout")));

    p.send(challenge(p, second));
    const QByteArray auth = nextDifferent(second);
    QCOMPARE(cseqNumber(auth), 2);
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_TWO));
    QCOMPARE(p.waitFor("REGISTER "), auth);
    const QByteArray plainAgain = nextDifferent(auth);
    QCOMPARE(cseqNumber(plainAgain), 1);
    QCOMPARE(statusText(rig), QStringLiteral("登录状态反馈- 408 Request Timeout"));
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_ONE));
}

void TestRegistration::acceptedWithoutChallenge() {
    FormRig rig;
    ScriptedPlatform& p = rig.platform();
    p.send(p.reply(p.waitFor("REGISTER "), "200 OK"));
    QVERIFY(!p.waitFor("SUBSCRIBE ").isEmpty());
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_OK));
    QVERIFY(rig.form()->session()->loggedIn());
}

void TestRegistration::regTwoFallsBackOnlyOnRegisterFailure() {
    FormRig rig;
    ScriptedPlatform& p = rig.platform();
    p.send(challenge(p, p.waitFor("REGISTER ")));
    const QByteArray second = p.waitFor("REGISTER ");
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_TWO));

    QSignalSpy handled(rig.form()->session(), &SipSession::datagramHandled);
    p.send(p.reply(second, "100 Trying"));
    p.send(p.request("MESSAGE", "early-1", 3,
                     "<?xml version=\"1.0\"?>\r\n<Notify>\r\n<CmdType>Keepalive</CmdType>\r\n"
                     "</Notify>\r\n"));
    QTRY_COMPARE(handled.count(), 2);
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_TWO));

    p.send(p.reply(second, "403 Forbidden"));
    QTRY_COMPARE(rig.form()->sipStep(), int(SipSession::REG_ONE));
    QVERIFY(!rig.form()->session()->loggedIn());
}

// A challenge to one of our requests while logged in gets one authenticated REGISTER; a refusal
// of that logs out, and from then on REGISTERs come no closer than registerMs, backing off.
void TestRegistration::refusedReRegistrationLogsOutAndBacksOff() {
    SessionTimings t = FormRig::quietTimings();
    t.registerMs = 150;
    t.backoffMaxMs = 600;
    FormRig rig(t);
    QVERIFY(rig.logInAndSubscribe());
    ScriptedPlatform& p = rig.platform();
    SipSession* session = rig.form()->session();
    p.forget();
    QSignalSpy handled(session, &SipSession::datagramHandled);
    // A challenge to a request we never sent changes nothing.
    p.send(challenge(p, p.request("MESSAGE", "stray-1", 4, QByteArray()), "stray-nonce"));
    QTRY_COMPARE(handled.count(), 1);
    QCOMPARE(p.count(), 0);

    session->doCatalogQuery();
    const QByteArray query = p.waitFor("MESSAGE ");
    p.send(challenge(p, query, "fresh-nonce"));
    p.send(challenge(p, query, "fresh-nonce"));  // the same answer again
    const QByteArray again = p.waitFor("REGISTER ");
    QVERIFY(header(again, "Authorization").contains("nonce=\"fresh-nonce\""));
    QTRY_COMPARE(handled.count(), 3);
    QCOMPARE(p.count("REGISTER "), 1);
    QVERIFY(session->loggedIn());

    QElapsedTimer clock;
    clock.start();
    p.send(p.reply(again, "403 Forbidden"));
    QTRY_COMPARE(rig.form()->sipStep(), int(SipSession::REG_ONE));
    QVERIFY(!session->loggedIn());
    QCOMPARE(statusText(rig), QStringLiteral("登录状态反馈- 403 Forbidden"));

    // The platform goes on refusing: challenge to the plain REGISTER, 403 to the other.
    QList<qint64> sentAt;
    while (sentAt.size() < 6) {
        const QByteArray reg = p.waitFor("REGISTER ", 3000);
        QVERIFY(!reg.isEmpty());
        sentAt << clock.elapsed();
        p.send(cseqNumber(reg) == 1 ? challenge(p, reg) : p.reply(reg, "403 Forbidden"));
    }
    qint64 previous = 0;
    for (int i = 0; i < sentAt.size(); ++i) {
        QVERIFY2(sentAt[i] - previous >= t.registerMs - 10, qPrintable(QString::number(i)));
        previous = sentAt[i];
    }
    // Back-off: 150, 300, 600 ms between a refusal and the next plain REGISTER.
    QVERIFY(sentAt[4] - sentAt[3] >= 2 * t.registerMs - 10);
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_TWO));
}

void TestRegistration::reloginAnswerChangesNothing() {
    FormRig rig;
    QVERIFY(rig.logInAndSubscribe());
    const QString before = statusText(rig);
    ScriptedPlatform& p = rig.platform();
    QSignalSpy handled(rig.form()->session(), &SipSession::datagramHandled);
    QVERIFY(rig.form()->session()->autoRelogin());
    p.send(p.reply(p.waitFor("REGISTER "), "200 OK"));
    QTRY_COMPARE(handled.count(), 1);
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_OK));
    QCOMPARE(statusText(rig), before);
    QCOMPARE(p.count("SUBSCRIBE "), 1);
}

void TestRegistration::keepaliveAndReloginFollowTheirTimers() {
    SessionTimings t = FormRig::quietTimings();
    t.keepaliveMs = 20;
    t.reloginMs = 40;
    FormRig rig(t);
    ScriptedPlatform& p = rig.platform();
    // Nothing of either before the login.
    QVERIFY(p.take("MESSAGE ").isEmpty());
    QVERIFY(rig.logIn());
    const QByteArray keepalive = p.waitFor("MESSAGE ");
    QVERIFY(body(keepalive).contains("<CmdType>Keepalive</CmdType>"));
    const QByteArray relogin = p.waitFor("REGISTER ");
    QVERIFY(!header(relogin, "Authorization").isEmpty());
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_OK));
}

void TestRegistration::strangersAndMediaAreDropped() {
    FormRig rig;
    ScriptedPlatform& p = rig.platform();
    const QByteArray first = p.waitFor("REGISTER ");
    QSignalSpy handled(rig.form()->session(), &SipSession::datagramHandled);

    ScriptedPlatform stranger(QHostAddress(QStringLiteral("127.0.0.2")));
    stranger.setFormPort(rig.formPort());
    stranger.send(challenge(p, first));
    QTRY_COMPARE(handled.count(), 1);
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_ONE));

    // RTP (version 2) on our SIP port: never parsed.
    QByteArray rtp("\x80\x60\x00\x01\x00\x00\x00\x10\x12\x34\x56\x78", 12);
    rtp += challenge(p, first);
    p.send(rtp);
    QTRY_COMPARE(handled.count(), 2);
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_ONE));
    QVERIFY(rig.form()->session()->lastStatusLine().isEmpty());

    p.send(challenge(p, first));
    QTRY_COMPARE(rig.form()->sipStep(), int(SipSession::REG_TWO));
}

void TestRegistration::datagramSizeLimit() {
    FormRig rig;
    ScriptedPlatform& p = rig.platform();
    const QByteArray first = p.waitFor("REGISTER ");
    const auto padded = [&](int total) {
        QByteArray msg = challenge(p, first);
        const int headerEnd = msg.indexOf("Content-Length: 0\r\n\r\n");
        QByteArray head = msg.left(headerEnd);
        head += "Content-Type: text/plain\r\n";
        // Content-Length digits: 5 for sizes in this range.
        const int bodyLength = total - head.size() - int(strlen("Content-Length: 00000\r\n\r\n"));
        return head + "Content-Length: " + QByteArray::number(bodyLength) + "\r\n\r\n" +
               QByteArray(bodyLength, 'x');
    };
    QSignalSpy handled(rig.form()->session(), &SipSession::datagramHandled);
    const QByteArray tooLong = padded(30721);
    QCOMPARE(tooLong.size(), 30721);
    p.send(tooLong);
    QTRY_COMPARE(handled.count(), 1);
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_ONE));

    const QByteArray exact = padded(30720);
    QCOMPARE(exact.size(), 30720);
    p.send(exact);
    QTRY_COMPARE(rig.form()->sipStep(), int(SipSession::REG_TWO));
}

void TestRegistration::withoutSettingsFileTheDefaultsConfigureTheSession() {
    FormRig rig(FormRig::quietTimings(), false);
    QVERIFY(!rig.form()->settings().fromFile);
    const CCTVCAR::SessionParams& params = rig.form()->session()->codec().sessionParams();
    QCOMPARE(QByteArray(params.HostDevCode.c_str()), QByteArray("01552400000805100001"));
    QCOMPARE(QByteArray(params.PlatPort.c_str()), QByteArray("5061"));
    QCOMPARE(QByteArray(params.SN.c_str()), QByteArray("170"));
    // The first REGISTER was built on the configured builder.
    const char* last = rig.form()->session()->codec().lastMessage();
    QVERIFY(last != nullptr);
    QVERIFY(QByteArray(last).startsWith("REGISTER SIP:01552403048401000001@0:5061 SIP/2.0\r\n"));
    QCOMPARE(rig.form()->widgets()->cbxLine->itemText(0), QStringLiteral("0号线"));
}

void TestRegistration::brokenSocketIsReplacedBeforeASend() {
    FormRig rig;
    QVERIFY(rig.logIn());
    ScriptedPlatform& p = rig.platform();
    SipSession* session = rig.form()->session();
    QPointer<QUdpSocket> broken = session->socket();
    broken->close();
    p.forget();
    // Refresh's query is a locked send: the socket is checked and rebuilt first.
    QVERIFY(session->doCatalogQuery());
    const QByteArray query = p.waitFor("MESSAGE ");
    QVERIFY(!query.isEmpty());
    QVERIFY(session->socket() != broken.data());
    QCOMPARE(session->socket()->localPort(), rig.formPort());
    QTRY_VERIFY(broken.isNull());  // the old one is deleted, not kept until the form goes
    // The new socket receives.
    p.send(p.reply(query, "200 OK"));
    QTRY_COMPARE(rig.form()->widgets()->labelStatus->text(),
                 QStringLiteral("控制状态反馈- 200 OK"));
}

// Sending from an unbound socket would go out from a port our headers do not name.
void TestRegistration::portTakenStopsTheSending() {
    SessionTimings t = FormRig::quietTimings();
    t.registerMs = 50;
    FormRig rig(t, true, false);
    auto occupier = std::make_unique<QUdpSocket>();
    QVERIFY(occupier->bind(QHostAddress::LocalHost, rig.formPort(), QUdpSocket::DontShareAddress));
    rig.create();
    ScriptedPlatform& p = rig.platform();
    QCOMPARE(statusText(rig),
             QStringLiteral("登录状态反馈- 无法绑定本地端口127.0.0.1:%1").arg(rig.formPort()));
    QTest::qWait(200);
    QCOMPARE(p.count(), 0);
    occupier.reset();
    QVERIFY(!p.waitFor("REGISTER ").isEmpty());
    QCOMPARE(rig.form()->session()->socket()->localPort(), rig.formPort());
}

void TestRegistration::strangersAreReportedBoundedly() {
    FormRig rig;
    QSignalSpy handled(rig.form()->session(), &SipSession::datagramHandled);
    for (int i = 2; i < 82; ++i) {
        ScriptedPlatform stranger(QHostAddress(QStringLiteral("127.0.0.%1").arg(i)));
        stranger.setFormPort(rig.formPort());
        stranger.send("SIP/2.0 200 OK\r\n\r\n");
        QTRY_COMPARE(handled.count(), i - 1);
    }
    QCOMPARE(rig.form()->session()->receiveStats().strangers, quint64(80));
    QVERIFY(rig.form()->session()->reportedStrangers() <= 65);
}

QTEST_MAIN(TestRegistration)
#include "tst_registration.moc"
