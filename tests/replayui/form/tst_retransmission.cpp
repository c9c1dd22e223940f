// The playback dialog over a lossy, noisy UDP: answers that belong to no request of ours,
// requests sent again until answered, INVITEs the operator gave up, and requests the platform
// sends twice.
#include <QSignalSpy>
#include <QtTest>

#include "formtestkit.h"
#include "mainform.h"
#include "sipsession.h"
#include "ui_mainform.h"

using namespace kit;

namespace {

QByteArray accept(ScriptedPlatform& p, const QByteArray& invite) {
    return p.reply(invite, "200 OK", QByteArray(), kPlaybackSdp, "Application/SDP");
}

QByteArray replaced(QByteArray text, const QByteArray& what, const QByteArray& with) {
    return text.replace(what, with);
}

QByteArray tagOf(const QByteArray& nameAddr) {
    return nameAddr.mid(nameAddr.indexOf(";tag=") + 5);
}

SessionTimings fastTimers() {
    SessionTimings t = FormRig::quietTimings();
    t.t1Ms = 10;
    t.t2Ms = 40;
    return t;
}

// Waits until the form has been through that many datagrams.
void settle(QSignalSpy& handled, int expected) {
    QTRY_COMPARE(handled.count(), expected);
}

}  // namespace

class TestRetransmission : public QObject {
    Q_OBJECT
private slots:
    void strayAnswersChangeNothing();
    void lostRequestsAreSentAgain();
    void stopWhileTheInviteWaits_data();
    void stopWhileTheInviteWaits();
    void lateAcceptanceLeavesTheNextPlaybackAlone();
    void platformRequestsSentTwiceAreActedOnOnce();
    void dialogThePlatformForgotIsClosed();
};

void TestRetransmission::strayAnswersChangeNothing() {
    FormRig rig;
    QVERIFY(rig.readyToPlay());
    ScriptedPlatform& p = rig.platform();
    Ui::MainForm* ui = rig.form()->widgets();
    SipSession* session = rig.form()->session();
    QSignalSpy handled(session, &SipSession::datagramHandled);
    QSignalSpy answered(session, &SipSession::inviteAnswered);

    // A 200 OK to an INVITE we never sent.
    p.send(accept(p, p.request("INVITE", "never-sent", 1, kPlaybackSdp, "Application/SDP")));
    settle(handled, 1);

    ui->btnPlay->click();
    const QByteArray invite = p.waitFor("INVITE ");
    const QByteArray ok = accept(p, invite);
    const QByteArray callId = header(invite, "Call-ID");
    const struct {
        const char* name;
        QByteArray answer;
    } strangers[] = {
        {"other branch", replaced(ok, ";branch=z9hG4bK-", ";branch=z9hG4bK-x")},
        {"other CSeq number", replaced(ok, "CSeq: 1 INVITE", "CSeq: 2 INVITE")},
        {"other method", replaced(ok, "CSeq: 1 INVITE", "CSeq: 1 BYE")},
        {"other Call-ID", replaced(ok, "Call-ID: " + callId, "Call-ID: x" + callId)},
    };
    for (const auto& row : strangers) {
        p.send(row.answer);
        settle(handled, handled.count() + 1);
        QVERIFY2(session->invitePending(), row.name);
    }
    QCOMPARE(p.count("ACK "), 0);
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_OK));
    QCOMPARE(ui->lbStartTime->text(), QStringLiteral("00:00:00"));

    p.send(ok);
    const QByteArray ack = p.waitFor("ACK ");
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REPLAY_PLAYING));
    // The same 200 OK again, while playing and after Stop: the same ACK, nothing else.
    p.send(ok);
    QCOMPARE(p.waitFor("ACK "), ack);
    ui->btnStop->click();
    QVERIFY(!p.waitFor("BYE ").isEmpty());
    p.send(ok);
    QCOMPARE(p.waitFor("ACK "), ack);
    QCOMPARE(answered.count(), 1);
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_OK));
    QCOMPARE(ui->lbStartTime->text(), QStringLiteral("00:00:00"));
    QCOMPARE(session->receiveStats().unmatched, quint64(5));
}

void TestRetransmission::lostRequestsAreSentAgain() {
    FormRig rig(fastTimers());
    QVERIFY(rig.readyToPlay());
    ScriptedPlatform& p = rig.platform();
    Ui::MainForm* ui = rig.form()->widgets();
    QSignalSpy handled(rig.form()->session(), &SipSession::datagramHandled);
    const auto lostThenAnswered = [&](const QByteArray& prefix, const QByteArray& status) {
        const QByteArray request = p.waitFor(prefix);
        if (request.isEmpty() || p.waitFor(prefix) != request) {
            return QByteArray();
        }
        p.send(p.reply(request, status));
        const int expected = handled.count() + 1;
        if (!QTest::qWaitFor([&] { return handled.count() >= expected; }, 2000)) {
            return QByteArray();
        }
        p.forget();
        return request;
    };
    const auto quietFor = [&](const QByteArray& prefix) {
        QTest::qWait(150);  // several retransmission intervals
        return p.count(prefix) == 0;
    };

    // A provisional answer stops the INVITE's retransmission.
    ui->btnPlay->click();
    const QByteArray invite = lostThenAnswered("INVITE ", "100 Trying");
    QVERIFY(!invite.isEmpty());
    QVERIFY(quietFor("INVITE "));
    p.send(accept(p, invite));
    QVERIFY(!p.waitFor("ACK ").isEmpty());

    ui->btnPause->click();
    QVERIFY(!lostThenAnswered("INFO ", "200 OK").isEmpty());
    QVERIFY(quietFor("INFO "));
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REPLAY_PAUSED));

    ui->btnStop->click();
    QVERIFY(!lostThenAnswered("BYE ", "200 OK").isEmpty());
    QVERIFY(quietFor("BYE "));
}

void TestRetransmission::stopWhileTheInviteWaits_data() {
    QTest::addColumn<QByteArray>("before");  // the platform's answer before Stop, if any
    QTest::addColumn<QByteArray>("after");   // its answer after Stop
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("provisional answer, then Stop")
        << QByteArray("100 Trying") << QByteArray("487 Request Terminated")
        << QByteArray("CANCEL ACK");
    QTest::newRow("Stop, then the provisional answer")
        << QByteArray() << QByteArray("100 Trying") << QByteArray("CANCEL");
    QTest::newRow("Stop, then the platform accepts")
        << QByteArray() << QByteArray("200 OK") << QByteArray("ACK BYE");
}

void TestRetransmission::stopWhileTheInviteWaits() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(QByteArray, expected);
    FormRig rig;
    QVERIFY(rig.readyToPlay());
    ScriptedPlatform& p = rig.platform();
    Ui::MainForm* ui = rig.form()->widgets();
    SipSession* session = rig.form()->session();
    QSignalSpy handled(session, &SipSession::datagramHandled);

    ui->btnPlay->click();
    const QByteArray invite = p.waitFor("INVITE ");
    if (!before.isEmpty()) {
        p.send(p.reply(invite, before));
        settle(handled, 1);
    }
    p.forget();
    ui->btnStop->click();
    QVERIFY(!session->invitePending());  // idle at once
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_OK));
    QCOMPARE(p.count("CANCEL "), before.isEmpty() ? 0 : 1);  // never before a provisional answer
    const QByteArray answer = after.startsWith("200")
                                  ? accept(p, invite)
                                  : p.reply(invite, after, QByteArray(), QByteArray());
    p.send(answer);
    settle(handled, handled.count() + 1);

    p.drain();
    QList<QByteArray> methods;
    for (const QByteArray& d : p.all()) {
        methods << method(d);
    }
    QCOMPARE(methods.join(' '), expected);
    for (const QByteArray& d : p.all()) {
        QCOMPARE(header(d, "Call-ID"), header(invite, "Call-ID"));
        QCOMPARE(header(d, "From"), header(invite, "From"));
        QCOMPARE(startLine(d).split(' ').value(1), startLine(invite).split(' ').value(1));
        // CANCEL and the ACK of a failure belong to the INVITE's transaction (RFC 3261 §9.1,
        // §17.1.1.3); the ACK of a 2xx and the BYE do not.
        const bool sameTransaction = method(d) == "CANCEL" || !after.startsWith("200");
        QCOMPARE(header(d, "Via") == header(invite, "Via"), sameTransaction);
    }
    const QByteArray last = p.all().last();
    QCOMPARE(header(last, "CSeq"),
             method(last) == "BYE" ? QByteArray("2 BYE") : "1 " + method(last));
    if (method(last) != "CANCEL") {
        QCOMPARE(header(last, "To"), header(answer, "To"));
    }
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REG_OK));
    ui->btnPlay->click();
    QVERIFY(!p.waitFor("INVITE ").isEmpty());
}

void TestRetransmission::lateAcceptanceLeavesTheNextPlaybackAlone() {
    FormRig rig;
    QVERIFY(rig.readyToPlay());
    ScriptedPlatform& p = rig.platform();
    Ui::MainForm* ui = rig.form()->widgets();
    ui->btnPlay->click();
    const QByteArray first = p.waitFor("INVITE ");
    ui->btnStop->click();
    const QByteArray second = rig.startPlayback();
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REPLAY_PLAYING));

    p.send(p.reply(first, "200 OK", QByteArray(), kPlaybackSdp, "Application/SDP"));
    const QByteArray bye = p.waitFor("BYE ");
    QCOMPARE(header(bye, "Call-ID"), header(first, "Call-ID"));
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REPLAY_PLAYING));
    ui->btnPause->click();
    const QByteArray pause = p.waitFor("INFO ");
    QCOMPARE(header(pause, "Call-ID"), header(second, "Call-ID"));
    QCOMPARE(tagOf(header(pause, "From")), tagOf(header(second, "From")));
}

void TestRetransmission::platformRequestsSentTwiceAreActedOnOnce() {
    FormRig rig;
    QVERIFY(rig.readyToPlay());
    ScriptedPlatform& p = rig.platform();
    const QByteArray invite = rig.startPlayback();
    const QByteArray bye = p.request("BYE", header(invite, "Call-ID"), 9, QByteArray());
    p.send(bye);
    const QByteArray ok = p.waitFor("SIP/2.0 200 OK");
    QTRY_COMPARE(rig.form()->sipStep(), int(SipSession::REG_OK));

    // The BYE again, during the next playback: the same answer, and the playback goes on.
    const QByteArray next = rig.startPlayback();
    p.send(bye);
    QCOMPARE(p.waitFor("SIP/2.0 200 OK"), ok);
    QCOMPARE(rig.form()->sipStep(), int(SipSession::REPLAY_PLAYING));

    // The end-of-recording notice twice: one answer sent twice, one BYE.
    const QByteArray notice = p.request("MESSAGE", header(next, "Call-ID"), 30, kMediaStatus);
    p.send(notice);
    const QByteArray noticeOk = p.waitFor("SIP/2.0 200 OK");
    QVERIFY(!p.waitFor("BYE ").isEmpty());
    p.send(notice);
    QCOMPARE(p.waitFor("SIP/2.0 200 OK"), noticeOk);
    QTest::qWait(50);
    QCOMPARE(p.count("BYE "), 1);
    QCOMPARE(rig.form()->session()->receiveStats().repeated, quint64(2));
}

// RFC 3261 §12.2.1.2: a 481 to a request inside the dialog ends it.
void TestRetransmission::dialogThePlatformForgotIsClosed() {
    FormRig rig;
    QVERIFY(rig.readyToPlay());
    ScriptedPlatform& p = rig.platform();
    rig.startPlayback();
    rig.form()->widgets()->btnPause->click();
    p.send(p.reply(p.waitFor("INFO "), "481 Call/Transaction Does Not Exist"));
    QTRY_COMPARE(rig.form()->sipStep(), int(SipSession::REG_OK));
    QCOMPARE(rig.form()->widgets()->labelStatus->text(),
             QStringLiteral("控制状态反馈- 481 Call/Transaction Does Not Exist"));
    QCOMPARE(p.count("BYE "), 0);
}

QTEST_MAIN(TestRetransmission)
#include "tst_retransmission.moc"
