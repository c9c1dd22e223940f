// What the screen label shows of a playback, with a scripted platform streaming real H.264 to
// the SIP port: media only from the platform or its answer's media address and only while the
// dialog is open; the label names the camera, says when no video comes and shows its text again
// at the end; the slider follows the picture without a seek going out.
#include <QtTest>

#include "EncodedStream.h"
#include "formtestkit.h"
#include "mainform.h"
#include "myscreenlabel.h"
#include "sipsession.h"
#include "ui_mainform.h"

using namespace kit;

namespace {

constexpr qint64 kSpanStartMs = 1700000000LL * 1000;
const QString kNoVideo = QStringLiteral("3秒内未收到视频");

QByteArray answerSdp(const QByteArray& mediaAddress, int durationSeconds) {
    return "v=0\r\no=01552403048401000001 0 0 IN IP4 127.0.0.1\r\ns=Playback\r\nc=IN IP4 " +
           mediaAddress + "\r\nt=1700000000 " + QByteArray::number(1700000000 + durationSeconds) +
           "\r\nm=video 6000 RTP/AVP 96\r\na=sendonly\r\na=rtpmap:96 PS/90000\r\n";
}

}  // namespace

class TestMedia : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void mediaOnlyFromThePlatformOrItsMediaAddress_data();
    void mediaOnlyFromThePlatformOrItsMediaAddress();
    void noVideoIsSaidAndTakenBack();
    void sliderFollowsWithoutSeeking();

private:
    // Play, and the platform answers with this SDP.
    void play(FormRig& rig, const QByteArray& sdp);
    // Frames [from, to) from `socket` to the form, one every 40 ms as a platform sends them.
    void stream(QUdpSocket& socket, quint16 formPort, int from, int to);

    std::vector<std::vector<QByteArray>> m_frames;  // the datagrams of each frame
};

void TestMedia::initTestCase() {
    const auto encoded = mediatest::encodeFrames(media::Codec::H264, 320, 240, 50, 25);
    uint16_t seq = 1;
    for (const mediatest::EncodedFrame& f : encoded) {
        std::vector<QByteArray> datagrams;
        const auto ps = mediatest::psFrame(f.data, f.pts, f.keyframe);
        for (const auto& d : mediatest::rtpFrame(ps, seq, uint32_t(f.pts)))
            datagrams.emplace_back(reinterpret_cast<const char*>(d.data()), int(d.size()));
        m_frames.push_back(datagrams);
    }
    QCOMPARE(int(m_frames.size()), 50);
}

void TestMedia::play(FormRig& rig, const QByteArray& sdp) {
    ScriptedPlatform& p = rig.platform();
    rig.form()->widgets()->btnPlay->click();
    const QByteArray invite = p.waitFor("INVITE ");
    QVERIFY(!invite.isEmpty());
    p.send(p.reply(invite, "200 OK", QByteArray(), sdp, "APPLICATION/SDP"));
    QVERIFY(!p.waitFor("ACK ").isEmpty());
}

void TestMedia::stream(QUdpSocket& socket, quint16 formPort, int from, int to) {
    for (int i = from; i < to; ++i) {
        for (const QByteArray& d : m_frames[size_t(i)])
            socket.writeDatagram(d, QHostAddress::LocalHost, formPort);
        QTest::qWait(40);
    }
}

void TestMedia::mediaOnlyFromThePlatformOrItsMediaAddress_data() {
    QTest::addColumn<QString>("mediaAddress");  // the answer's c= line
    QTest::addColumn<bool>("platformStreamsFirst");
    QTest::addColumn<QString>("sender");  // "": the platform's own socket
    QTest::addColumn<bool>("shown");      // the sender's pictures
    QTest::newRow("platform") << "127.0.0.1" << false << "" << true;
    QTest::newRow("answer's media address") << "127.0.0.3" << false << "127.0.0.3" << true;
    QTest::newRow("third address") << "127.0.0.1" << true << "127.0.0.2" << false;
}

void TestMedia::mediaOnlyFromThePlatformOrItsMediaAddress() {
    QFETCH(QString, mediaAddress);
    QFETCH(bool, platformStreamsFirst);
    QFETCH(QString, sender);
    QFETCH(bool, shown);
    FormRig rig;
    QVERIFY(rig.readyToPlay());
    MainForm* form = rig.form();
    MyScreenLabel* label = form->screenLabel();
    QUdpSocket other;
    QVERIFY(sender.isEmpty() || other.bind(QHostAddress(sender), 0));
    QUdpSocket& from = sender.isEmpty() ? rig.platform().socket() : other;

    play(rig, answerSdp(mediaAddress.toLatin1(), 3600));
    QVERIFY(label->text().contains(QString::fromLatin1(trainCameraId(1, 1, 1, 1))));
    QVERIFY(!label->hasFrame());
    if (platformStreamsFirst) {
        stream(rig.platform().socket(), rig.formPort(), 0, 25);
        QTRY_VERIFY(form->framesShown() > 0);
    }
    // The sender's frames go on from the platform's: the stream would take them.
    const int first = platformStreamsFirst ? 25 : 0;
    QTest::qWait(200);
    const quint64 before = form->framesShown();
    const qint64 shownBefore = form->shownRecordingMs();
    stream(from, rig.formPort(), first, first + 25);
    QTest::qWait(300);
    if (shown) {
        QVERIFY(form->framesShown() > before + 10);
        QVERIFY(label->hasFrame());
        QVERIFY(label->overlayText().startsWith(
            QStringLiteral("摄像机A  ") +
            QDateTime::fromMSecsSinceEpoch(kSpanStartMs).toString("yyyy-MM-dd HH:mm:")));
    } else {
        QCOMPARE(form->framesShown(), before);
        QCOMPARE(form->shownRecordingMs(), shownBefore);
        QCOMPARE(form->session()->reportedStrangers(), 0);  // media has lines of its own
    }

    // The dialog ends: the label shows its text again, and what still comes is dropped.
    form->widgets()->btnStop->click();
    QVERIFY(!rig.platform().waitFor("BYE ").isEmpty());
    QVERIFY(!label->hasFrame());
    QCOMPARE(form->shownRecordingMs(), qint64(-1));
    const quint64 atStop = form->framesShown();
    stream(from, rig.formPort(), 45, 50);
    QTest::qWait(200);
    QCOMPARE(form->framesShown(), atStop);
    QVERIFY(!label->hasFrame());
}

void TestMedia::noVideoIsSaidAndTakenBack() {
    FormRig rig;
    QVERIFY(rig.readyToPlay());
    MyScreenLabel* label = rig.form()->screenLabel();
    play(rig, answerSdp("127.0.0.1", 3600));
    const QString named = label->text();
    QVERIFY(named.contains(QString::fromLatin1(trainCameraId(1, 1, 1, 1))));
    QTRY_VERIFY_WITH_TIMEOUT(label->text().contains(kNoVideo), 4500);
    QVERIFY(label->text().startsWith(named));
    rig.form()->widgets()->btnStop->click();
    QCOMPARE(label->text(), named);
}

void TestMedia::sliderFollowsWithoutSeeking() {
    FormRig rig;
    QVERIFY(rig.readyToPlay());
    QSlider* slider = rig.form()->widgets()->horizontalSlider;
    play(rig, answerSdp("127.0.0.1", 2));  // 2 s: frame 25 is half way
    stream(rig.platform().socket(), rig.formPort(), 0, 30);
    QTRY_VERIFY_WITH_TIMEOUT(slider->value() >= 50, 2500);
    QCOMPARE(rig.platform().count("INFO "), 0);

    // Paused, the picture stays on the label, whatever still comes.
    rig.form()->widgets()->btnPause->click();
    QVERIFY(!rig.platform().waitFor("INFO ").isEmpty());
    const qint64 pausedAt = rig.form()->shownRecordingMs();
    stream(rig.platform().socket(), rig.formPort(), 30, 40);
    QTest::qWait(200);
    QCOMPARE(rig.form()->shownRecordingMs(), pausedAt);
    QVERIFY(rig.form()->screenLabel()->hasFrame());
}

QTEST_MAIN(TestMedia)
#include "tst_media.moc"
