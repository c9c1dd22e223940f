#pragma once
// The console's catalogue subscription over time (RFC 6665, subscriber side): when to send a
// SUBSCRIBE (at login, after the platform may have forgotten us, before the granted time runs
// out, after a refusal with back-off) and whether a NOTIFY belongs to a subscription that still
// lives. Each refresh is a fresh SUBSCRIBE (a new Call-ID): the codec's SUBSCRIBE carries no To
// tag, and the platform replaces a subscriber's earlier subscription with it.
// Pure: time comes from an injected clock, the caller sends and logs.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace sub {

struct Timing {
    int64_t retryMs = 5000;       // first wait after a refused or unanswered SUBSCRIBE
    int64_t retryMaxMs = 60000;   // longest wait; each refusal doubles it up to here
    int64_t askedSeconds = 3600;  // the Expires the SUBSCRIBE asks for
};

class Keeper {
public:
    using Clock = std::function<int64_t()>;  // monotonic milliseconds

    // What a NOTIFY is to us.
    enum class Notify {
        Live,        // of a subscription that lives (or of the platform's own making): act on it
        Terminated,  // the live subscription ended: answered, and a new one is due at once
        Ended,       // of a subscription that has ended: answered 481, nothing else
    };

    Keeper(Clock clock, Timing timing);

    // Logged in, or registered again after a challenge: whatever was granted may be gone, so a
    // SUBSCRIBE is due now, also when one sent before still waits for its answer.
    void start();
    // Logged out: nothing lives and nothing is due.
    void stop();
    // A SUBSCRIBE went out with this Call-ID.
    void sent(const std::string& callId);
    // Its final answer: status (408 when given up) and the Expires of a 2xx, -1 when absent.
    void answered(const std::string& callId, int status, int64_t expiresSeconds);
    // A NOTIFY arrived; terminated when its Subscription-State says so.
    Notify notifyArrived(const std::string& callId, bool terminated);
    // The live subscription ran past its granted time without a refresh: it is forgotten (and
    // true returned, once). Called before due().
    bool lapse();

    // True when a SUBSCRIBE should go now (none is waiting and its time has come).
    bool due() const;
    // When due() or lapse() next changes; -1: nothing to wait for.
    int64_t nextAt() const;

    bool subscribed() const { return !m_live.callId.empty(); }
    const std::string& liveCallId() const { return m_live.callId; }
    int64_t grantedSeconds() const { return m_live.seconds; }
    int64_t backoffMs() const { return m_backoffMs; }

private:
    struct Live {
        std::string callId;
        int64_t seconds = 0;
        int64_t grantedAt = 0;
        int64_t expiresAt = 0;
    };
    void end(std::string callId);
    bool isEnded(const std::string& callId) const;
    void retryLater();

    Clock m_clock;
    Timing m_timing;
    Live m_live;
    std::string m_pending;  // Call-ID of the SUBSCRIBE waiting for its answer
    int64_t m_pendingSentAt = 0;
    int64_t m_dueAt = -1;             // -1: no SUBSCRIBE wanted
    int64_t m_backoffMs = 0;          // 0: the last SUBSCRIBE was not refused
    std::deque<std::string> m_ended;  // Call-IDs of subscriptions that ended, the latest last
};

// The seconds of an Expires value: digits only (blanks around allowed); -1 otherwise.
int64_t expiresSeconds(const char* value);
// Whether a Subscription-State value says terminated.
bool isTerminated(const char* subscriptionState);

}  // namespace sub
