// The pipeline as the session will drive it: datagrams pushed on the GUI thread at the
// platform's pace, pictures back at their times with the recording time each shows.
#include <QSignalSpy>
#include <QtTest>

#include "EncodedStream.h"
#include "mediapipeline.h"

using namespace mediatest;

namespace {

constexpr qint64 kStart = 1700000000;
constexpr qint64 kStartMs = kStart * 1000;

}  // namespace

class TestPipeline : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void picturesFollowTheStreamAndASeek();
    void pauseHoldsTheLastPicture();
    void stopDropsWhatIsUnderWay();
    void noVideoIsReported();

private:
    // Pushes frames [from, to) as the platform sends them: one frame every 40 ms.
    void feed(video::MediaPipeline& pipeline, int from, int to);

    std::vector<std::vector<QByteArray>> m_frames;  // datagrams of each frame
};

void TestPipeline::initTestCase() {
    const auto encoded = encodeFrames(media::Codec::H264, 320, 240, 50, 25);
    PsOptions o;
    uint16_t seq = 1;
    for (const EncodedFrame& f : encoded) {
        std::vector<QByteArray> datagrams;
        for (const Bytes& d : rtpFrame(psFrame(f.data, f.pts, f.keyframe, o), seq, 0))
            datagrams.push_back(QByteArray(reinterpret_cast<const char*>(d.data()), int(d.size())));
        m_frames.push_back(datagrams);
    }
    QCOMPARE(int(m_frames.size()), 50);
    QVERIFY(video::MediaPipeline::isMediaDatagram(m_frames[0][0]));
    QVERIFY(!video::MediaPipeline::isMediaDatagram(QByteArray("SIP/2.0 200 OK\r\n")));
}

void TestPipeline::feed(video::MediaPipeline& pipeline, int from, int to) {
    for (int i = from; i < to; ++i) {
        for (const QByteArray& d : m_frames[size_t(i)])
            QVERIFY(pipeline.pushDatagram(d));
        QTest::qWait(40);
    }
}

void TestPipeline::picturesFollowTheStreamAndASeek() {
    video::MediaPipeline pipeline;
    QSignalSpy shown(&pipeline, &video::MediaPipeline::frameShown);
    pipeline.setTargetSize(QSize(160, 160));
    pipeline.start(kStart);
    feed(pipeline, 0, 25);
    QTRY_VERIFY(pipeline.shownRecordingMs() >= kStartMs + 20 * 40);
    QVERIFY(pipeline.shownRecordingMs() <= kStartMs + 24 * 40);
    QVERIFY2(shown.count() >= 15, qPrintable(QString::number(shown.count())));
    QCOMPARE(qvariant_cast<QImage>(shown.last().at(0)).size(), QSize(160, 120));
    QCOMPARE(shown.last().at(1).toLongLong(), pipeline.shownRecordingMs());
    QCOMPARE(pipeline.framesShown(), quint64(shown.count()));

    // Frame 25 is a keyframe: the first frame of the new position.
    pipeline.seekSent(1800);
    feed(pipeline, 25, 50);
    QTRY_VERIFY(pipeline.shownRecordingMs() >= kStartMs + 1800000 + 20 * 40);
    QVERIFY(pipeline.shownRecordingMs() <= kStartMs + 1800000 + 24 * 40);
    QCOMPARE(pipeline.counters().decodeErrors, quint64(0));
}

void TestPipeline::pauseHoldsTheLastPicture() {
    video::MediaPipeline pipeline;
    pipeline.start(kStart);
    feed(pipeline, 0, 10);
    QTRY_VERIFY(pipeline.framesShown() > 0);
    pipeline.setPaused(true);
    const quint64 before = pipeline.framesShown();
    const qint64 shownMs = pipeline.shownRecordingMs();
    feed(pipeline, 10, 15);  // still under way when the pause went out
    QTest::qWait(200);
    QCOMPARE(pipeline.framesShown(), before);
    QCOMPARE(pipeline.shownRecordingMs(), shownMs);
    pipeline.setPaused(false);
    feed(pipeline, 15, 20);
    QTRY_VERIFY(pipeline.shownRecordingMs() > shownMs);
}

void TestPipeline::stopDropsWhatIsUnderWay() {
    video::MediaPipeline pipeline;
    QSignalSpy shown(&pipeline, &video::MediaPipeline::frameShown);
    pipeline.start(kStart);
    for (int i = 0; i < 10; ++i) {
        for (const QByteArray& d : m_frames[size_t(i)])
            pipeline.pushDatagram(d);
    }
    pipeline.stop();
    QVERIFY(!pipeline.pushDatagram(m_frames[10][0]));
    const int count = shown.count();
    QTest::qWait(300);
    QCOMPARE(shown.count(), count);

    // The next playback starts from nothing.
    pipeline.start(kStart + 60);
    feed(pipeline, 0, 5);
    QTRY_VERIFY(pipeline.framesShown() > 0);
    QVERIFY(pipeline.shownRecordingMs() >= (kStart + 60) * 1000);
}

void TestPipeline::noVideoIsReported() {
    video::MediaPipeline pipeline;
    QSignalSpy noVideo(&pipeline, &video::MediaPipeline::noVideo);
    pipeline.start(kStart);
    QVERIFY(pipeline.pushDatagram(QByteArray("\x80\x60\x00\x01garbage-that-is-no-stream", 29)));
    QTRY_COMPARE_WITH_TIMEOUT(noVideo.count(), 1, video::MediaPipeline::kNoVideoMs + 1000);
    QCOMPARE(pipeline.framesShown(), quint64(0));
}

QTEST_GUILESS_MAIN(TestPipeline)
#include "tst_pipeline.moc"
