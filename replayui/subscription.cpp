#include "subscription.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace sub {

namespace {

// Ended subscriptions remembered, so that a late NOTIFY of one is recognised.
constexpr size_t kEndedKept = 16;
// A refresh is never sooner than this after its answer: a platform that grants a second or less
// would otherwise be asked again in a tight loop.
constexpr int64_t kShortestRefreshMs = 500;

std::string_view trimmed(const char* value) {
    std::string_view v(value);
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t'))
        v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t'))
        v.remove_suffix(1);
    return v;
}

}  // namespace

Keeper::Keeper(Clock clock, Timing timing) : m_clock(std::move(clock)), m_timing(timing) {}

void Keeper::start() {
    // What lives is kept until a new grant replaces it: if the platform did not restart after
    // all, its NOTIFYs still count meanwhile. A SUBSCRIBE still waiting was sent before the
    // registration changed; its answer no longer counts.
    m_pending.clear();
    m_backoffMs = 0;
    m_dueAt = m_clock();
}

void Keeper::stop() {
    if (!m_live.callId.empty())
        end(m_live.callId);
    if (!m_pending.empty())
        end(m_pending);
    m_live = Live();
    m_pending.clear();
    m_dueAt = -1;
    m_backoffMs = 0;
}

void Keeper::sent(const std::string& callId) {
    m_pending = callId;
    m_pendingSentAt = m_clock();
    m_dueAt = -1;
}

void Keeper::answered(const std::string& callId, int status, int64_t expiresSeconds) {
    if (callId.empty() || callId != m_pending)
        return;
    m_pending.clear();
    const int64_t now = m_clock();
    // A platform may shorten what was asked for, never lengthen it; no Expires grants it all.
    const int64_t seconds = expiresSeconds < 0 ? m_timing.askedSeconds
                                               : std::min(expiresSeconds, m_timing.askedSeconds);
    if (status < 200 || status >= 300 || seconds <= 0) {
        end(callId);
        if (m_dueAt < 0)  // unless a start() meanwhile wants one at once
            retryLater();
        return;
    }
    if (!m_live.callId.empty() && m_live.callId != callId)
        end(m_live.callId);  // replaced by this one
    // The platform counts from when it got the SUBSCRIBE, which is after we sent it.
    m_live.callId = callId;
    m_live.seconds = seconds;
    m_live.grantedAt = now;
    m_live.expiresAt = m_pendingSentAt + seconds * 1000;
    m_backoffMs = 0;
    if (m_dueAt < 0)
        m_dueAt = std::max(m_pendingSentAt + seconds * 2000 / 3, now + kShortestRefreshMs);
}

Keeper::Notify Keeper::notifyArrived(const std::string& callId, bool terminated) {
    if (!callId.empty() && callId == m_live.callId) {
        if (!terminated)
            return Notify::Live;
        const bool livedLong = m_clock() - m_live.grantedAt >= m_timing.retryMs;
        end(m_live.callId);
        m_live = Live();
        if (m_pending.empty()) {
            // Its refresh is moot now. One that ended at once is not asked for again at once.
            if (livedLong) {
                m_dueAt = m_clock();
            } else if (m_dueAt < 0 || m_dueAt > m_clock()) {
                retryLater();
            }
        }
        return Notify::Terminated;
    }
    // The NOTIFY may come before the answer to its SUBSCRIBE (RFC 6665 §4.1.2.4).
    if (!callId.empty() && callId == m_pending)
        return Notify::Live;
    if (isEnded(callId))
        return Notify::Ended;
    // A Call-ID we never used: some platforms notify outside the subscription's dialog. It
    // counts while we hold a subscription, and is of an ended one when we hold none.
    return subscribed() || !m_pending.empty() ? Notify::Live : Notify::Ended;
}

bool Keeper::lapse() {
    if (m_live.callId.empty() || m_clock() < m_live.expiresAt)
        return false;
    end(m_live.callId);
    m_live = Live();
    if (m_pending.empty() && m_dueAt < 0)
        m_dueAt = m_clock();
    return true;
}

bool Keeper::due() const {
    return m_pending.empty() && m_dueAt >= 0 && m_clock() >= m_dueAt;
}

int64_t Keeper::nextAt() const {
    int64_t next = m_pending.empty() ? m_dueAt : -1;
    if (!m_live.callId.empty() && (next < 0 || m_live.expiresAt < next))
        next = m_live.expiresAt;
    return next;
}

void Keeper::end(std::string callId) {
    if (isEnded(callId))
        return;
    m_ended.push_back(std::move(callId));
    while (m_ended.size() > kEndedKept)
        m_ended.pop_front();
}

bool Keeper::isEnded(const std::string& callId) const {
    return std::find(m_ended.begin(), m_ended.end(), callId) != m_ended.end();
}

void Keeper::retryLater() {
    m_backoffMs =
        m_backoffMs == 0 ? m_timing.retryMs : std::min(2 * m_backoffMs, m_timing.retryMaxMs);
    m_dueAt = m_clock() + m_backoffMs;
}

int64_t expiresSeconds(const char* value) {
    if (value == nullptr)
        return -1;
    const std::string_view v = trimmed(value);
    if (v.empty() || v.size() > 10)
        return -1;
    int64_t n = 0;
    for (char c : v) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

bool isTerminated(const char* subscriptionState) {
    if (subscriptionState == nullptr)
        return false;
    const std::string_view v = trimmed(subscriptionState);
    constexpr std::string_view kWord = "terminated";
    if (v.size() < kWord.size())
        return false;
    for (size_t i = 0; i < kWord.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(v[i])) != kWord[i])
            return false;
    }
    return v.size() == kWord.size() || v[kWord.size()] == ';' || v[kWord.size()] == ' ' ||
           v[kWord.size()] == '\t';
}

}  // namespace sub
