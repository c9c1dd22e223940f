// The playback dialog driven from the form's controls, against a scripted platform: the state
// table with pause, resume, speed, seek, stop, the platform's end-of-record notice and BYE.
#include <QDateTime>
#include <QSignalSpy>
#include <QtTest>

#include "formtestkit.h"
#include "mainform.h"
#include "sipsession.h"
#include "ui_mainform.h"

using namespace kit;

namespace {

const QByteArray kSdp =
    "v=0\r\no=01552403048401000001 0 0 IN IP4 127.0.0.1\r\ns=Playback\r\n"
    "c=IN IP4 127.0.0.1\r\nt=1700000000 1700003600\r\nm=video 6000 RTP/AVP 96\r\n"
    "a=sendonly\r\na=rtpmap:96 PS/90000\r\n";

const QByteArray kMediaStatus =
    "<?xml version=\"1.0\"?>\r\n<Notify>\r\n<CmdType>MediaStatus</CmdType>\r\n<SN>8</SN>\r\n"
    "<DeviceID>01552403048401000001</DeviceID>\r\n<NotifyType>121</NotifyType>\r\n</Notify>\r\n";

int step(const FormRig& rig) {
    return rig.form()->sipStep();
}

// Logged in, train 1, car 1 selected (one camera).
void prepare(FormRig& rig) {
    QVERIFY(rig.logInAndSubscribe());
    Ui::MainForm* ui = rig.form()->widgets();
    ui->cbxStation->setCurrentIndex(0);
    ui->cbxzone1->setCurrentIndex(0);
    ui->cbxzone2->setCurrentIndex(1);
    QCOMPARE(ui->cbxCamera->count(), 1);
    rig.platform().forget();
}

// Play, the platform accepts; returns the INVITE.
QByteArray startPlayback(FormRig& rig) {
    ScriptedPlatform& p = rig.platform();
    rig.form()->widgets()->btnPlay->click();
    const QByteArray invite = p.waitFor("INVITE ");
    if (invite.isEmpty()) {
        return invite;
    }
    p.send(p.reply(invite, "200 OK", QByteArray(), kSdp, "APPLICATION/SDP"));
    p.waitFor("ACK ");
    return invite;
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

QTEST_MAIN(TestPlayback)
#include "tst_playback.moc"
