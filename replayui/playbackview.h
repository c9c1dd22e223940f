#pragma once
// What the screen label shows of a playback. The dialog's RTP goes through a media pipeline
// that the dialog steers (its answer starts it, each INFO pauses, resumes, scales or seeks it,
// its end stops it); the label names the camera, shows the pictures with their recording time,
// says so when no video comes, and the slider follows the recording time shown.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "cameraselection.h"

class Logger;
class MyScreenLabel;
class QAbstractSlider;
class SipSession;

namespace video {
class MediaPipeline;
}

class PlaybackView : public QObject {
    Q_OBJECT
public:
    // How often the slider follows the picture.
    static constexpr int kFollowMs = 1000;

    // `log` must outlive the view (the pipeline's threads write to it until it is deleted).
    PlaybackView(SipSession* session, MyScreenLabel* label, QAbstractSlider* slider, Logger* log,
                 QObject* parent);
    ~PlaybackView() override;

    // The INVITE asked for this camera (its place in the camera list) from this span start
    // (seconds since 1970): what the label names and where the times count from when the answer
    // names no span of its own.
    void inviteSent(int cameraIndex, const selection::CameraEntry& camera, qint64 spanStartSeconds);

    // Recording time of the picture on the label, ms since 1970; -1 while it shows no picture.
    qint64 shownRecordingMs() const;
    // Pictures shown since the playback began.
    quint64 framesShown() const;
    video::MediaPipeline* pipeline() const { return m_pipeline; }

private:
    void onInviteAnswered();
    void onControlSent(int kind, const QByteArray& scale, int seekSeconds);
    void onPlaybackClosed();
    void onNoVideo();
    void followSlider();
    bool waitingForSeek(qint64 shownMs);
    void nameCamera();

    SipSession* m_session;
    MyScreenLabel* m_label;
    QAbstractSlider* m_slider;
    video::MediaPipeline* m_pipeline;
    QTimer m_follow;
    int m_cameraIndex = -1;
    selection::CameraEntry m_camera;
    qint64 m_askedStart = 0;
    qint64 m_seekTargetMs = -1;  // a seek went out and its pictures have not come yet
    QElapsedTimer m_sinceSeek;
};
