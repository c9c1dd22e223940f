#include "mediapipeline.h"

#include <chrono>

#include "Logger.h"
#include "mediaworker.h"
#include "rtpreader.h"

namespace video {

MediaPipeline::MediaPipeline(Logger* log, QObject* parent, int decoderThreads)
    : QObject(parent), m_log(log) {
    m_presentTimer.setSingleShot(true);
    m_presentTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_presentTimer, &QTimer::timeout, this, &MediaPipeline::present);
    m_noVideoTimer.setSingleShot(true);
    m_noVideoTimer.setInterval(kNoVideoMs);
    connect(&m_noVideoTimer, &QTimer::timeout, this, [this] {
        if (m_active && m_framesShown == 0) {
            if (m_log)
                m_log->printTime2("[media] no video within %d ms of the answer", kNoVideoMs);
            emit noVideo();
        }
    });
    // The worker calls this on its own thread; the pictures are taken on ours.
    m_worker = std::make_unique<MediaWorker>(log, decoderThreads, [this] {
        QMetaObject::invokeMethod(this, &MediaPipeline::takePictures, Qt::QueuedConnection);
    });
}

MediaPipeline::~MediaPipeline() {
    m_worker.reset();  // joins the worker before the members it calls back into go
}

bool MediaPipeline::isMediaDatagram(const QByteArray& datagram) {
    return media::isRtpDatagram(reinterpret_cast<const uint8_t*>(datagram.constData()),
                                size_t(datagram.size()));
}

void MediaPipeline::start(qint64 spanStartSeconds) {
    ++m_generation;
    m_active = true;
    m_framesShown = 0;
    m_shownMs = -1;
    m_refusedNoted = false;
    m_scheduler.clear();
    m_scheduler.setPaused(false, nowUs());
    m_scheduler.setScale(1.0, nowUs());  // a new dialog plays at normal speed
    m_presentTimer.stop();
    m_worker->start(m_generation, spanStartSeconds);
    m_noVideoTimer.start();
}

void MediaPipeline::stop() {
    if (!m_active)
        return;
    ++m_generation;
    m_active = false;
    m_worker->stop(m_generation);
    m_scheduler.clear();
    m_presentTimer.stop();
    m_noVideoTimer.stop();
}

bool MediaPipeline::pushDatagram(const QByteArray& datagram) {
    if (!m_active)
        return false;
    if (m_worker->pushDatagram(datagram))
        return true;
    if (!m_refusedNoted.exchange(true) && m_log)
        m_log->printTime2("[media] the decoder is behind: datagrams are dropped");
    return false;
}

void MediaPipeline::seekSent(qint64 offsetSeconds) {
    if (m_active)
        m_worker->seekSent(offsetSeconds);
}

void MediaPipeline::setScale(double scale) {
    m_scheduler.setScale(scale, nowUs());
    present();
}

void MediaPipeline::setPaused(bool paused) {
    m_scheduler.setPaused(paused, nowUs());
    present();
}

void MediaPipeline::setTargetSize(const QSize& size) {
    m_worker->setTargetSize(size);
}

MediaPipeline::Counters MediaPipeline::counters() const {
    const WorkerCounters& w = m_worker->counters();
    const auto& s = m_scheduler.stats();
    Counters c;
    c.datagrams = w.datagrams.load();
    c.refused = w.refused.load();
    c.lostPackets = w.lostPackets.load();
    c.frames = w.frames.load();
    c.decodeErrors = w.decodeErrors.load();
    c.pictures = w.pictures.load();
    c.shown = s.shown;
    c.late = s.late;
    return c;
}

void MediaPipeline::takePictures() {
    const qint64 now = nowUs();
    for (WorkerPicture& picture : m_worker->takePictures()) {
        if (picture.generation != m_generation || !m_active)
            continue;  // of a playback that has ended
        Shown shown{std::move(picture.picture), picture.recordingMs};
        m_scheduler.push(std::move(shown), picture.mediaUs, picture.epoch, now);
    }
    present();
}

void MediaPipeline::present() {
    const qint64 now = nowUs();
    Shown shown;
    if (m_scheduler.take(now, shown)) {
        ++m_framesShown;
        m_shownMs = shown.recordingMs;
        m_noVideoTimer.stop();
        emit frameShown(shown.picture, shown.recordingMs);
    }
    const qint64 due = m_scheduler.nextDueUs();
    if (due < 0) {
        m_presentTimer.stop();
        return;
    }
    const qint64 waitMs = due <= now ? 0 : (due - now + 999) / 1000;
    m_presentTimer.start(int(waitMs));
}

qint64 MediaPipeline::nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace video
