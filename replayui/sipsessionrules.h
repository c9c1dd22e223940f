#pragma once
// Inside the session's own files only: the rules its send actions and answers follow.
#include "sipsession.h"

namespace steps {
inline bool always(int) {
    return true;
}
inline bool loggedIn(int step) {
    return step == SipSession::REG_OK;
}
inline bool beyondRegTwo(int step) {
    return step > SipSession::REG_TWO;
}
inline bool fromRegOk(int step) {
    return step >= SipSession::REG_OK;
}
inline bool inPlayback(int step) {
    return step >= SipSession::REPLAY_PLAYING;
}
}  // namespace steps

// The purposes of REGISTER requests: one of them at a time (RFC 3261 §10.2).
constexpr SipSession::Purpose kRegisterPurposes[] = {
    SipSession::Purpose::Register, SipSession::Purpose::RegisterAuth, SipSession::Purpose::Relogin,
    SipSession::Purpose::ReRegister};

inline bool isRegisterPurpose(int purpose) {
    for (SipSession::Purpose p : kRegisterPurposes) {
        if (static_cast<int>(p) == purpose) {
            return true;
        }
    }
    return false;
}

// How a send action goes: when it may send, what it logs, the step after it, and whether the
// text is a request (a transaction of that purpose) or the answer to the platform's request.
struct SipSession::SendRule {
    enum Kind { Request, Answer, Plain };
    bool (*allowed)(int step);
    const char* startLog;  // nullptr: none
    const char* errorLog;
    const char* sentLog;  // one %s: the text sent
    int stepAfter;        // -1: unchanged
    Kind kind;
    Purpose purpose;  // of a Request
};

// What the final answer to a request of each purpose does, and the status text it shows when
// the request is given up.
struct SipSession::AnswerRule {
    Purpose purpose;
    int statusKind;
    void (SipSession::*handler)(Transaction& t, int status);
};
