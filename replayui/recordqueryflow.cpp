#include "recordqueryflow.h"

#include <QRandomGenerator>
#include <QTimer>

#include "Logger.h"
#include "sessiontimings.h"
#include "sipsession.h"

namespace {

// An answer older than this is asked again before a Play relies on it: recordings go on.
constexpr qint64 kFreshMs = 60000;

QDateTime localTime(int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds);
}

}  // namespace

RecordQueryFlow::RecordQueryFlow(SipSession* session, Logger* log, QObject* parent)
    : QObject(parent), m_session(session), m_log(log) {
    const SessionTimings timings = SessionTimings::current();
    m_enabled = timings.recordQueryDelayMs >= 0;
    m_answerMs = timings.recordAnswerMs;
    // A console started again must not take the pages of its former self's last query.
    m_sn = QRandomGenerator::global()->bounded(1u, 1u << 30);
    m_delay = new QTimer(this);
    m_delay->setSingleShot(true);
    m_delay->setInterval(std::max(0, timings.recordQueryDelayMs));
    connect(m_delay, &QTimer::timeout, this, &RecordQueryFlow::askWhenDue);
    m_deadline = new QTimer(this);
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, &RecordQueryFlow::onDeadline);
    connect(session, &SipSession::recordPageReceived, this, &RecordQueryFlow::onPage);
    connect(session, &SipSession::recordQueryAnswered, this, &RecordQueryFlow::onQueryAnswered);
    connect(session, &SipSession::loggedInChanged, this, &RecordQueryFlow::onLoggedIn);
}

void RecordQueryFlow::choose(const Choice& choice) {
    if (choice == m_choice) {
        return;
    }
    const bool wasShown = timeline().known();
    m_choice = choice;
    if (wasShown || timeline().known()) {
        emit timelineChanged();
    }
    if (m_enabled) {
        m_delay->start();
    }
}

const recordquery::Timeline& RecordQueryFlow::timeline() const {
    static const recordquery::Timeline kUnknown;
    return m_state == State::Known && m_asked == m_choice ? m_timeline : kUnknown;
}

RecordQueryFlow::Readiness RecordQueryFlow::readinessForPlay(const Choice& choice) {
    choose(choice);
    if (!m_enabled || !choice.askable()) {
        return Readiness::Unknown;
    }
    if (m_asked == m_choice) {
        switch (m_state) {
            case State::Waiting:
                return Readiness::Waiting;
            case State::Absent:
                return Readiness::Unknown;  // asked, and the platform did not say
            case State::Known:
                if (m_answeredAt.elapsed() < kFreshMs) {
                    return Readiness::Known;
                }
                break;
            case State::Idle:
                break;
        }
    }
    m_delay->stop();
    return ask() ? Readiness::Waiting : Readiness::Unknown;
}

// The operator has stopped changing the choice: asked unless its answer is known or on its way.
void RecordQueryFlow::askWhenDue() {
    if (!m_choice.askable() || !m_session->loggedIn()) {
        return;  // asked once logged in
    }
    if (m_asked == m_choice && (m_state == State::Waiting || m_state == State::Known)) {
        return;
    }
    ask();
}

bool RecordQueryFlow::ask() {
    ++m_sn;
    const bool wasShown = timeline().known();
    m_asked = m_choice;
    m_assembler.begin(m_sn, QString::fromLatin1(m_asked.camera));
    m_callId.clear();
    if (!m_session->doRecordInfoQuery(m_asked.camera, localTime(m_asked.start),
                                      localTime(m_asked.end), m_sn, &m_callId)) {
        m_state = State::Absent;
        m_log->printTime3("[RecordQuery] SN %u for %s not sent", m_sn, m_asked.camera.constData());
        if (wasShown) {
            emit timelineChanged();
        }
        return false;
    }
    m_state = State::Waiting;
    m_deadline->start(m_answerMs);
    if (wasShown) {
        emit timelineChanged();
    }
    return true;
}

void RecordQueryFlow::logNotes(const manscdp::Notes& notes) {
    for (const std::string& line : notes.lines()) {
        m_log->printTime3("[RecordQuery] %s", line.c_str());
    }
    if (notes.more() > 0) {
        m_log->printTime3("[RecordQuery] ... and %zu more", notes.more());
    }
}

void RecordQueryFlow::onPage() {
    const CCTVCAR& codec = m_session->codec();
    logNotes(codec.bodyNotes());
    manscdp::Notes notes;
    const auto outcome = m_assembler.add(codec.recordPage(), &notes);
    logNotes(notes);
    using Outcome = recordquery::RecordAssembler::Outcome;
    if (outcome == Outcome::Stale) {
        return;
    }
    if (m_state == State::Known) {
        // A page after the announced total: every item counts, the timeline is drawn again.
        finish(State::Known, "a further page");
    } else if (outcome == Outcome::Complete) {
        finish(State::Known, "complete");
    } else if (m_state == State::Waiting) {
        m_deadline->start(m_answerMs);  // more pages are coming
    }
}

void RecordQueryFlow::onQueryAnswered(const QByteArray& callId, int status) {
    if (status < 300 || callId != m_callId || m_state != State::Waiting) {
        return;
    }
    finish(State::Absent, status == 408 ? "the query got no answer" : "the query was refused");
}

void RecordQueryFlow::onLoggedIn(bool loggedIn) {
    if (!m_enabled) {
        return;
    }
    if (loggedIn) {
        m_delay->start();
    } else if (m_state == State::Waiting) {
        finish(State::Absent, "logged out");
    }
}

void RecordQueryFlow::onDeadline() {
    if (m_state == State::Waiting) {
        finish(State::Absent, m_assembler.answered() ? "the answer is incomplete" : "no answer");
    }
}

void RecordQueryFlow::finish(State state, const char* why) {
    m_deadline->stop();
    m_state = state;
    if (state == State::Known) {
        m_timeline = recordquery::Timeline::of(m_asked.start, m_asked.end, m_assembler.segments());
        m_answeredAt.start();
        m_log->printTime3("[RecordQuery] SN %u for %s: %zu recordings, %zu pieces (%s)", m_sn,
                          m_asked.camera.constData(), m_assembler.segments().size(),
                          m_timeline.pieces().size(), why);
    } else {
        m_timeline = recordquery::Timeline();
        m_log->printTime3("[RecordQuery] SN %u for %s: %s; the recordings are not known", m_sn,
                          m_asked.camera.constData(), why);
    }
    if (m_asked == m_choice) {
        emit timelineChanged();
    }
    emit settled();
}
