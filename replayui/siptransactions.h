#pragma once
// The console's SIP transaction layer over UDP (RFC 3261 §17). Every request the console sends is
// a client transaction: sent again until answered, given up after 64×T1, and the one place that
// says whether a response belongs to us. Every request the platform sends is answered once; a
// copy of it gets the same answer again. Pure: time comes from an injected clock and the caller
// does the sending.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <string>
#include <vector>

namespace sip {

struct TransactionTiming {
    int64_t t1Ms = 500;   // round-trip estimate; retransmissions start here and double
    int64_t t2Ms = 4000;  // longest interval between retransmissions of a non-INVITE request
    int64_t t4Ms = 5000;  // how long a completed non-INVITE transaction absorbs repeated answers
    int64_t giveUpMs() const { return 64 * t1Ms; }
};

// Identity of a request and of the responses to it: top Via branch, CSeq number and method,
// Call-ID. The method is kept in upper case.
struct RequestKey {
    std::string branch;
    uint32_t cseq = 0;
    std::string method;
    std::string callId;
    bool operator==(const RequestKey& other) const;
};

class ClientTransactions {
public:
    using Clock = std::function<int64_t()>;  // monotonic milliseconds

    enum class State {
        Calling,     // sent, nothing heard yet: retransmitting
        Proceeding,  // a provisional answer came: INVITE waits quietly, others slow down to T2
        Completed,   // a final failure (or a non-INVITE final): repeats are absorbed
        Accepted,    // a 2xx to an INVITE: repeats get the same ACK
        TimedOut,    // given up; still recognised, so that a late answer can be dealt with
    };
    struct Transaction {
        uint64_t id = 0;
        RequestKey key;
        std::string request;  // the text sent, sent again as it is
        int purpose = 0;      // the caller's tag: what the request was for
        bool invite = false;
        State state = State::Calling;
        bool provisional = false;  // a 1xx arrived
        bool abandoned = false;    // the caller no longer wants what the answer brings
        bool cancelDue = false;    // a CANCEL waits for the first provisional answer (§9.1)
        int status = 0;            // final status, 408 after giving up
        std::string ack;           // ACK sent for the final answer; sent again for a repeat
        int64_t startedAt = 0;
        int64_t nextSendAt = -1;  // -1: no more retransmissions
        int64_t interval = 0;
        int64_t giveUpAt = 0;
        int64_t forgetAt = -1;  // -1: live
    };
    // What an answer means to its transaction.
    enum class Arrival {
        Provisional,  // a 1xx
        Final,        // the first final answer: the caller acts on it
        Repeat,       // the final answer again: send the ACK again, if any; nothing else
        Late,         // a final answer after giving up
    };
    struct Due {
        enum Kind { Resend, GiveUp } kind;
        uint64_t id;
    };

    explicit ClientTransactions(Clock clock, TransactionTiming timing = TransactionTiming());

    // A request just sent; returns its id.
    uint64_t start(const RequestKey& key, std::string request, int purpose);
    Transaction* find(uint64_t id);
    // The transaction a response belongs to, by branch, CSeq number and method, and Call-ID.
    Transaction* match(const RequestKey& response);
    Arrival onResponse(Transaction& t, int status);
    // The caller gave the result up: the transaction runs on only to deal with its answer.
    void abandon(uint64_t id);
    // Ends a transaction at once (its request is superseded).
    void forget(uint64_t id);

    // Retransmissions and give-ups due now; forgets the transactions that are over.
    std::vector<Due> poll();
    // When poll() has something to do next; -1 when nothing is pending.
    int64_t nextWakeAt() const;
    // A transaction of that purpose is still waiting for its final answer.
    bool waiting(int purpose) const;
    size_t size() const { return m_items.size(); }
    const TransactionTiming& timing() const { return m_timing; }

private:
    static bool live(const Transaction& t);
    void scheduleNext(Transaction& t, int64_t now);

    Clock m_clock;
    TransactionTiming m_timing;
    uint64_t m_nextId = 1;
    // Few at a time, so a scan is the quickest lookup; a list, so that a transaction in hand
    // stays valid while its handler sends further requests.
    std::list<Transaction> m_items;
};

// Answers already sent to the platform's requests, so that a request sent again gets the same
// answer and is acted on once. Entries last 64×T1 (RFC 3261 Timer J); the oldest go first when
// the count or the byte total would pass its bound.
class AnsweredRequests {
public:
    using Clock = ClientTransactions::Clock;
    AnsweredRequests(Clock clock, int64_t keepMs, size_t maxEntries = 512,
                     size_t maxBytes = 1 << 20);

    const std::string* find(const RequestKey& key);
    void remember(const RequestKey& key, std::string answer);
    size_t size() const { return m_items.size(); }

private:
    struct Entry {
        RequestKey key;
        std::string answer;
        int64_t expiresAt;
    };
    void dropExpired(int64_t now);
    void dropOldest();

    Clock m_clock;
    int64_t m_keepMs;
    size_t m_maxEntries;
    size_t m_maxBytes;
    size_t m_bytes = 0;
    std::deque<Entry> m_items;  // oldest first
};

}  // namespace sip
