// Registration with the platform: the plain and the authenticated REGISTER, the 15-minute
// refresh, a challenge while logged in, the pacing after a refusal; and the answers to the
// keepalive and the catalogue query.
#include <QTimer>
#include <algorithm>

#include "Logger.h"
#include "sipsessionrules.h"

bool SipSession::doRegister(int attempt) {
    return sendRegister(attempt == 0 ? Purpose::Register : Purpose::RegisterAuth, attempt);
}

bool SipSession::autoRelogin() {
    return sendRegister(Purpose::Relogin, 1);
}

bool SipSession::sendRegister(Purpose purpose, int attempt) {
    if (m_shutDown) {
        return false;
    }
    // RFC 3261 §10.2: no new REGISTER before the last one is answered or given up; it is sent
    // again by its transaction meanwhile.
    const auto waitingRegister = [this] {
        for (Purpose p : kRegisterPurposes) {
            if (m_transactions.waiting(static_cast<int>(p))) {
                return true;
            }
        }
        return false;
    };
    if (waitingRegister() || !registerAllowedNow(purpose, attempt)) {
        return false;
    }
    QMutexLocker lock(&m_sendLock);
    const bool relogin = purpose == Purpose::Relogin;
    if (!relogin) {
        m_log->printTime3("************* doRegister %d Action *************", attempt);
    }
    checkSocket();
    int length = 0;
    const char* text = m_codec.buildRegister(attempt, &length);
    if (text == nullptr || length <= 0 || length > kMaxDatagram) {
        return false;
    }
    m_lastSent.assign(text, static_cast<size_t>(length));
    const qint64 written = sendText(m_lastSent);
    if (written < 0) {
        m_log->printTime3("Send sip Register %d message ERROR: the SIP socket is not bound",
                          attempt);
        return false;
    }
    if (relogin) {
        m_log->printTime3("Send sip AutoReglogin %d message len:%d,recvData len:%d", attempt,
                          length, static_cast<int>(written));
    } else {
        m_log->printTime3("Send sip Register %d message len:%d, recvData len: %d, Content:\r\n %s",
                          attempt, length, static_cast<int>(written), m_lastSent.c_str());
    }
    m_lastRegisterAt = now();
    sendRequest(purpose, std::string());
    return true;
}

// After a refusal, never more than one REGISTER every registerMs: an earlier one waits its turn
// (also the authenticated one that answers a challenge).
bool SipSession::registerAllowedNow(Purpose purpose, int attempt) {
    if (m_backoffMs == 0 || m_lastRegisterAt < 0 || purpose == Purpose::Relogin) {
        return true;
    }
    const qint64 wait = m_lastRegisterAt + m_timings.registerMs - now();
    if (wait <= 0) {
        return true;
    }
    m_pacedAttempt = attempt;
    m_registerPacer->start(static_cast<int>(wait));
    return false;
}

void SipSession::onRegisterTimer() {
    // While paced after a refusal, the pacer sends the next REGISTER.
    if (m_loggedIn || m_registerPacer->isActive()) {
        return;
    }
    if (m_sipStep == REG_ONE) {
        doRegister(0);
    } else if (m_sipStep == REG_TWO &&
               !m_transactions.waiting(static_cast<int>(Purpose::RegisterAuth))) {
        // The authenticated REGISTER is repeated with the old challenge; on the second retry
        // the step goes back first, so that its answer arrives in REG_ONE.
        if (++m_retryCount >= 2) {
            m_sipStep = REG_ONE;
        }
        doRegister(1);
    }
}

// The plain REGISTER (REG_ONE) and the authenticated one (REG_TWO).
void SipSession::onRegisterAnswer(Transaction& t, int status) {
    setStatus(StatusLogin);
    if (status < 300) {
        logIn();  // also a platform that accepts without a challenge
        return;
    }
    const bool plain = static_cast<Purpose>(t.purpose) == Purpose::Register;
    if (plain && status == 401) {
        m_retryCount = 0;
        m_sipStep = REG_TWO;
        m_log->printTime3("***** Register 0 Success!");
        doRegister(1);
        return;
    }
    m_log->printTime3(
        plain ? "m_sipStep is REG_ONE, but analyzing result not REGISTER. Error package!"
              : "m_sipStep is REG_TWO, but analyzing result not LOGIN. Error package!");
    m_sipStep = REG_ONE;
    m_loggedIn = false;
    if (status != 408) {
        backOff();
    }
}

void SipSession::onReloginAnswer(Transaction& /*t*/, int status) {
    if (status < 300) {
        return;  // changes nothing and shows nothing
    }
    if (status == 401) {
        onChallengedWhileLoggedIn();  // a stale nonce, or a platform that restarted
        return;
    }
    loseRegistration(status);
}

void SipSession::onReRegisterAnswer(Transaction& /*t*/, int status) {
    setStatus(StatusLogin);
    if (status < 300) {
        m_log->printTime3("***** Registered again");
        emit registrationRenewed();
        return;
    }
    loseRegistration(status);
}

// Answered with one authenticated REGISTER; further challenges while it waits change nothing.
void SipSession::onChallengedWhileLoggedIn() {
    if (!m_loggedIn) {
        return;
    }
    for (Purpose p : {Purpose::Relogin, Purpose::ReRegister}) {
        if (m_transactions.waiting(static_cast<int>(p))) {
            m_log->printTime3("Challenged while the REGISTER that answers it waits");
            return;
        }
    }
    m_log->printTime3("Challenged while logged in; registering again");
    sendRegister(Purpose::ReRegister, 1);
}

void SipSession::logIn() {
    m_loggedIn = true;
    m_sipStep = REG_OK;
    m_backoffMs = 0;
    m_registerPacer->stop();
    m_log->printTime3("***** Register 1 Success!");
    emit loggedInChanged(true);  // the subscription follows (sipsubscription.cpp)
}

// The platform refused the registration while logged in, or never answered it: whatever is
// open with it ends, and registration starts again from REG_ONE.
void SipSession::loseRegistration(int status) {
    m_log->printTime3("The registration is lost (%d); logged out", status);
    if (m_sipStep >= REPLAY_ENDING) {
        endPlaybackDialog();
    } else if (invitePending()) {
        giveUpInvite();
    }
    m_loggedIn = false;
    m_sipStep = REG_ONE;
    m_retryCount = 0;
    setStatus(StatusLogin);
    emit loggedInChanged(false);
    if (status != 408) {
        backOff();
    }
}

void SipSession::backOff() {
    m_backoffMs = m_backoffMs == 0 ? m_timings.registerMs
                                   : std::min<qint64>(2 * m_backoffMs, m_timings.backoffMaxMs);
    m_log->printTime3("The platform refused the registration; next REGISTER in %lld ms",
                      static_cast<long long>(m_backoffMs));
    m_pacedAttempt = 0;
    m_registerPacer->start(static_cast<int>(m_backoffMs));
}

// ---- the other requests of the session --------------------------------------------------

void SipSession::onMessageAnswer(Transaction& t, int status) {
    // A keepalive that went through is no news; it must not hide a refusal the operator has not
    // read yet.
    if (static_cast<Purpose>(t.purpose) == Purpose::Keepalive && status < 300) {
        return;
    }
    setStatus(StatusControl);
}
