#include "playbackview.h"

#include <QAbstractSlider>
#include <QCoreApplication>
#include <QSignalBlocker>
#include <algorithm>

#include "mainform.h"
#include "mediapipeline.h"
#include "myscreenlabel.h"
#include "sipsession.h"

namespace {

// After a seek the pictures of the old position may still show for a moment; the slider waits
// for the new one, or this long should it never come.
constexpr qint64 kSeekSettleMs = 3000;
// A picture this close to a seek's target is of the new position.
constexpr qint64 kSeekNearBeforeMs = 2000;
constexpr qint64 kSeekNearAfterMs = 30000;

}  // namespace

PlaybackView::PlaybackView(SipSession* session, MyScreenLabel* label, QAbstractSlider* slider,
                           Logger* log, QObject* parent)
    : QObject(parent),
      m_session(session),
      m_label(label),
      m_slider(slider),
      m_pipeline(new video::MediaPipeline(log, this)) {
    m_follow.setInterval(kFollowMs);
    connect(&m_follow, &QTimer::timeout, this, &PlaybackView::followSlider);
    connect(m_pipeline, &video::MediaPipeline::frameShown, m_label, &MyScreenLabel::showFrame);
    connect(m_pipeline, &video::MediaPipeline::noVideo, this, &PlaybackView::onNoVideo);
    connect(m_session, &SipSession::inviteAnswered, this, &PlaybackView::onInviteAnswered);
    connect(m_session, &SipSession::playbackControlSent, this, &PlaybackView::onControlSent);
    connect(m_session, &SipSession::playbackClosed, this, &PlaybackView::onPlaybackClosed);
    video::MediaPipeline* pipeline = m_pipeline;
    m_session->setMediaSink(
        [pipeline](const QByteArray& datagram) { pipeline->pushDatagram(datagram); });
}

PlaybackView::~PlaybackView() {
    m_session->setMediaSink(nullptr);
}

void PlaybackView::inviteSent(int cameraIndex, const selection::CameraEntry& camera,
                              qint64 spanStartSeconds) {
    m_cameraIndex = cameraIndex;
    m_camera = camera;
    m_askedStart = spanStartSeconds;
}

qint64 PlaybackView::shownRecordingMs() const {
    return m_label->hasFrame() ? m_pipeline->shownRecordingMs() : -1;
}

quint64 PlaybackView::framesShown() const {
    return m_pipeline->framesShown();
}

// Times count from the span the platform answered (it may have clipped the one asked for); the
// seek offsets the slider sends count from there too.
void PlaybackView::onInviteAnswered() {
    const qint64 answered = m_session->codec().recordStart();
    nameCamera();
    m_label->clearFrame();
    m_seekTargetMs = -1;
    m_pipeline->setTargetSize(m_label->contentsRect().size());
    m_pipeline->start(answered > 0 ? answered : m_askedStart);
    m_follow.start();
}

// Every request but PAUSE is a MANSRTSP PLAY, which also ends a pause.
void PlaybackView::onControlSent(int kind, const QByteArray& scale, int seekSeconds) {
    if (!m_pipeline->isActive()) {
        return;
    }
    m_pipeline->setPaused(kind == SipSession::CtrlPause);
    if (kind == SipSession::CtrlSpeed) {
        bool ok = false;
        const double value = scale.toDouble(&ok);
        if (ok && value > 0) {
            m_pipeline->setScale(value);
        }
    } else if (kind == SipSession::CtrlSeek && seekSeconds >= 0) {
        m_pipeline->seekSent(seekSeconds);
        m_seekTargetMs = (m_session->codec().recordStart() + seekSeconds) * 1000;
        m_sinceSeek.start();
    }
}

void PlaybackView::onPlaybackClosed() {
    m_follow.stop();
    m_pipeline->stop();
    m_label->clearFrame();
    if (m_cameraIndex >= 0) {
        nameCamera();  // also takes back a no-video notice
    }
}

void PlaybackView::onNoVideo() {
    const QString notice = QCoreApplication::translate("MainForm", "3秒内未收到视频", nullptr);
    const QString named = m_label->text();
    m_label->setText(named.isEmpty() ? notice : QStringLiteral("%1\n\n%2").arg(named, notice));
}

void PlaybackView::nameCamera() {
    ScreenCamera entry{};
    selection::copyField(entry.cameraCode, m_camera.code);
    selection::copyField(entry.cameraName, m_camera.name);
    m_label->setCameraEntry(entry);
    m_label->setCamera(m_cameraIndex, QString::fromLatin1(m_camera.code));
}

// The slider shows where the picture is; with its signals blocked, so that no seek goes out. A
// drag in progress is the operator's.
void PlaybackView::followSlider() {
    const qint64 shownMs = shownRecordingMs();
    const CCTVCAR& codec = m_session->codec();
    const qint64 durationMs = codec.recordDuration() * 1000;
    if (shownMs < 0 || durationMs <= 0 || m_slider->isSliderDown() || waitingForSeek(shownMs)) {
        return;
    }
    const qint64 offsetMs = shownMs - codec.recordStart() * 1000;
    const int value = int(
        std::clamp<qint64>(offsetMs * 100 / durationMs, m_slider->minimum(), m_slider->maximum()));
    if (value != m_slider->value()) {
        const QSignalBlocker block(m_slider);
        m_slider->setValue(value);
    }
}

bool PlaybackView::waitingForSeek(qint64 shownMs) {
    if (m_seekTargetMs < 0) {
        return false;
    }
    const bool arrived = shownMs >= m_seekTargetMs - kSeekNearBeforeMs &&
                         shownMs <= m_seekTargetMs + kSeekNearAfterMs;
    if (arrived || m_sinceSeek.elapsed() >= kSeekSettleMs) {
        m_seekTargetMs = -1;
        return false;
    }
    return true;
}

// ---- the form's view of it, for the host's scripts ----------------------------------------

qint64 MainForm::shownRecordingMs() const {
    return m_playbackView != nullptr ? m_playbackView->shownRecordingMs() : -1;
}

quint64 MainForm::framesShown() const {
    return m_playbackView != nullptr ? m_playbackView->framesShown() : 0;
}
