#include "sipsession.h"

#include <QTimer>
#include <QTimerEvent>
#include <QUdpSocket>
#include <cstring>

#include "Logger.h"

namespace {

// Receive work done in one pass of the event loop before the rest of the GUI gets a turn.
constexpr qint64 kReceiveBudgetMs = 2;
// Room for catalogue bursts while the GUI thread is busy elsewhere.
constexpr int kReceiveBufferBytes = 1 << 20;

bool always(int) {
    return true;
}
bool loggedInStep(int step) {
    return step == SipSession::REG_OK;
}
bool beyondRegTwo(int step) {
    return step > SipSession::REG_TWO;
}
bool fromRegOk(int step) {
    return step >= SipSession::REG_OK;
}
bool inPlayback(int step) {
    return step >= SipSession::REPLAY_PLAYING;
}

bool sameText(const char* a, const char* b) {
    return a != nullptr && qstricmp(a, b) == 0;
}

}  // namespace

struct SipSession::SendRule {
    bool (*allowed)(int step);
    const char* startLog;  // nullptr: none
    const char* errorLog;
    const char* sentLog;  // one %s: the text sent
    int stepAfter;        // -1: unchanged
};

SipSession::SipSession(Logger* log, const ReplaySettings& settings, QObject* parent)
    : QObject(parent),
      m_log(log),
      m_settings(settings),
      m_platAddress(settings.platIp),
      m_timings(SessionTimings::current()),
      m_recvBuffer(new char[kMaxDatagram + 1]),
      m_datagram(new char[kMaxUdpPayload]) {
    const auto latin = [](const QString& s) { return s.toLatin1(); };
    m_codec.setSessionParams(
        latin(settings.hostIp).constData(), latin(settings.hostDevCode).constData(),
        QByteArray::number(settings.hostSipPort).constData(), latin(settings.platIp).constData(),
        latin(settings.platDevCode).constData(), QByteArray::number(settings.platPort).constData(),
        latin(settings.userName).constData(), latin(settings.password).constData(), "0", "0",
        QByteArray::number(settings.sn).constData());
    m_inviteWait = new QTimer(this);
    m_inviteWait->setSingleShot(true);
    connect(m_inviteWait, &QTimer::timeout, this, [this] {
        m_log->printTime3("The INVITE got no final answer; Play is accepted again");
        m_invitePending = false;
    });
}

SipSession::~SipSession() = default;

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

QUdpSocket* SipSession::makeSocket() {
    auto* socket = new QUdpSocket(this);
    socket->bind(QHostAddress(m_settings.hostIp), static_cast<quint16>(m_settings.hostSipPort));
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBufferBytes);
    connect(socket, &QUdpSocket::readyRead, this, &SipSession::onDatagram);
    return socket;
}

void SipSession::checkSocket() {
    if (m_socket != nullptr && m_socket->state() == QAbstractSocket::BoundState &&
        m_socket->bytesAvailable() >= 0) {
        return;
    }
    m_log->printTime3("The m_recvSocket socket is abnormal!!!! restart");
    if (m_socket != nullptr) {
        m_socket->close();
        m_socket->disconnect(this);
        // It may be the socket a receive pass is reading from; it goes once that pass is over.
        m_socket->deleteLater();
    }
    m_socket = makeSocket();
}

qint64 SipSession::sendText(const char* text, int length) {
    if (m_socket == nullptr) {
        return -1;
    }
    return m_socket->writeDatagram(text, length, m_platAddress,
                                   static_cast<quint16>(m_settings.platPort));
}

bool SipSession::lockedSend(const SendRule& rule, const std::function<const char*(int*)>& build) {
    if (!rule.allowed(m_sipStep)) {
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
    sendText(text, length);
    m_log->printTime3(rule.sentLog, text);
    if (rule.stepAfter >= 0) {
        m_sipStep = rule.stepAfter;
    }
    return true;
}

bool SipSession::doRegister(int attempt) {
    QMutexLocker lock(&m_sendLock);
    m_log->printTime3("************* doRegister %d Action *************", attempt);
    checkSocket();
    int length = 0;
    const char* text = m_codec.buildRegister(attempt, &length);
    if (text == nullptr || length <= 0 || length > kMaxDatagram) {
        return false;
    }
    const qint64 written = sendText(text, length);
    m_log->printTime3("Send sip Register %d message len:%d, recvData len: %d, Content:\r\n %s",
                      attempt, length, static_cast<int>(written), text);
    return true;
}

bool SipSession::doSubscribe() {
    static const SendRule rule{loggedInStep, "************* do SUBSCRIBE Action *************",
                               "Send sip SUBSCRIBE message ERROR!!!!",
                               "Send sip SUBSCRIBE message,Content:\r\n%s", -1};
    return lockedSend(rule, [this](int* n) { return m_codec.buildSubscribe(n); });
}

bool SipSession::doCatalogQuery() {
    static const SendRule rule{beyondRegTwo, "************* do 200 OK Action *************",
                               "Send sip MESSAGE message ERROR!!!!",
                               "Send sip MESSAGE message,Content:\r\n%s", -1};
    return lockedSend(rule, [this](int* n) { return m_codec.buildCatalogQuery(n); });
}

bool SipSession::doMessageOk() {
    static const SendRule rule{beyondRegTwo, "************* do MESSAGE Action *************",
                               "Send sip MESSAGE message ERROR!!!!",
                               "Send sip MESSAGE message,Content:\r\n%s", -1};
    return lockedSend(rule, [this](int* n) { return m_codec.buildMessageOk(n); });
}

bool SipSession::sendKeepalive() {
    int length = 0;
    const char* text = m_codec.buildKeepalive(&length);
    if (text == nullptr || length <= 0) {
        return false;
    }
    sendText(text, length);
    m_log->printTime3("###### Send sip SIP_KEEPALIVE message ");
    return true;
}

bool SipSession::autoRelogin() {
    int length = 0;
    const char* text = m_codec.buildRegister(1, &length);
    if (text == nullptr || length <= 0) {
        return false;
    }
    const qint64 written = sendText(text, length);
    m_log->printTime3("Send sip AutoReglogin %d message len:%d,recvData len:%d", 1, length,
                      static_cast<int>(written));
    return true;
}

bool SipSession::doReplayInvite(int32_t start, int32_t end, const QByteArray& cameraCode) {
    static const SendRule rule{fromRegOk, "************* do replay Invite Action *************",
                               "Send sip INVITE message ERROR!!!!",
                               "Send sip INVITE message,Content:\r\n%s", -1};
    const bool sent = lockedSend(rule, [&](int* n) {
        return m_codec.buildPlaybackInvite(n, start, end, cameraCode.constData());
    });
    if (sent) {
        m_invitePending = true;
        m_inviteWait->start(m_timings.inviteWaitMs);
    }
    return sent;
}

bool SipSession::doReplayAck() {
    static const SendRule rule{fromRegOk, "************* do replay Invite Ack Action *************",
                               "Send sip INVITE ACK message ERROR!!!!",
                               "Send sip INVITE ACK message,Content:\r\n%s", REPLAY_PLAYING};
    return lockedSend(rule, [this](int* n) { return m_codec.buildPlaybackAck(n); });
}

bool SipSession::doReplayCtrl(int kind, const QByteArray& scale, int seek) {
    const SendRule rule{inPlayback, "************* do doReplayCtrl Action *************",
                        "Send sip ReplayControl message ERROR!!!!",
                        "Send sip ReplayControl message,Content:\r\n%s",
                        kind == CtrlPause ? REPLAY_PAUSED : REPLAY_PLAYING};
    return lockedSend(rule, [&](int* n) {
        return m_codec.buildPlaybackInfo(n, kind, scale.isNull() ? nullptr : scale.constData(),
                                         seek);
    });
}

bool SipSession::doResponseOKMessage() {
    static const SendRule rule{
        inPlayback, "************* do doResponseOKMessage Action *************",
        "Send sip doResponseOKMessage message ERROR!!!!",
        "Send sip doResponseOKMessage message,Content:\r\n%s", REPLAY_ENDING};
    return lockedSend(rule, [this](int* n) { return m_codec.buildPlaybackMessageOk(n); });
}

bool SipSession::doBYEAction() {
    static const SendRule rule{always, "************* do doBYEAction Action *************",
                               "Send sip doBYEAction message ERROR!!!!",
                               "Send sip doBYEAction message,Content:\r\n%s", REG_OK};
    const bool sent = lockedSend(rule, [this](int* n) { return m_codec.buildPlaybackBye(n); });
    if (sent) {
        emit playbackClosed();
    }
    return sent;
}

bool SipSession::doByeOk() {
    static const SendRule rule{always, "************* do BYE 200 OK Action *************",
                               "Send sip BYE 200 OK message ERROR!!!!",
                               "Send sip BYE 200 OK message,Content:\r\n%s", -1};
    return lockedSend(rule, [this](int* n) { return m_codec.buildByeOk(n); });
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
    emit statusChanged(statusText(kind));
}

void SipSession::timerEvent(QTimerEvent* event) {
    const int id = event->timerId();
    if (id == m_registerTimer && !m_loggedIn) {
        if (m_sipStep == REG_ONE) {
            doRegister(0);
        } else if (m_sipStep == REG_TWO) {
            if (++m_retryCount >= 2) {
                m_sipStep = REG_ONE;
            }
            doRegister(1);
        }
    } else if (id == m_keepaliveTimer && m_loggedIn) {
        sendKeepalive();
    } else if (id == m_reloginTimer && m_loggedIn) {
        autoRelogin();
    }
}

// ---- Receive path ------------------------------------------------------------------------

void SipSession::onDatagram() {
    // A host callback that runs a nested event loop must not re-enter the handler; the pass
    // already running reads what arrives meanwhile.
    if (!m_recvLock.tryLock()) {
        return;
    }
    QElapsedTimer budget;
    budget.start();
    // Each pass ends with a read attempt, also when the socket turned out empty: a read is what
    // re-arms the socket's read notification. A pass that runs out of time leaves the rest to
    // that notification, which lets the timers and the widgets have their turn in between (a
    // zero-time timer here would run ahead of them again).
    while (m_socket != nullptr) {
        if (budget.elapsed() >= kReceiveBudgetMs) {
            break;
        }
        QHostAddress source;
        const qint64 n = m_socket->readDatagram(m_datagram.get(), kMaxUdpPayload, &source);
        if (n < 0) {
            break;
        }
        const QByteArray data = QByteArray::fromRawData(m_datagram.get(), static_cast<int>(n));
        if (acceptDatagram(data, source)) {
            handleDatagram(data);
        }
        emit datagramHandled();
    }
    m_recvLock.unlock();
}

bool SipSession::acceptDatagram(const QByteArray& data, const QHostAddress& source) {
    if (data.isEmpty()) {
        return false;
    }
    // Media sent to our SIP port (the INVITE names it): RTP version 2 in the first two bits.
    const auto first = static_cast<unsigned char>(data.at(0));
    if (first >= 0x80 && first <= 0xBF) {
        return false;
    }
    if (!source.isEqual(m_platAddress, QHostAddress::ConvertV4MappedToIPv4)) {
        const QString who = source.toString();
        if (!m_strangers.contains(who)) {
            m_strangers.insert(who);
            m_log->printTime3("Dropped a datagram from %s: not the platform %s",
                              who.toLatin1().constData(), m_settings.platIp.toLatin1().constData());
        }
        return false;
    }
    return true;
}

void SipSession::handleDatagram(const QByteArray& data) {
    m_log->printTime3("UDP %d, recvive message!", m_settings.hostSipPort);
    const int lineEnd = data.indexOf("\r\n");
    if (lineEnd >= 0) {
        m_lastStatusLine = QString::fromUtf8(data.constData(), lineEnd);
    }
    if (data.size() > kMaxDatagram) {
        m_log->printTime3("The received message is too long: %d", data.size());
        return;
    }
    if (m_log->enabled()) {
        m_log->printTime3("Recv sip message len:%d,Content:\r\n%s", data.size(),
                          QString::fromUtf8(data).toUtf8().constData());
    }
    // The codec reads the raw bytes: catalogue names are GBK and lengths count bytes.
    std::memset(m_recvBuffer.get(), 0, kMaxDatagram + 1);
    std::memcpy(m_recvBuffer.get(), data.constData(), static_cast<size_t>(data.size()));
    if (m_codec.handleIncoming(m_recvBuffer.get(), data.size()) < 0) {
        return;
    }
    dispatch(m_codec.messageKind());
}

void SipSession::dispatch(const std::string& kind) {
    switch (m_sipStep) {
        case REG_ONE:
            onRegOne(kind);
            break;
        case REG_TWO:
            onRegTwo(kind);
            break;
        default:
            onLoggedIn(kind);
            break;
    }
}

void SipSession::onRegOne(const std::string& kind) {
    setStatus(StatusLogin);
    if (kind == "REGISTER") {
        m_retryCount = 0;
        m_sipStep = REG_TWO;
        m_log->printTime3("***** Register 0 Success!");
        doRegister(1);
    } else if (kind == "LOGIN") {
        // A platform that accepts without a challenge.
        logIn();
    } else {
        m_log->printTime3(
            "m_sipStep is REG_ONE, but analyzing result not REGISTER. Error package!");
    }
}

void SipSession::onRegTwo(const std::string& kind) {
    if (kind == "LOGIN") {
        setStatus(StatusLogin);
        logIn();
    } else if (isFinalRegisterFailure()) {
        setStatus(StatusLogin);
        m_sipStep = REG_ONE;
        m_loggedIn = false;
        m_log->printTime3("m_sipStep is REG_TWO, but analyzing result not LOGIN. Error package!");
    }
    // Anything else (a 100 Trying, a request of the platform) waits for the registration.
}

void SipSession::logIn() {
    m_loggedIn = true;
    m_sipStep = REG_OK;
    m_log->printTime3("***** Register 1 Success!");
    doSubscribe();
}

bool SipSession::isFinalRegisterFailure() {
    return m_codec.incomingKind() == CHTTPHdrs::kInResponse && m_codec.incomingStatus() >= 300 &&
           sameText(m_codec.incomingHeader("CSeqType"), "REGISTER");
}

bool SipSession::isFinalInviteFailure() {
    return m_codec.incomingKind() == CHTTPHdrs::kInResponse && m_codec.incomingStatus() >= 300 &&
           sameText(m_codec.incomingHeader("CSeqType"), "INVITE");
}

void SipSession::onLoggedIn(const std::string& kind) {
    using Handler = void (SipSession::*)();
    static const struct {
        const char* kind;
        Handler handler;
    } kTable[] = {
        {"INVITE_200OK", &SipSession::onInvite200},
        {"MESSAGE_REPLAY", &SipSession::onMessageReplay},
        {"INFO_REPLAY", &SipSession::onInfoReplay},
        {"SUBSCRIBE_OK", &SipSession::onSubscribeOk},
        {"MESSAGE_OK", &SipSession::onMessageOkReply},
        {"MESSAGE", &SipSession::onCatalogue},
        {"NOTIFY", &SipSession::onCatalogue},
        {"BYE", &SipSession::onBye},
        {"REGISTER", &SipSession::onChallenge},
    };
    for (const auto& row : kTable) {
        if (kind == row.kind) {
            (this->*row.handler)();
            return;
        }
    }
    if (isFinalInviteFailure()) {
        endInviteWait();
        setStatus(StatusControl);
    }
}

void SipSession::endInviteWait() {
    m_invitePending = false;
    m_inviteWait->stop();
}

void SipSession::onInvite200() {
    endInviteWait();
    doReplayAck();
    emit inviteAnswered();
}

void SipSession::onMessageReplay() {
    doResponseOKMessage();
    doBYEAction();
}

void SipSession::onInfoReplay() {
    setStatus(StatusControl);
}

void SipSession::onSubscribeOk() {
    setStatus(StatusSubscribe);
}

void SipSession::onMessageOkReply() {
    setStatus(StatusControl);
}

void SipSession::onCatalogue() {
    emit catalogueReceived();
}

void SipSession::onBye() {
    if (m_codec.incomingKind() == CHTTPHdrs::kInResponse) {
        return;  // the platform's 200 OK to our own BYE
    }
    doByeOk();
    const auto& calls = m_codec.dialogCallIds();
    const auto it = calls.find("0");
    const bool playbackDialog = it != calls.end() && it->second == m_codec.receivedIds().CallID;
    if (playbackDialog && m_sipStep >= REPLAY_ENDING) {
        m_log->printTime3("The platform ended the playback dialog");
        m_sipStep = REG_OK;
        emit playbackClosed();
    }
}

void SipSession::onChallenge() {
    // The platform restarted or changed its nonce: answer at once, keep the current step.
    m_log->printTime3("Challenged while logged in; registering again");
    doRegister(1);
}
