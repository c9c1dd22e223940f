// What every part of the platform sends and receives through: timers, identifiers, the answers
// of server transactions (RFC 3261 §17.2, §18.2.2) and the retransmitted requests of client
// transactions (§17.1.2), over the injected datagram sender and clock.
#pragma once

#include "Platform.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace gbplat {

struct DialogKey {
    std::string callId;
    std::string localTag;
    std::string remoteTag;
    bool operator<(const DialogKey& o) const {
        return std::tie(callId, localTag, remoteTag) < std::tie(o.callId, o.localTag, o.remoteTag);
    }
};

// What every request must carry before anything else looks at it (RFC 3261 §8.1.1).
struct RequestIds {
    Via via;
    NameAddr from;
    NameAddr to;
    SipUri fromUri;
    std::string callId;
    CSeq cseq;
};

// A request as the parts of the platform see it: the message, its identity and its source.
struct Incoming {
    const SipMessage& req;
    const RequestIds& ids;
    const Endpoint& from;
};

// The methods the platform serves, for Allow headers.
extern const char* const kAllowedMethods;

bool isSuccess(const SipMessage* r);
// Seconds from an Expires value, capped; `absent` when there is none, -1 when not a number.
int expiresValue(const std::string* text, int absent, int cap);

class SipCore {
public:
    using FinalFn = std::function<void(const SipMessage*)>;  // nullptr: timed out

    SipCore(const PlatformConfig& cfg, PlatformClock& clock, Platform::SendFn send, EventLog& log);

    const PlatformConfig& cfg;
    PlatformClock& clock;
    EventLog& log;
    PlatformStats stats;
    std::mt19937_64 rng;

    // ---- identifiers
    std::string randomHex(int digits);
    std::string newTag() { return randomHex(10); }
    std::string newBranch() { return "z9hG4bK" + randomHex(16); }
    std::string newCallId() { return randomHex(20) + "@" + cfg.address; }
    std::string ourUri() const;
    std::string ourContact() const { return "<" + ourUri() + ">"; }
    uint64_t nextSn() { return snCounter_++; }
    int t2Ms() const { return cfg.t1Ms * 8; }
    int txLifetimeMs() const { return cfg.t1Ms * 64; }

    // ---- timers
    uint64_t addTimer(int64_t delayMs, std::function<void()> fn);
    void cancelTimer(uint64_t& id);
    int64_t runTimers();
    int64_t nextDeadline() const;

    // ---- sending
    void transmit(const Endpoint& to, const std::string& bytes);
    // Where a request goes: the host and port of a URI (Contact or remote target).
    std::optional<Endpoint> resolveTarget(const std::string& uriText, const Endpoint& fallback);
    // RFC 3261 §18.2.2 with RFC 3581: to the source address, at the source port when the
    // client asked for rport, else at the sent-by port.
    void respond(const Incoming& in, int status, const std::string& reason,
                 const std::string& toTag = std::string(), std::vector<SipHeader> extra = {},
                 const std::string& body = std::string());
    // The answer already given to this request (a retransmission), or nullptr.
    struct Answer {
        std::string bytes;
        Endpoint dest;
        uint64_t expiryTimer = 0;
    };
    const Answer* earlierAnswer(const SipMessage& req, const RequestIds& ids) const;
    // Sends a request in a new client transaction and retransmits it until a final answer
    // (timers E and F).
    void sendRequest(SipMessage req, const Endpoint& dest, FinalFn onFinal);
    SipMessage newRequest(const std::string& method, const std::string& target,
                          const std::string& from, const std::string& to, const std::string& callId,
                          uint32_t cseq);
    void onResponse(const SipMessage& resp);
    // RFC 3261 §12.2.2: a request in a dialog needs a CSeq above the last one; otherwise it
    // is answered 500 here and false is returned.
    bool inOrder(const Incoming& in, uint32_t& remoteCSeq);

    // Forgets every timer and transaction (a restart).
    void reset();

private:
    struct ClientTx {
        std::string bytes;
        Endpoint dest;
        std::string method;
        std::string callId;
        std::string fromTag;
        std::string toTag;
        uint32_t cseq = 0;
        int intervalMs = 0;
        uint64_t retransmitTimer = 0;
        uint64_t timeoutTimer = 0;
        FinalFn onFinal;
    };

    std::string serverTxKey(const SipMessage& req, const RequestIds& ids) const;
    void remember(const std::string& key, const std::string& bytes, const Endpoint& dest);
    void retransmit(const std::string& branch);
    void timeOut(const std::string& branch);
    static std::string responseMismatch(const ClientTx& tx, const SipMessage& resp);

    Platform::SendFn send_;
    std::map<std::pair<int64_t, uint64_t>, std::function<void()>> timers_;
    std::map<uint64_t, int64_t> timerDue_;
    uint64_t nextTimerId_ = 1;
    std::map<std::string, ClientTx> clientTx_;  // by branch
    std::map<std::string, Answer> serverTx_;    // by branch|method|sent-by
    uint64_t snCounter_ = 1;
};

}  // namespace gbplat
