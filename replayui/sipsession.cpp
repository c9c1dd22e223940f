#include "sipsession.h"

#include <QTimer>
#include <algorithm>
#include <QTimerEvent>
#include <QUdpSocket>

#include "Logger.h"
#include "sipsessionrules.h"
#include "siptexts.h"

namespace {

// Room for catalogue bursts while the GUI thread is busy elsewhere.
constexpr int kReceiveBufferBytes = 1 << 20;
constexpr char kTimeoutLine[] = "SIP/2.0 408 Request Timeout";

const char* methodText(const sip::RequestKey& key) {
    return key.method.c_str();
}

}  // namespace

SipSession::SipSession(Logger* log, const ReplaySettings& settings, QObject* parent)
    : QObject(parent),
      m_log(log),
      m_settings(settings),
      m_platAddress(settings.platIp),
      m_timings(SessionTimings::current(settings.timings)),
      m_transactions([this] { return now(); },
                     sip::TransactionTiming{m_timings.t1Ms, m_timings.t2Ms, m_timings.t4Ms}),
      m_answered([this] { return now(); }, 64LL * m_timings.t1Ms),
      m_subscription([this] { return now(); },
                     sub::Timing{m_timings.subscribeRetryMs, m_timings.subscribeRetryMaxMs}),
      m_recvBuffer(new char[kMaxDatagram + 1]),
      m_datagram(new char[kMaxUdpPayload]) {
    m_clock.start();
    const auto latin = [](const QString& s) { return s.toLatin1(); };
    m_codec.setSessionParams(
        latin(settings.hostIp).constData(), latin(settings.hostDevCode).constData(),
        QByteArray::number(settings.hostSipPort).constData(), latin(settings.platIp).constData(),
        latin(settings.platDevCode).constData(), QByteArray::number(settings.platPort).constData(),
        latin(settings.userName).constData(), latin(settings.password).constData(), "0", "0",
        QByteArray::number(settings.sn).constData());
    m_transactionTimer = new QTimer(this);
    m_transactionTimer->setSingleShot(true);
    m_transactionTimer->setTimerType(Qt::PreciseTimer);
    connect(m_transactionTimer, &QTimer::timeout, this, &SipSession::runTransactionTimers);
    m_nextReceivePass = new QTimer(this);
    m_nextReceivePass->setSingleShot(true);
    connect(m_nextReceivePass, &QTimer::timeout, this, &SipSession::onDatagram);
    m_registerPacer = new QTimer(this);
    m_registerPacer->setSingleShot(true);
    connect(m_registerPacer, &QTimer::timeout, this, [this] {
        sendRegister(m_pacedAttempt == 0 ? Purpose::Register : Purpose::RegisterAuth,
                     m_pacedAttempt);
    });
    setUpSubscription();
}

SipSession::~SipSession() {
    shutdown();
}

void SipSession::startSession() {
    m_loggedIn = false;
    m_keepaliveTimer = -1;
    m_reloginTimer = -1;
    m_sipStep = REG_ONE;
    m_retryCount = 0;
    m_socket = makeSocket();
    doRegister(0);
    m_registerTimer = startTimer(m_timings.registerMs, Qt::CoarseTimer);
    m_keepaliveTimer = startTimer(m_timings.keepaliveMs, Qt::CoarseTimer);
    m_reloginTimer = startTimer(m_timings.reloginMs, Qt::CoarseTimer);
}

void SipSession::shutdown() {
    if (m_shutDown) {
        return;
    }
    // The platform would stream to nobody: end the dialog before the socket goes.
    if (m_sipStep >= REPLAY_ENDING) {
        endPlaybackDialog();
    } else if (invitePending()) {
        giveUpInvite();
    }
    m_shutDown = true;
    for (int* id : {&m_registerTimer, &m_keepaliveTimer, &m_reloginTimer}) {
        if (*id >= 0) {
            killTimer(*id);
            *id = -1;
        }
    }
    m_transactionTimer->stop();
    m_registerPacer->stop();
    m_subscriptionTimer->stop();
    m_nextReceivePass->stop();
    if (m_socket != nullptr) {
        m_socket->disconnect(this);
        m_socket->close();
    }
}

// ---- socket ------------------------------------------------------------------------------

QUdpSocket* SipSession::makeSocket() {
    auto* socket = new QUdpSocket(this);
    connect(socket, &QUdpSocket::readyRead, this, &SipSession::onDatagram);
    bindSocket(socket);
    return socket;
}

// Sending from an unbound socket would go out from a port our headers do not name, so a port
// that cannot be bound stops the sending until it can, and the operator is told.
bool SipSession::bindSocket(QUdpSocket* socket) {
    m_lastBindAttempt = now();
    if (socket->bind(QHostAddress(m_settings.hostIp),
                     static_cast<quint16>(m_settings.hostSipPort))) {
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                                kReceiveBufferBytes);
        if (m_bindFailed) {
            m_log->printTime3("The SIP socket is bound to %s:%d now",
                              m_settings.hostIp.toLatin1().constData(), m_settings.hostSipPort);
        }
        m_bindFailed = false;
        return true;
    }
    if (!m_bindFailed) {
        m_log->printTime3("Cannot bind the SIP socket to %s:%d: %s; nothing is sent until it can",
                          m_settings.hostIp.toLatin1().constData(), m_settings.hostSipPort,
                          socket->errorString().toLocal8Bit().constData());
        m_lastStatusLine = QStringLiteral(" 无法绑定本地端口%1:%2")
                               .arg(m_settings.hostIp)
                               .arg(m_settings.hostSipPort);
        setStatus(StatusLogin);
    }
    m_bindFailed = true;
    return false;
}

void SipSession::checkSocket() {
    if (m_socket == nullptr) {
        m_socket = makeSocket();
        return;
    }
    if (m_bindFailed) {
        // Tried again at the pace of the registration, not on every send.
        if (now() - m_lastBindAttempt >= m_timings.registerMs) {
            bindSocket(m_socket);
        }
        return;
    }
    if (m_socket->state() == QAbstractSocket::BoundState && m_socket->bytesAvailable() >= 0) {
        return;
    }
    m_log->printTime3("The m_recvSocket socket is abnormal!!!! restart");
    m_socket->close();
    m_socket->disconnect(this);
    // It may be the socket a receive pass is reading from; it goes once that pass is over.
    m_socket->deleteLater();
    m_socket = makeSocket();
}

qint64 SipSession::sendText(const char* text, int length) {
    if (m_socket == nullptr || m_socket->state() != QAbstractSocket::BoundState) {
        return -1;
    }
    return m_socket->writeDatagram(text, length, m_platAddress,
                                   static_cast<quint16>(m_settings.platPort));
}

qint64 SipSession::sendText(const std::string& text) {
    return sendText(text.data(), static_cast<int>(text.size()));
}

// ---- send actions ------------------------------------------------------------------------

bool SipSession::lockedSend(const SendRule& rule, const BuildFn& build) {
    if (m_shutDown || !rule.allowed(m_sipStep)) {
        return false;
    }
    QMutexLocker lock(&m_sendLock);
    if (rule.startLog != nullptr) {
        m_log->printTime3("%s", rule.startLog);
    }
    checkSocket();
    int length = 0;
    const char* text = build(&length);
    if (text == nullptr || length <= 0) {
        m_log->printTime3("%s", rule.errorLog);
        return false;
    }
    m_lastSent.assign(text, static_cast<size_t>(length));
    if (sendText(m_lastSent) < 0) {
        m_log->printTime3("%s (the SIP socket is not bound)", rule.errorLog);
        return false;
    }
    m_log->printTime3(rule.sentLog, m_lastSent.c_str());
    if (rule.stepAfter >= 0) {
        m_sipStep = rule.stepAfter;
    }
    if (rule.kind == SendRule::Request) {
        sendRequest(rule.purpose, std::string());
    } else if (rule.kind == SendRule::Answer && m_answering) {
        m_answered.remember(m_answeringKey, m_lastSent);
    }
    return true;
}

// Starts the transaction of a request. With a text, sends it first (requests the codec does not
// build); without, the request is m_lastSent, just sent.
bool SipSession::sendRequest(Purpose purpose, const std::string& text) {
    if (!text.empty()) {
        if (m_shutDown || sendText(text) < 0) {
            return false;
        }
        m_log->printTime3("Send sip message,Content:\r\n%s", text.c_str());
        m_lastSent = text;
    }
    sip::RequestKey key;
    key.branch = siptexts::viaBranch(siptexts::header(m_lastSent, "Via"));
    const std::string cseq = siptexts::header(m_lastSent, "CSeq");
    siptexts::cseqNumber(cseq, &key.cseq);
    key.method = siptexts::cseqMethod(cseq);
    key.callId = siptexts::header(m_lastSent, "Call-ID");
    const uint64_t id = m_transactions.start(key, m_lastSent, static_cast<int>(purpose));
    if (purpose == Purpose::Invite) {
        m_inviteTx = id;
    }
    armTransactionTimer();
    return true;
}

bool SipSession::doSubscribe() {
    // Also during a playback: a refresh cannot wait for the operator to stop.
    static const SendRule rule{steps::fromRegOk,
                               "************* do SUBSCRIBE Action *************",
                               "Send sip SUBSCRIBE message ERROR!!!!",
                               "Send sip SUBSCRIBE message,Content:\r\n%s",
                               -1,
                               SendRule::Request,
                               Purpose::Subscribe};
    if (!lockedSend(rule, [this](int* n) { return m_codec.buildSubscribe(n); })) {
        return false;
    }
    onSubscribeSent();
    return true;
}

bool SipSession::doCatalogQuery() {
    static const SendRule rule{steps::beyondRegTwo,
                               "************* do 200 OK Action *************",
                               "Send sip MESSAGE message ERROR!!!!",
                               "Send sip MESSAGE message,Content:\r\n%s",
                               -1,
                               SendRule::Request,
                               Purpose::CatalogQuery};
    if (!lockedSend(rule, [this](int* n) { return m_codec.buildCatalogQuery(n); })) {
        return false;
    }
    emit catalogueRequested();
    return true;
}

bool SipSession::doMessageOk() {
    static const SendRule rule{steps::beyondRegTwo,
                               "************* do MESSAGE Action *************",
                               "Send sip MESSAGE message ERROR!!!!",
                               "Send sip MESSAGE message,Content:\r\n%s",
                               -1,
                               SendRule::Answer,
                               Purpose::Keepalive};
    return lockedSend(rule, [this](int* n) { return m_codec.buildMessageOk(n); });
}

bool SipSession::sendKeepalive() {
    // The log names the keepalive without its text.
    static const SendRule rule{steps::always,
                               nullptr,
                               "Send sip SIP_KEEPALIVE message ERROR!!!!",
                               "###### Send sip SIP_KEEPALIVE message ",
                               -1,
                               SendRule::Request,
                               Purpose::Keepalive};
    return lockedSend(rule, [this](int* n) { return m_codec.buildKeepalive(n); });
}

QString SipSession::statusText(int kind) {
    static const char* const kPrefix[] = {nullptr, "登录状态反馈", "订阅状态反馈", "控制状态反馈"};
    m_lastStatusLine.remove(QStringLiteral("SIP/2.0"));
    if (kind < StatusLogin || kind > StatusControl) {
        return QString();
    }
    return QStringLiteral("%1-%2").arg(QString::fromUtf8(kPrefix[kind]), m_lastStatusLine);
}

void SipSession::setStatus(int kind) {
    m_shownStatus = statusText(kind);
    emit statusChanged(m_shownStatus);
}

void SipSession::showStatusLine(int kind, const char* statusLine) {
    m_lastStatusLine = QString::fromLatin1(statusLine);
    setStatus(kind);
}

void SipSession::timerEvent(QTimerEvent* event) {
    const int id = event->timerId();
    if (id == m_registerTimer) {
        onRegisterTimer();
    } else if (id == m_keepaliveTimer && m_loggedIn &&
               !m_transactions.waiting(static_cast<int>(Purpose::Keepalive))) {
        sendKeepalive();
    } else if (id == m_reloginTimer && m_loggedIn) {
        autoRelogin();
    }
}

// ---- transactions ------------------------------------------------------------------------

// Starts a single-shot timer for the session-clock time at (-1: none, and it is stopped).
void SipSession::armAt(QTimer* timer, qint64 at) {
    if (at < 0 || m_shutDown) {
        timer->stop();
        return;
    }
    timer->start(static_cast<int>(std::max<qint64>(0, at - now())));
}

void SipSession::armTransactionTimer() {
    armAt(m_transactionTimer, m_transactions.nextWakeAt());
}

void SipSession::runTransactionTimers() {
    for (const auto& due : m_transactions.poll()) {
        Transaction* t = m_transactions.find(due.id);
        if (t == nullptr) {
            continue;
        }
        if (due.kind == sip::ClientTransactions::Due::Resend) {
            sendText(t->request);
            m_log->printTime3("Sent again: %s %u (Call-ID %s)", methodText(t->key), t->key.cseq,
                              t->key.callId.c_str());
        } else {
            onGiveUp(*t);
        }
    }
    armTransactionTimer();
}

const SipSession::AnswerRule& SipSession::answerRule(Purpose purpose) const {
    static const AnswerRule kRules[] = {
        {Purpose::Register, StatusLogin, &SipSession::onRegisterAnswer},
        {Purpose::RegisterAuth, StatusLogin, &SipSession::onRegisterAnswer},
        {Purpose::Relogin, StatusLogin, &SipSession::onReloginAnswer},
        {Purpose::ReRegister, StatusLogin, &SipSession::onReRegisterAnswer},
        {Purpose::Subscribe, StatusSubscribe, &SipSession::onSubscribeAnswer},
        {Purpose::Keepalive, StatusControl, &SipSession::onMessageAnswer},
        {Purpose::CatalogQuery, StatusControl, &SipSession::onMessageAnswer},
        {Purpose::Invite, StatusControl, &SipSession::onInviteAnswer},
        {Purpose::Info, StatusControl, &SipSession::onInfoAnswer},
        {Purpose::Bye, StatusControl, &SipSession::onByeAnswer},
        {Purpose::Cancel, StatusNone, &SipSession::onHousekeepingAnswer},
        {Purpose::HangUp, StatusNone, &SipSession::onHousekeepingAnswer},
        {Purpose::RecordQuery, StatusNone, &SipSession::onRecordQueryAnswer},
    };
    for (const AnswerRule& rule : kRules) {
        if (rule.purpose == purpose) {
            return rule;
        }
    }
    return kRules[0];
}

// No answer within 64×T1: the request fails as if refused with 408, and says so.
void SipSession::onGiveUp(Transaction& t) {
    m_log->printTime3("%s %u (Call-ID %s) got no final answer in %lld ms; given up",
                      methodText(t.key), t.key.cseq, t.key.callId.c_str(),
                      static_cast<long long>(m_transactions.timing().giveUpMs()));
    const AnswerRule& rule = answerRule(static_cast<Purpose>(t.purpose));
    if (rule.statusKind != StatusNone) {
        m_lastStatusLine = QString::fromLatin1(kTimeoutLine);
    }
    (this->*rule.handler)(t, 408);
}

void SipSession::onFinalAnswer(Transaction& t, int status) {
    if (status == 401 && m_loggedIn && !isRegisterPurpose(t.purpose)) {
        onChallengedWhileLoggedIn();
    }
    (this->*answerRule(static_cast<Purpose>(t.purpose)).handler)(t, status);
}
