// The catalogue subscription kept alive: subscribed at login and again whenever the platform may
// have forgotten it, refreshed before its granted time runs out, retried with back-off when
// refused; and the platform's NOTIFYs and MESSAGEs answered, only a catalogue going on to the form.
#include <QTimer>

#include "Logger.h"
#include "sipsessionrules.h"
#include "siptexts.h"

namespace {

constexpr char kEndedStatusLine[] = "SIP/2.0 481 Call/Transaction Does Not Exist";

}  // namespace

void SipSession::setUpSubscription() {
    m_subscriptionTimer = new QTimer(this);
    m_subscriptionTimer->setSingleShot(true);
    // A coarse timer may fire 5 % late: past the 2/3 of a grant that a refresh must not pass.
    m_subscriptionTimer->setTimerType(Qt::PreciseTimer);
    connect(m_subscriptionTimer, &QTimer::timeout, this, &SipSession::runSubscriptionTimer);
    connect(this, &SipSession::loggedInChanged, this, &SipSession::onLoginChanged);
    connect(this, &SipSession::registrationRenewed, this, &SipSession::onRegisteredAgain);
}

// The first login subscribes; a login after the registration was lost also asks for the
// catalogue, since the platform may have restarted and forgotten what it sent us.
void SipSession::onLoginChanged(bool loggedIn) {
    if (!loggedIn) {
        m_subscription.stop();
        m_subscriptionTimer->stop();
        return;
    }
    const bool again = m_everLoggedIn;
    m_everLoggedIn = true;
    m_subscription.start();
    runSubscriptionTimer();
    if (again) {
        doCatalogQuery();
    }
}

void SipSession::onRegisteredAgain() {
    m_log->printTime3("Registered again: subscribing and asking for the catalogue again");
    m_subscription.start();
    runSubscriptionTimer();
    doCatalogQuery();
}

void SipSession::armSubscriptionTimer() {
    armAt(m_subscriptionTimer, m_subscription.nextAt());
}

void SipSession::runSubscriptionTimer() {
    if (m_shutDown) {
        return;
    }
    if (m_subscription.lapse()) {
        m_log->printTime3("The catalogue subscription ran out before it was refreshed");
    }
    // The keeper holds one SUBSCRIBE at a time; one it no longer waits for may still be sent
    // again by its transaction, which is harmless.
    if (m_subscription.due() && m_loggedIn) {
        doSubscribe();
    }
    armSubscriptionTimer();
}

void SipSession::onSubscribeSent() {
    m_subscription.sent(siptexts::header(m_lastSent, "Call-ID"));
    emit catalogueRequested();
    armSubscriptionTimer();
}

void SipSession::onSubscribeAnswer(Transaction& t, int status) {
    setStatus(StatusSubscribe);
    // Only a 2xx that just arrived has its Expires in the codec; a give-up has no answer.
    const bool granted = status >= 200 && status < 300;
    const qint64 expires =
        granted ? sub::expiresSeconds(m_codec.incomingHeader("Expires")) : qint64(-1);
    m_subscription.answered(t.key.callId, status, expires);
    if (granted) {
        m_log->printTime3("Catalogue subscription %s granted for %lld s", t.key.callId.c_str(),
                          static_cast<long long>(m_subscription.grantedSeconds()));
    } else {
        m_log->printTime3("Catalogue subscription %s failed (%d); next SUBSCRIBE in %lld ms",
                          t.key.callId.c_str(), status,
                          static_cast<long long>(m_subscription.backoffMs()));
    }
    emit subscribeAnswered(status);
    armSubscriptionTimer();
}

// ---- the platform's NOTIFYs and MESSAGEs -------------------------------------------------

void SipSession::onPlatformMessage() {
    doMessageOk();
    routeBody();
}

void SipSession::onNotify() {
    const std::string& callId = m_codec.receivedIds().CallID;
    const bool terminated = sub::isTerminated(m_codec.incomingHeader("Subscription-State"));
    switch (m_subscription.notifyArrived(callId, terminated)) {
        case sub::Keeper::Notify::Ended:
            m_log->printTime3("NOTIFY of the subscription %s, which has ended: answered 481",
                              callId.c_str());
            answerEnded();
            return;
        case sub::Keeper::Notify::Terminated:
            m_log->printTime3("The platform ended the catalogue subscription %s (%s)",
                              callId.c_str(), m_codec.incomingHeader("Subscription-State"));
            doMessageOk();
            routeBody();
            armSubscriptionTimer();
            return;
        case sub::Keeper::Notify::Live:
            doMessageOk();
            routeBody();
            return;
    }
}

// Each body goes to the one handler of its command. A page of a record query's answer is not
// the catalogue's; keepalive answers, media status notices and the like need only the answer.
void SipSession::routeBody() {
    switch (m_codec.bodyCommand()) {
        case manscdp::Command::Catalog:
            emit catalogueReceived();
            break;
        case manscdp::Command::RecordInfo:
            break;
        case manscdp::Command::Other:
        case manscdp::Command::None:
            break;
    }
}

// RFC 6665 §4.1.3: a NOTIFY for a subscription we do not hold gets 481, so that the platform
// stops sending it.
void SipSession::answerEnded() {
    static const SendRule rule{steps::beyondRegTwo,
                               nullptr,
                               "Send sip 481 message ERROR!!!!",
                               "Send sip 481 message,Content:\r\n%s",
                               -1,
                               SendRule::Answer,
                               Purpose::Keepalive};
    lockedSend(rule, [this](int* n) {
        int length = 0;
        const char* ok = m_codec.buildMessageOk(&length);
        m_replyText = ok == nullptr ? std::string()
                                    : siptexts::withStatusLine(std::string(ok, size_t(length)),
                                                               kEndedStatusLine);
        *n = static_cast<int>(m_replyText.size());
        return m_replyText.empty() ? nullptr : m_replyText.c_str();
    });
}
