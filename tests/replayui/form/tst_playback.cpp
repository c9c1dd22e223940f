// The playback dialog driven from the form's controls, against a scripted platform: the state
// table with pause, resume, speed, seek, stop, the platform's end-of-record notice and BYE.
#include <QDateTime>
#include <QScopeGuard>
#include <ctime>
#include <QSignalSpy>
#include <QtTest>

#include "formtestkit.h"
#include "mainform.h"
#include "sipsession.h"
#include "ui_mainform.h"

using namespace kit;

namespace {

int step(const FormRig& rig) {
    return rig.form()->sipStep();
}

void prepare(FormRig& rig) {
    QVERIFY(rig.readyToPlay());
}

QByteArray startPlayback(FormRig& rig) {
    return rig.startPlayback();
}

QByteArray infoBody(ScriptedPlatform& p) {
    return body(p.waitFor("INFO "));
}

}  // namespace

class TestPlayback : public QObject {
    Q_OBJECT
private slots:
    void inviteCarriesCameraAndSpan();
    void stateTable();
    void endOfRecordingIsAnsweredAndClosed();
    void platformByeReturnsToIdle();
    void playWaitsForTheInviteAnswer();
    void inviteWaitEndsOnItsOwn();
    void startAfterEndIsRefused();
    void controlsOutsidePlaybackSendNothing();
    void catalogueDuringPlaybackIsKept();
    void spanInTheLocalTimeOfOtherZones_data();
    void spanInTheLocalTimeOfOtherZones();
    void eachPlaybackStartsAfresh();
    void challengeDuringPlayback();
    void closingEndsWhatIsOpen_data();
    void closingEndsWhatIsOpen();
};

void TestPlayback::inviteCarriesCameraAndSpan() {
    FormRig rig;
    prepare(rig);
    Ui::MainForm* ui = rig.form()->widgets();
    const QDate day(2024, 3, 5);
    ui->dateEdit_Start->setDate(day);
    ui->timeEdit_Start->setTime(QTime(9, 0, 0));
    ui->dateEdit_End->setDate(day);
    ui->timeEdit_End->setTime(QTime(10, 0, 0));
    const qint64 start = QDateTime(day, QTime(9, 0, 0)).toSecsSinceEpoch();

    const QByteArray invite = startPlayback(rig);
    const QByteArray sdp = body(invite);
    QVERIFY(sdp.contains("s=Playback\r\n"));
    QVERIFY(sdp.contains("u=" + trainCameraId(1, 1, 1, 1) + ":3\r\n"));
    QVERIFY(sdp.contains("t=" + QByteArray::number(start) + " " + QByteArray::number(start + 3600) +
                         "\r\n"));
    QCOMPARE(step(rig), int(SipSession::REPLAY_PLAYING));
    const QString format = QStringLiteral("hh:mm:ss");
    QCOMPARE(ui->lbStartTime->text(), QDateTime::fromSecsSinceEpoch(1700000000).toString(format));
    QCOMPARE(ui->lbEndTime->text(), QDateTime::fromSecsSinceEpoch(1700003600).toString(format));
}

void TestPlayback::stateTable() {
    FormRig rig;
    prepare(rig);
    ScriptedPlatform& p = rig.platform();
    Ui::MainForm* ui = rig.form()->widgets();
    const QByteArray invite = startPlayback(rig);
    const QByteArray callId = header(invite, "Call-ID");

    // 7 --Pause--> 8
    ui->btnPause->click();
    const QByteArray pause = p.waitFor("INFO ");
    QCOMPARE(body(pause), QByteArray("PAUSE MANSRTSP/1.0\r\nCSeq:1\r\nPauseTime:now\r\n"));
    QCOMPARE(header(pause, "Call-ID"), callId);
    QCOMPARE(step(rig), int(SipSession::REPLAY_PAUSED));
    ui->btnPause->click();  // not in 8
    QCOMPARE(p.count("INFO "), 1);

    // The platform's answer shows as control feedback.
    p.send(p.reply(pause, "200 OK"));
    QTRY_COMPARE(ui->labelStatus->text(), QStringLiteral("控制状态反馈- 200 OK"));

    // 8 --Play--> 7: resume only, no second INVITE.
    ui->btnPlay->click();
    QCOMPARE(infoBody(p), QByteArray("PLAY MANSRTSP/1.0\r\nCSeq:2\r\nRange:npt=now-\r\n"));
    QCOMPARE(step(rig), int(SipSession::REPLAY_PLAYING));
    QCOMPARE(p.count("INVITE "), 1);

    // Speed; the same choice again emits nothing.
    ui->cbxSpeed->setCurrentIndex(3);
    QCOMPARE(infoBody(p), QByteArray("PLAY MANSRTSP/1.0\r\nCSeq:3\r\nScale:2.0\r\n"));
    ui->cbxSpeed->setCurrentIndex(3);
    QCOMPARE(p.count("INFO "), 3);

    // Seek while paused plays again, at 50 % and 99 % of the 3600 s recording.
    ui->btnPause->click();
    QVERIFY(infoBody(p).startsWith("PAUSE "));
    QCOMPARE(step(rig), int(SipSession::REPLAY_PAUSED));
    ui->horizontalSlider->setValue(50);
    const QByteArray seekHalf = infoBody(p);
    QVERIFY2(seekHalf.endsWith("CSeq:4\r\nRange:npt=1800-\r\n"), seekHalf.constData());
    QCOMPARE(step(rig), int(SipSession::REPLAY_PLAYING));
    ui->horizontalSlider->setValue(99);
    QVERIFY(infoBody(p).endsWith("CSeq:4\r\nRange:npt=3564-\r\n"));
    ui->btnPause->click();
    QVERIFY(infoBody(p).startsWith("PAUSE "));
    QCOMPARE(step(rig), int(SipSession::REPLAY_PAUSED));

    // 8 --Stop--> 2 with the dialog's identity.
    ui->btnStop->click();
    const QByteArray bye = p.waitFor("BYE ");
    QCOMPARE(header(bye, "Call-ID"), callId);
    QCOMPARE(step(rig), int(SipSession::REG_OK));
    QCOMPARE(ui->horizontalSlider->value(), 0);
    QCOMPARE(ui->lbStartTime->text(), QStringLiteral("00:00:00"));
    ui->btnStop->click();
    QCOMPARE(p.count("BYE "), 1);

    // A new playback may start.
    QVERIFY(!startPlayback(rig).isEmpty());
    QCOMPARE(step(rig), int(SipSession::REPLAY_PLAYING));
}

void TestPlayback::endOfRecordingIsAnsweredAndClosed() {
    FormRig rig;
    prepare(rig);
    ScriptedPlatform& p = rig.platform();
    const QByteArray invite = startPlayback(rig);
    const QByteArray notice = p.request("MESSAGE", header(invite, "Call-ID"), 30, kMediaStatus);
    p.send(notice);
    const QByteArray bye = p.waitFor("BYE ");
    QVERIFY(!bye.isEmpty());
    // The 200 OK went out before the BYE.
    const QList<QByteArray>& all = p.all();
    const int byeAt = all.indexOf(bye);
    QVERIFY(byeAt > 0);
    QVERIFY(all[byeAt - 1].startsWith("SIP/2.0 200 OK"));
    QCOMPARE(step(rig), int(SipSession::REG_OK));
}

void TestPlayback::platformByeReturnsToIdle() {
    FormRig rig;
    prepare(rig);
    ScriptedPlatform& p = rig.platform();
    Ui::MainForm* ui = rig.form()->widgets();
    const QByteArray invite = startPlayback(rig);
    ui->horizontalSlider->setValue(40);
    p.waitFor("INFO ");
    p.send(p.request("BYE", header(invite, "Call-ID"), 9, QByteArray()));
    const QByteArray ok = p.waitFor("SIP/2.0 200 OK");
    QCOMPARE(header(ok, "CSeq"), QByteArray("9 BYE"));
    QCOMPARE(header(ok, "Call-ID"), header(invite, "Call-ID"));
    QTRY_COMPARE(step(rig), int(SipSession::REG_OK));
    QCOMPARE(ui->horizontalSlider->value(), 0);
    QCOMPARE(ui->lbEndTime->text(), QStringLiteral("00:00:00"));
    QCOMPARE(p.count("BYE "), 0);  // nothing to end on our side
}

void TestPlayback::playWaitsForTheInviteAnswer() {
    FormRig rig;
    prepare(rig);
    ScriptedPlatform& p = rig.platform();
    Ui::MainForm* ui = rig.form()->widgets();
    ui->btnPlay->click();
    ui->btnPlay->click();
    const QByteArray invite = p.waitFor("INVITE ");
    QCOMPARE(p.count("INVITE "), 1);
    QVERIFY(rig.form()->session()->invitePending());
    // A refusal ends the wait; Play is accepted again.
    p.send(p.reply(invite, "486 Busy Here"));
    QTRY_VERIFY(!rig.form()->session()->invitePending());
    QCOMPARE(step(rig), int(SipSession::REG_OK));
    ui->btnPlay->click();
    QCOMPARE(p.count("INVITE "), 2);
}

void TestPlayback::inviteWaitEndsOnItsOwn() {
    SessionTimings t = FormRig::quietTimings();
    t.t1Ms = 10;
    FormRig rig(t);
    prepare(rig);
    ScriptedPlatform& p = rig.platform();
    rig.form()->widgets()->btnPlay->click();
    const QByteArray invite = p.waitFor("INVITE ");
    QVERIFY(!invite.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.form()->session()->invitePending(), 5000);
    QCOMPARE(rig.form()->widgets()->labelStatus->text(),
             QStringLiteral("控制状态反馈- 408 Request Timeout"));
    // Sent again unchanged meanwhile (10, 20, 40 ... ms: six times in 640 ms).
    QVERIFY(p.count("INVITE ") >= 5);
    for (const QByteArray& d : p.all()) {
        QVERIFY(!d.startsWith("INVITE ") || d == invite);
    }
    p.forget();
    rig.form()->widgets()->btnPlay->click();
    QVERIFY(header(p.waitFor("INVITE "), "Via") != header(invite, "Via"));
}

void TestPlayback::startAfterEndIsRefused() {
    FormRig rig;
    prepare(rig);
    Ui::MainForm* ui = rig.form()->widgets();
    ui->dateEdit_Start->setDate(ui->dateEdit_End->date().addDays(1));
    QString title;
    QString text;
    answerNextModal(&title, &text);
    ui->btnPlay->click();
    QCOMPARE(title, QStringLiteral("CCTV"));
    QCOMPARE(text, QStringLiteral("开始时间不能晚于结束时间！"));
    QCOMPARE(rig.platform().count("INVITE "), 0);
    QCOMPARE(step(rig), int(SipSession::REG_OK));
}

void TestPlayback::controlsOutsidePlaybackSendNothing() {
    FormRig rig;
    prepare(rig);
    ScriptedPlatform& p = rig.platform();
    Ui::MainForm* ui = rig.form()->widgets();
    ui->horizontalSlider->setValue(50);
    ui->btnPause->click();
    ui->btnStop->click();
    ui->cbxSpeed->setCurrentIndex(0);
    QCOMPARE(p.count(), 0);
    // Without a camera Play sends nothing either.
    ui->cbxzone2->setCurrentIndex(2);
    QCOMPARE(ui->cbxCamera->count(), 1);
    ui->cbxStation->setCurrentIndex(2);
    ui->cbxzone2->setCurrentIndex(0);
    QCOMPARE(ui->cbxCamera->count(), 0);
    ui->btnPlay->click();
    QCOMPARE(p.count(), 0);
}

void TestPlayback::catalogueDuringPlaybackIsKept() {
    FormRig rig;
    prepare(rig);
    ScriptedPlatform& p = rig.platform();
    startPlayback(rig);
    p.send(p.request(
        "MESSAGE", "catalogue-9", 50,
        catalogueBody("Response", {catalogueItem(trainCameraId(4, 1, 1, 1), "n", "ON")})));
    QTRY_COMPARE(rig.host().recorder.count("AddCameraInfo"), 1);
    QCOMPARE(step(rig), int(SipSession::REPLAY_PLAYING));
    QCOMPARE(p.count("BYE "), 0);
}

void TestPlayback::spanInTheLocalTimeOfOtherZones_data() {
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QDateTime>("start");  // local wall clock
    QTest::addColumn<QDateTime>("end");
    QTest::addColumn<QByteArray>("timeLine");  // what the INVITE must carry
    QTest::addColumn<QString>("shownStart");   // 1700000000 in that zone
    const auto at = [](int y, int mo, int d, int h, int mi) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::LocalTime);
    };
    QTest::newRow("Asia/Shanghai")
        << QByteArray("Asia/Shanghai") << at(2024, 3, 5, 9, 0) << at(2024, 3, 5, 10, 0)
        << QByteArray("t=1709600400 1709604000") << QStringLiteral("06:13:20");
    // Two hours on the wall clock across the spring change are one hour of recording.
    QTest::newRow("Europe/Berlin, spring change")
        << QByteArray("Europe/Berlin") << at(2024, 3, 31, 1, 30) << at(2024, 3, 31, 3, 30)
        << QByteArray("t=1711845000 1711848600")
        << QStringLiteral("2023-11-14 23:13:20");  // the recording ends after midnight there
    QTest::newRow("America/New_York, the day DST ends")
        << QByteArray("America/New_York") << at(2024, 11, 3, 12, 0) << at(2024, 11, 3, 13, 0)
        << QByteArray("t=1730653200 1730656800") << QStringLiteral("17:13:20");
}

void TestPlayback::spanInTheLocalTimeOfOtherZones() {
    QFETCH(QByteArray, zone);
    QFETCH(QDateTime, start);
    QFETCH(QDateTime, end);
    QFETCH(QByteArray, timeLine);
    QFETCH(QString, shownStart);
    const QByteArray saved = qgetenv("TZ");
    const auto restore = qScopeGuard([&] {
        saved.isNull() ? qunsetenv("TZ") : qputenv("TZ", saved);
        tzset();
    });
    qputenv("TZ", zone);
    tzset();
    FormRig rig;
    prepare(rig);
    Ui::MainForm* ui = rig.form()->widgets();
    ui->dateEdit_Start->setDate(start.date());
    ui->timeEdit_Start->setTime(start.time());
    ui->dateEdit_End->setDate(end.date());
    ui->timeEdit_End->setTime(end.time());
    QVERIFY(body(startPlayback(rig)).contains(timeLine + "\r\n"));
    QCOMPARE(ui->lbStartTime->text(), shownStart);
    for (const QLabel* label : {ui->lbStartTime, ui->lbEndTime}) {  // wide enough for it
        QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(label->text()));
    }
}

// Each playback starts at scale 1 with the span its own answer names; spans past 2038 are
// carried whole.
void TestPlayback::eachPlaybackStartsAfresh() {
    FormRig rig;
    prepare(rig);
    ScriptedPlatform& p = rig.platform();
    Ui::MainForm* ui = rig.form()->widgets();
    startPlayback(rig);
    ui->cbxSpeed->setCurrentIndex(3);
    QVERIFY(infoBody(p).contains("Scale:2.0"));
    ui->btnStop->click();
    QCOMPARE(ui->cbxSpeed->currentText(), QStringLiteral("1.0"));

    ui->cbxSpeed->setCurrentIndex(0);  // idle: sends nothing
    ui->dateEdit_Start->setDate(QDate(2040, 1, 1));
    ui->dateEdit_End->setDate(QDate(2040, 1, 2));
    ui->btnPlay->click();
    const QByteArray invite = p.waitFor("INVITE ");
    const qint64 start =
        QDateTime(QDate(2040, 1, 1), ui->timeEdit_Start->time()).toSecsSinceEpoch();
    QVERIFY(body(invite).contains("t=" + QByteArray::number(start) + " "));
    QByteArray noSpan = kPlaybackSdp;
    noSpan.replace("t=1700000000 1700003600\r\n", "");
    p.send(p.reply(invite, "200 OK", QByteArray(), noSpan, "Application/SDP"));
    QVERIFY(!p.waitFor("ACK ").isEmpty());
    QCOMPARE(ui->cbxSpeed->currentText(), QStringLiteral("1.0"));
    QCOMPARE(ui->lbEndTime->text(), QStringLiteral("00:00:00"));
    p.forget();
    ui->horizontalSlider->setValue(50);  // no span: nothing to seek in
    QCOMPARE(p.count("INFO "), 0);
}

// A challenge while playing: one authenticated REGISTER, and the playback goes on; should the
// platform refuse that REGISTER, the playback is ended and the console logged out.
void TestPlayback::challengeDuringPlayback() {
    FormRig rig;
    prepare(rig);
    ScriptedPlatform& p = rig.platform();
    SipSession* session = rig.form()->session();
    const QByteArray invite = startPlayback(rig);
    session->sendKeepalive();
    const QByteArray keepalive = p.waitFor("MESSAGE ");
    p.send(challenge(p, keepalive, "nonce-2"));
    const QByteArray again = p.waitFor("REGISTER ");
    QVERIFY(header(again, "Authorization").contains("nonce=\"nonce-2\""));
    p.send(p.reply(again, "200 OK"));
    QTRY_COMPARE(rig.form()->widgets()->labelStatus->text(),
                 QStringLiteral("登录状态反馈- 200 OK"));
    QCOMPARE(step(rig), int(SipSession::REPLAY_PLAYING));
    rig.form()->widgets()->btnPause->click();
    QCOMPARE(header(p.waitFor("INFO "), "Call-ID"), header(invite, "Call-ID"));
    QCOMPARE(p.count("REGISTER "), 1);

    session->sendKeepalive();
    p.send(challenge(p, p.waitFor("MESSAGE "), "nonce-3"));
    p.send(p.reply(p.waitFor("REGISTER "), "401 Unauthorized"));
    const QByteArray bye = p.waitFor("BYE ");
    QCOMPARE(header(bye, "Call-ID"), header(invite, "Call-ID"));
    QTRY_COMPARE(step(rig), int(SipSession::REG_ONE));
    QVERIFY(!session->loggedIn());
    QCOMPARE(rig.form()->widgets()->labelStatus->text(),
             QStringLiteral("登录状态反馈- 401 Unauthorized"));
}

void TestPlayback::closingEndsWhatIsOpen_data() {
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("playing") << true << QByteArray("BYE");
    QTest::newRow("INVITE answered provisionally") << false << QByteArray("CANCEL");
}

void TestPlayback::closingEndsWhatIsOpen() {
    QFETCH(bool, accepted);
    QFETCH(QByteArray, expected);
    FormRig rig;
    prepare(rig);
    ScriptedPlatform& p = rig.platform();
    QByteArray invite;
    if (accepted) {
        invite = startPlayback(rig);
    } else {
        QSignalSpy handled(rig.form()->session(), &SipSession::datagramHandled);
        rig.form()->widgets()->btnPlay->click();
        invite = p.waitFor("INVITE ");
        p.send(p.reply(invite, "100 Trying"));
        QTRY_COMPARE(handled.count(), 1);
    }
    p.forget();
    rig.closeForm();
    const QByteArray last = p.waitFor(expected + " ");
    QVERIFY(!last.isEmpty());
    QCOMPARE(header(last, "Call-ID"), header(invite, "Call-ID"));
}

QTEST_MAIN(TestPlayback)
#include "tst_playback.moc"
