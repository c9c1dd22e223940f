#include "siptransactions.h"

#include <algorithm>
#include <utility>

namespace sip {

bool RequestKey::operator==(const RequestKey& other) const {
    return cseq == other.cseq && branch == other.branch && method == other.method &&
           callId == other.callId;
}

// ---- client transactions -------------------------------------------------------------------

ClientTransactions::ClientTransactions(Clock clock, TransactionTiming timing)
    : m_clock(std::move(clock)), m_timing(timing) {}

bool ClientTransactions::live(const Transaction& t) {
    return t.state == State::Calling || t.state == State::Proceeding;
}

uint64_t ClientTransactions::start(const RequestKey& key, std::string request, int purpose) {
    const int64_t now = m_clock();
    Transaction t;
    t.id = m_nextId++;
    t.key = key;
    t.request = std::move(request);
    t.purpose = purpose;
    t.invite = key.method == "INVITE";
    t.startedAt = now;
    t.interval = m_timing.t1Ms;
    t.nextSendAt = now + t.interval;
    t.giveUpAt = now + m_timing.giveUpMs();
    m_items.push_back(std::move(t));
    return m_items.back().id;
}

ClientTransactions::Transaction* ClientTransactions::find(uint64_t id) {
    for (Transaction& t : m_items) {
        if (t.id == id) {
            return &t;
        }
    }
    return nullptr;
}

ClientTransactions::Transaction* ClientTransactions::match(const RequestKey& response) {
    for (Transaction& t : m_items) {
        if (t.key == response) {
            return &t;
        }
    }
    return nullptr;
}

// Timer A doubles without bound (Timer B ends it); Timer E doubles up to T2, and stays at T2
// once a provisional answer came (RFC 3261 §17.1.1.2, §17.1.2.2).
void ClientTransactions::scheduleNext(Transaction& t, int64_t now) {
    if (t.invite) {
        t.interval *= 2;
    } else if (t.state == State::Proceeding) {
        t.interval = m_timing.t2Ms;
    } else {
        t.interval = std::min(t.interval * 2, m_timing.t2Ms);
    }
    t.nextSendAt = now + t.interval;
}

ClientTransactions::Arrival ClientTransactions::onResponse(Transaction& t, int status) {
    const int64_t now = m_clock();
    if (status < 200) {
        if (live(t)) {
            t.provisional = true;
            t.state = State::Proceeding;
            if (t.invite) {
                t.nextSendAt = -1;  // the platform has it; it answers in its own time
            } else {
                t.interval = m_timing.t2Ms;
                t.nextSendAt = now + t.interval;
            }
        }
        return Arrival::Provisional;
    }
    const bool wasLive = live(t);
    if (!wasLive && t.state != State::TimedOut) {
        return Arrival::Repeat;
    }
    t.state = t.invite && status < 300 ? State::Accepted : State::Completed;
    t.status = status;
    t.nextSendAt = -1;
    // Completed INVITE: Timer D and RFC 6026's Timer L; non-INVITE: Timer K.
    const bool longWait = t.invite || !wasLive;
    t.forgetAt = now + (longWait ? m_timing.giveUpMs() : m_timing.t4Ms);
    return wasLive ? Arrival::Final : Arrival::Late;
}

void ClientTransactions::abandon(uint64_t id) {
    if (Transaction* t = find(id)) {
        t->abandoned = true;
    }
}

void ClientTransactions::forget(uint64_t id) {
    m_items.remove_if([id](const Transaction& t) { return t.id == id; });
}

std::vector<ClientTransactions::Due> ClientTransactions::poll() {
    const int64_t now = m_clock();
    std::vector<Due> due;
    m_items.remove_if([now](const Transaction& t) { return t.forgetAt >= 0 && now >= t.forgetAt; });
    for (Transaction& t : m_items) {
        if (!live(t)) {
            continue;
        }
        if (now >= t.giveUpAt) {
            t.state = State::TimedOut;
            t.status = 408;
            t.nextSendAt = -1;
            t.forgetAt = now + m_timing.giveUpMs();  // a late answer is still recognised
            due.push_back({Due::GiveUp, t.id});
        } else if (t.nextSendAt >= 0 && now >= t.nextSendAt) {
            scheduleNext(t, now);
            due.push_back({Due::Resend, t.id});
        }
    }
    return due;
}

int64_t ClientTransactions::nextWakeAt() const {
    int64_t next = -1;
    const auto consider = [&next](int64_t at) {
        if (at >= 0 && (next < 0 || at < next)) {
            next = at;
        }
    };
    for (const Transaction& t : m_items) {
        if (live(t)) {
            consider(t.nextSendAt);
            consider(t.giveUpAt);
        } else {
            consider(t.forgetAt);
        }
    }
    return next;
}

bool ClientTransactions::waiting(int purpose) const {
    return std::any_of(m_items.begin(), m_items.end(),
                       [purpose](const Transaction& t) { return t.purpose == purpose && live(t); });
}

// ---- answered requests ---------------------------------------------------------------------

AnsweredRequests::AnsweredRequests(Clock clock, int64_t keepMs, size_t maxEntries, size_t maxBytes)
    : m_clock(std::move(clock)), m_keepMs(keepMs), m_maxEntries(maxEntries), m_maxBytes(maxBytes) {}

void AnsweredRequests::dropExpired(int64_t now) {
    while (!m_items.empty() && now >= m_items.front().expiresAt) {
        dropOldest();
    }
}

void AnsweredRequests::dropOldest() {
    m_bytes -= m_items.front().answer.size();
    m_items.pop_front();
}

const std::string* AnsweredRequests::find(const RequestKey& key) {
    dropExpired(m_clock());
    // Newest first: a copy of a request comes soon after the request.
    for (auto it = m_items.rbegin(); it != m_items.rend(); ++it) {
        if (it->key == key) {
            return &it->answer;
        }
    }
    return nullptr;
}

void AnsweredRequests::remember(const RequestKey& key, std::string answer) {
    const int64_t now = m_clock();
    dropExpired(now);
    if (answer.size() > m_maxBytes) {
        return;
    }
    while (!m_items.empty() &&
           (m_items.size() >= m_maxEntries || m_bytes + answer.size() > m_maxBytes)) {
        dropOldest();
    }
    m_bytes += answer.size();
    m_items.push_back({key, std::move(answer), now + m_keepMs});
}

}  // namespace sip
