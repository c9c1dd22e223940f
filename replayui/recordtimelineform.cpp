// The recordings of the chosen camera and span on the slider, and what a Play makes of them: a
// span with no recording at all is refused, one that starts in a gap plays from its first
// recording, and one whose recordings are not known plays as chosen.
#include <QDateTime>
#include <QPointer>
#include <algorithm>

#include "Logger.h"
#include "mainform.h"
#include "playbackview.h"
#include "playbackmath.h"
#include "sipsession.h"
#include "ui_mainform.h"

namespace {

QByteArray localText(int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds)
        .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
        .toLatin1();
}

}  // namespace

void MainForm::initRecordTimeline() {
    m_recordFlow = new RecordQueryFlow(m_session, m_log.get(), this);
    const auto edited = [this] { onChoiceEdited(); };
    connect(ui->cbxCamera, QOverload<int>::of(&QComboBox::currentIndexChanged), this, edited);
    connect(ui->dateEdit_Start, &QDateEdit::dateChanged, this, edited);
    connect(ui->dateEdit_End, &QDateEdit::dateChanged, this, edited);
    connect(ui->timeEdit_Start, &QTimeEdit::timeChanged, this, edited);
    connect(ui->timeEdit_End, &QTimeEdit::timeChanged, this, edited);
    connect(m_recordFlow, &RecordQueryFlow::timelineChanged, this, &MainForm::showChosenTimeline);
    // Queued: a Play that waited may open a notice, which must not run inside the receive pass.
    connect(m_recordFlow, &RecordQueryFlow::settled, this, &MainForm::onRecordsSettled,
            Qt::QueuedConnection);
    onChoiceEdited();
}

RecordQueryFlow::Choice MainForm::chosenRecords() const {
    RecordQueryFlow::Choice choice;
    const int index = ui->cbxCamera->currentIndex();
    if (index >= 0 && index < m_currentCameras.size()) {
        choice.camera = m_currentCameras[index].code;
    }
    choice.start = playback::toEpoch(ui->dateEdit_Start->date(), ui->timeEdit_Start->time());
    choice.end = playback::toEpoch(ui->dateEdit_End->date(), ui->timeEdit_End->time());
    return choice;
}

void MainForm::onChoiceEdited() {
    m_recordFlow->choose(chosenRecords());
}

void MainForm::showChosenTimeline() {
    if (m_session->step() >= SipSession::REPLAY_ENDING) {
        return;  // the slider stands for the recording being played
    }
    ui->horizontalSlider->setTimeline(m_recordFlow->timeline());
}

// While playing, the slider's ends are those of the platform's answer, which may be less than
// the span asked for; the recordings known of the span are cut to them.
void MainForm::showPlayedTimeline() {
    const CCTVCAR& codec = m_session->codec();
    const int64_t start = codec.recordStart();
    const int64_t end = codec.recordEnd();
    const auto& pieces = m_playedRecords.pieces();
    const bool within =
        !pieces.empty() && start >= pieces.front().start && end <= pieces.back().end && start < end;
    if (!within) {
        ui->horizontalSlider->setTimeline(recordquery::Timeline());
        return;
    }
    std::vector<recordquery::Segment> recorded;
    for (const recordquery::TimelinePiece& p : pieces) {
        if (p.recorded) {
            recorded.push_back({p.start, p.end});
        }
    }
    ui->horizontalSlider->setTimeline(recordquery::Timeline::of(start, end, std::move(recorded)));
}

// Pressed again while it waits, Play looks again: the answer may be known by now.
void MainForm::playRecorded(int64_t start, int64_t end, int cameraIndex) {
    const QByteArray& camera = m_currentCameras[cameraIndex].code;
    RecordQueryFlow::Choice choice;
    choice.camera = camera;
    choice.start = start;
    choice.end = end;
    m_playWaitsForRecords = false;
    switch (m_recordFlow->readinessForPlay(choice)) {
        case RecordQueryFlow::Readiness::Waiting:
            m_playWaitsForRecords = true;
            m_playChoice = choice;
            m_log->printTime3("[Play] waits for the record list of %s", camera.constData());
            return;
        case RecordQueryFlow::Readiness::Unknown:
            m_playedRecords = recordquery::Timeline();
            inviteCamera(start, end, cameraIndex);
            return;
        case RecordQueryFlow::Readiness::Known:
            break;
    }
    m_playedRecords = m_recordFlow->timeline();
    const std::optional<int64_t> first = m_playedRecords.firstRecordedInstant();
    if (!first.has_value()) {
        m_log->printTime3("[Play] nothing of %s is recorded from %s to %s: no INVITE",
                          camera.constData(), localText(start).constData(),
                          localText(end).constData());
        showNotice(QStringLiteral("所选时段内没有录像！"));
        return;  // the form may be gone: nothing follows
    }
    if (*first > start) {
        m_log->printTime3("[Play] the span starts in a gap; played from %s",
                          localText(*first).constData());
    }
    inviteCamera(std::max(start, *first), end, cameraIndex);
}

void MainForm::inviteCamera(int64_t start, int64_t end, int cameraIndex) {
    const selection::CameraEntry& camera = m_currentCameras[cameraIndex];
    if (m_session->doReplayInvite(start, end, camera.code)) {
        m_playbackView->inviteSent(cameraIndex, camera, start);
    }
}

// The record list Play waited for is known now, or will not come: Play goes on from the start,
// with everything checked again, unless the operator has chosen something else meanwhile. (The
// camera list rebuilt by a catalogue page changes the choice only for a moment.)
void MainForm::onRecordsSettled() {
    if (!m_playWaitsForRecords) {
        return;
    }
    m_playWaitsForRecords = false;
    if (chosenRecords() != m_playChoice) {
        m_log->printTime3("[Play] the choice changed while Play waited for the record list");
        return;
    }
    on_btnPlay_clicked();
}
