#pragma once
// The media path of a playback: RTP datagrams in, pictures out at their presentation time with
// the recording time each shows.
//
// Threads: every public function and every signal belongs to the thread that owns the pipeline
// (the GUI thread), except pushDatagram, which any one thread may call. It only queues the
// datagram; reading, demultiplexing and decoding
// run on one thread of the pipeline's own, scaling on another, and the owning thread merely
// schedules the finished pictures and emits them. Every queue between them is bounded.
#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QTimer>

#include <atomic>
#include <memory>

#include "presentationscheduler.h"

class Logger;

namespace video {

class MediaWorker;

class MediaPipeline : public QObject {
    Q_OBJECT
public:
    // How long after start() a playback may go without a picture before noVideo().
    static constexpr int kNoVideoMs = 3000;

    struct Counters {
        quint64 datagrams = 0;    // taken by pushDatagram
        quint64 refused = 0;      // dropped because the worker's queue was full
        quint64 lostPackets = 0;  // RTP packets that never came
        quint64 frames = 0;       // frames out of the demultiplexer
        quint64 decodeErrors = 0;
        quint64 pictures = 0;  // pictures decoded and scaled
        quint64 shown = 0;     // pictures emitted by frameShown
        quint64 late = 0;      // pictures dropped by the schedule
    };

    // `log` may be null; it must outlive the pipeline. `decoderThreads`: libavcodec's frame
    // threads (1: decoding stays on the reading thread, which adds no frame of delay).
    explicit MediaPipeline(Logger* log = nullptr, QObject* parent = nullptr,
                           int decoderThreads = 1);
    ~MediaPipeline() override;

    // A playback dialog was answered (call it once per dialog): everything of an earlier one is
    // dropped, the recording times count from `spanStartSeconds` (seconds since 1970), the scale
    // is 1 and not paused, and the noVideo watch starts.
    void start(qint64 spanStartSeconds);
    // The dialog ended: queued datagrams and pictures are dropped; the picture shown stays
    // where it is until its owner clears it.
    void stop();
    bool isActive() const { return m_active; }

    // One datagram the session accepted as media. Cheap: the bytes are shared, not copied.
    // False when no playback is active or the worker is too far behind (the datagram is dropped).
    // The one function that may be called from a thread other than the owner's.
    bool pushDatagram(const QByteArray& datagram);
    // A "Range: npt=N-" went out; call it in the same order as the datagrams around it.
    void seekSent(qint64 offsetSeconds);
    void setScale(double scale);
    // Paused: no further picture is emitted, so the last one stays on screen.
    void setPaused(bool paused);
    // The box pictures are scaled into (the label's contents size).
    void setTargetSize(const QSize& size);

    quint64 framesShown() const { return m_framesShown; }
    // Recording time of the picture last emitted, ms since 1970 (UTC); -1 before the first.
    qint64 shownRecordingMs() const { return m_shownMs; }
    Counters counters() const;

    // First byte 0x80-0xBF and an RTP version 2 header: what the shared SIP socket hands here.
    static bool isMediaDatagram(const QByteArray& datagram);

signals:
    // At the picture's presentation time.
    void frameShown(const QImage& picture, qint64 recordingMs);
    // kNoVideoMs after start() without a picture.
    void noVideo();

private:
    struct Shown {
        QImage picture;
        qint64 recordingMs = 0;
    };

    void takePictures();
    void present();
    static qint64 nowUs();

    Logger* m_log;
    std::unique_ptr<MediaWorker> m_worker;
    media::PresentationScheduler<Shown> m_scheduler;
    QTimer m_presentTimer;
    QTimer m_noVideoTimer;
    quint32 m_generation = 0;
    std::atomic<bool> m_active{false};
    std::atomic<bool> m_refusedNoted{false};
    quint64 m_framesShown = 0;
    qint64 m_shownMs = -1;
};

}  // namespace video
