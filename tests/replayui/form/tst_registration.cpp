// Registration, keepalive and the receive filters of the session, against a scripted platform.
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
    void timerRepeatsAndFallsBack();
    void acceptedWithoutChallenge();
    void regTwoFallsBackOnlyOnRegisterFailure();
    void challengeWhileLoggedInRegistersAtOnce();
    void reloginAnswerChangesNothing();
    void keepaliveAndReloginFollowTheirTimers();
    void strangersAndMediaAreDropped();
    void datagramSizeLimit();
    void withoutSettingsFileTheDefaultsConfigureTheSession();
    void brokenSocketIsReplacedBeforeASend();
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

void TestRegistration::timerRepeatsAndFallsBack() {
    SessionTimings t = FormRig::quietTimings();
    t.registerMs = 30;
    FormRig rig(t);
    ScriptedPlatform& p = rig.platform();
    // Unanswered, the plain REGISTER is repeated.
    QByteArray latest;
    for (int i = 0; i < 3; ++i) {
        latest = p.waitFor("REGISTER ");
        QCOMPARE(cseqNumber(latest), 1);
    }
    p.send(challenge(p, latest));
    // After the challenge: the authenticated REGISTER at once and on two ticks (the second
    // after falling back), then a plain one.
    QList<int> sequence;
    while (sequence.isEmpty() || sequence.last() != 1 || !sequence.contains(2)) {
        const QByteArray reg = p.waitFor("REGISTER ");
        QVERIFY(!reg.isEmpty());
        const int n = cseqNumber(reg);
        if (n == 2 || sequence.contains(2)) {
            sequence << n;
        }
    }
    QCOMPARE(sequence, (QList<int>{2, 2, 2, 1}));
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_ONE));
    QVERIFY(rig.form()->session()->retryCount() >= 2);
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

void TestRegistration::challengeWhileLoggedInRegistersAtOnce() {
    FormRig rig;
    QVERIFY(rig.logIn());
    ScriptedPlatform& p = rig.platform();
    p.forget();
    // A restarted platform challenges the next request.
    const QByteArray fake = p.request("REGISTER", "restart-1", 1, QByteArray());
    p.send(challenge(p, fake, "fresh-nonce"));
    const QByteArray again = p.waitFor("REGISTER ");
    QVERIFY(header(again, "Authorization").contains("nonce=\"fresh-nonce\""));
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_OK));
    p.send(p.reply(again, "200 OK"));
    QSignalSpy handled(rig.form()->session(), &SipSession::datagramHandled);
    QTRY_COMPARE(handled.count(), 1);
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_OK));
}

void TestRegistration::reloginAnswerChangesNothing() {
    FormRig rig;
    QVERIFY(rig.logInAndSubscribe());
    const QString before = statusText(rig);
    ScriptedPlatform& p = rig.platform();
    QSignalSpy handled(rig.form()->session(), &SipSession::datagramHandled);
    p.send(p.reply(p.request("REGISTER", "relogin-1", 2, QByteArray()), "200 OK"));
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
    QVERIFY(!p.waitFor("MESSAGE ").isEmpty());
    QVERIFY(session->socket() != broken.data());
    QCOMPARE(session->socket()->localPort(), rig.formPort());
    QTRY_VERIFY(broken.isNull());  // the old one is deleted, not kept until the form goes
    // The new socket receives.
    p.send(p.reply(p.request("MESSAGE", "x-1", 1, QByteArray()), "200 OK"));
    QTRY_COMPARE(rig.form()->widgets()->labelStatus->text(),
                 QStringLiteral("控制状态反馈- 200 OK"));
}

QTEST_MAIN(TestRegistration)
#include "tst_registration.moc"
