#pragma once
// Asks the platform which recordings of the chosen camera lie in the chosen span: a moment after
// the operator's last change of camera or span, and at once when Play needs the answer. The
// pages of the answer are assembled into the span's timeline; pages of an earlier query are told
// apart by their SN and ignored. Without an answer in time the timeline stays unknown, which is
// not the same as empty: Play then goes ahead unchecked.
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <cstdint>

#include "recordtimeline.h"

class Logger;
class QTimer;
class SipSession;

class RecordQueryFlow : public QObject {
    Q_OBJECT
public:
    // A camera and a span (seconds since the epoch) the operator has chosen.
    struct Choice {
        QByteArray camera;
        int64_t start = 0, end = 0;
        bool askable() const { return !camera.isEmpty() && start < end; }
        bool operator==(const Choice& o) const {
            return camera == o.camera && start == o.start && end == o.end;
        }
        bool operator!=(const Choice& o) const { return !(*this == o); }
    };
    // What Play may rely on: the timeline of its choice (Known), an answer on its way (Waiting;
    // settled() follows), or nothing (Unknown: not asked, not answered, refused).
    enum class Readiness { Known, Waiting, Unknown };

    RecordQueryFlow(SipSession* session, Logger* log, QObject* parent);

    // The operator changed the camera or the span (or left it as it was).
    void choose(const Choice& choice);
    // For a Play of the choice: asks at once (without the delay) when the answer is missing or
    // older than a minute.
    Readiness readinessForPlay(const Choice& choice);
    // The timeline of the current choice; unknown until its answer is complete.
    const recordquery::Timeline& timeline() const;

signals:
    // timeline() changed: known, or unknown again.
    void timelineChanged();
    // The last query came to an end, answered or not (its choice may be another by now).
    void settled();

private:
    enum class State { Idle, Waiting, Known, Absent };

    void askWhenDue();
    bool ask();
    void onPage();
    void onQueryAnswered(const QByteArray& callId, int status);
    void onLoggedIn(bool loggedIn);
    void onDeadline();
    void finish(State state, const char* why);
    void logNotes(const manscdp::Notes& notes);

    SipSession* m_session;
    Logger* m_log;
    bool m_enabled = true;
    int m_answerMs = 5000;
    QTimer* m_delay = nullptr;
    QTimer* m_deadline = nullptr;
    Choice m_choice;  // chosen now
    Choice m_asked;   // asked by the last query
    State m_state = State::Idle;
    uint32_t m_sn = 0;
    QByteArray m_callId;  // of the last query
    recordquery::RecordAssembler m_assembler;
    recordquery::Timeline m_timeline;  // of m_asked once Known
    QElapsedTimer m_answeredAt;
};
