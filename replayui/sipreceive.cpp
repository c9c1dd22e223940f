// The receive path: every datagram off the socket is routed (SIP, media, stranger), a response
// goes to the transaction it answers or is dropped, and a request of the platform is acted on
// once, a copy of it getting the same answer again.
#include <QTimer>
#include <QUdpSocket>
#include <algorithm>
#include <cstring>

#include "Logger.h"
#include "rtpreader.h"
#include "sipsession.h"
#include "siptexts.h"

namespace {

// Receive work done in one pass of the event loop before the rest of the GUI gets a turn.
constexpr qint64 kReceiveBudgetMs = 2;
// Sources not the platform that are reported one by one; later ones are only counted.
constexpr int kReportedStrangers = 64;
// Bytes of a received datagram written to the log; a hostile one may be 30 KB of junk.
constexpr int kLoggedBytes = 2048;
constexpr int kStatusLineBytes = 256;

// True the first time a source is seen, for the first kReportedStrangers sources; the one after
// them gets `overflow` (with that number) logged instead, and later ones nothing.
bool firstReport(QSet<QString>& seen, const QString& who, Logger* log, const char* overflow) {
    if (seen.contains(who) || seen.size() > kReportedStrangers) {
        return false;
    }
    seen.insert(who);
    if (seen.size() > kReportedStrangers) {
        log->printTime3(overflow, kReportedStrangers);
        return false;
    }
    return true;
}

}  // namespace

void SipSession::onDatagram() {
    // A host callback that runs a nested event loop must not re-enter the handler; the pass
    // already running reads what arrives meanwhile. Nor does a notification while the next pass
    // waits its turn: unread, Qt leaves the socket's notification off until that pass reads.
    if (m_shutDown || m_nextReceivePass->isActive() || !m_recvLock.tryLock()) {
        return;
    }
    QElapsedTimer budget;
    budget.start();
    bool outOfTime = false;
    while (m_socket != nullptr && !m_shutDown) {
        if (budget.elapsed() >= kReceiveBudgetMs) {
            outOfTime = true;
            break;
        }
        QHostAddress source;
        const qint64 n = m_socket->readDatagram(m_datagram.get(), kMaxUdpPayload, &source);
        if (n < 0) {
            break;  // also re-arms the socket's read notification
        }
        receive(QByteArray::fromRawData(m_datagram.get(), static_cast<int>(n)), source);
        emit datagramHandled();
    }
    m_recvLock.unlock();
    if (outOfTime) {
        // The rest waits its turn behind the timers and the widgets: a timer, since Qt serves
        // timers only once nothing else is ready, and a socket always ready (or a pass queued
        // as an event) would hold them off for as long as a burst lasts. The next pass also
        // re-arms the read notification, which Qt leaves off when a nested event loop saw it
        // while this pass held the lock: without it the socket would go deaf.
        m_nextReceivePass->start(0);
    }
}

SipSession::Route SipSession::route(const QByteArray& data, const QHostAddress& source) const {
    if (data.isEmpty()) {
        return Route::Empty;
    }
    // Media sent to our SIP port (the INVITE names it): RTP version 2 in the first two bits.
    const auto first = static_cast<unsigned char>(data.at(0));
    if (first >= 0x80 && first <= 0xBF) {
        return Route::Media;
    }
    if (!source.isEqual(m_platAddress, QHostAddress::ConvertV4MappedToIPv4)) {
        return Route::Stranger;
    }
    return Route::Sip;
}

void SipSession::receive(const QByteArray& data, const QHostAddress& source) {
    ++m_stats.datagrams;
    switch (route(data, source)) {
        case Route::Empty:
            return;
        case Route::Media:
            onMediaDatagram(data, source);
            return;
        case Route::Stranger:
            noteStranger(source);
            return;
        case Route::Sip:
            onSipDatagram(data);
            return;
    }
}

// The open playback's RTP goes to the media sink; the rest of the RTP range is dropped, with one
// log line per source.
void SipSession::onMediaDatagram(const QByteArray& data, const QHostAddress& source) {
    ++m_stats.media;
    if (const char* why = mediaRefusal(data, source)) {
        ++m_stats.mediaDropped;
        noteDroppedMedia(source, why);
        return;
    }
    if (m_mediaSink) {
        // A copy: the read buffer takes the next datagram while the pipeline still holds this one.
        m_mediaSink(QByteArray(data.constData(), data.size()));
    }
}

const char* SipSession::mediaRefusal(const QByteArray& data, const QHostAddress& source) const {
    if (!media::isRtpDatagram(reinterpret_cast<const uint8_t*>(data.constData()),
                              static_cast<size_t>(data.size()))) {
        return "not RTP";
    }
    if (m_sipStep < REPLAY_ENDING) {
        return "no playback is open";
    }
    const auto mode = QHostAddress::ConvertV4MappedToIPv4;
    if (source.isEqual(m_platAddress, mode) ||
        (!m_mediaPeer.isNull() && source.isEqual(m_mediaPeer, mode))) {
        return nullptr;
    }
    return "neither the platform nor the media address of its answer";
}

void SipSession::noteDroppedMedia(const QHostAddress& source, const char* why) {
    const QString who = source.toString();
    if (firstReport(
            m_mediaStrangers, who, m_log,
            "More than %d sources sent media that was dropped; later ones are not logged")) {
        m_log->printTime3("Dropped media from %s: %s", who.toLatin1().constData(), why);
    }
}

void SipSession::noteStranger(const QHostAddress& source) {
    ++m_stats.strangers;
    const QString who = source.toString();
    if (firstReport(m_strangers, who, m_log,
                    "More than %d other sources sent datagrams; later ones are dropped "
                    "without a log line")) {
        m_log->printTime3("Dropped a datagram from %s: not the platform %s",
                          who.toLatin1().constData(), m_settings.platIp.toLatin1().constData());
    }
}

void SipSession::onSipDatagram(const QByteArray& data) {
    m_log->printTime3("UDP %d, recvive message!", m_settings.hostSipPort);
    if (data.size() > kMaxDatagram) {
        ++m_stats.tooLong;
        m_log->printTime3("The received message is too long: %d", data.size());
        return;
    }
    // The codec reads the raw bytes: catalogue names are GBK and lengths count bytes.
    const int length = data.size();
    std::memcpy(m_recvBuffer.get(), data.constData(), static_cast<size_t>(length));
    m_recvBuffer[static_cast<size_t>(length)] = '\0';
    const int headerLength = m_codec.parseHeaders(m_recvBuffer.get(), length);
    if (headerLength <= 0) {
        ++m_stats.malformed;
        m_log->printTime3(
            "Dropped a datagram that is not a whole SIP message: %s",
            m_codec.parseError().empty() ? "incomplete" : m_codec.parseError().c_str());
        return;
    }
    if (m_codec.incomingKind() == CHTTPHdrs::kInResponse) {
        onResponse(data, length, headerLength);
    } else {
        onRequest(data, length, headerLength);
    }
}

sip::RequestKey SipSession::incomingKey() const {
    sip::RequestKey key;
    if (const char* via = m_codec.incomingHeader("Via")) {
        // The table keeps the last Via line; the top one is the first received.
        const std::vector<std::string> vias = m_codec.incomingVias();
        key.branch = siptexts::viaBranch(vias.empty() ? std::string(via) : vias.front());
    }
    const char* cseq = m_codec.incomingHeader("CSeq");
    if (cseq != nullptr) {
        siptexts::cseqNumber(cseq, &key.cseq);
        key.method = siptexts::cseqMethod(cseq);
    }
    const char* callId = m_codec.incomingHeader("Call-ID");
    key.callId = callId != nullptr ? callId : "";
    return key;
}

void SipSession::onResponse(const QByteArray& data, int length, int headerLength) {
    Transaction* t = m_transactions.match(incomingKey());
    if (t == nullptr) {
        ++m_stats.unmatched;
        const int lineEnd = data.indexOf("\r\n");
        m_log->printTime3("Dropped an answer to no request of ours: %.*s",
                          std::min(lineEnd < 0 ? data.size() : lineEnd, kStatusLineBytes),
                          data.constData());
        return;
    }
    logReceived(data);
    const int status = m_codec.incomingStatus();
    using Arrival = sip::ClientTransactions::Arrival;
    const Arrival arrival = m_transactions.onResponse(*t, status);
    if (arrival == Arrival::Provisional) {
        if (static_cast<Purpose>(t->purpose) == Purpose::Invite) {
            onInviteProvisional(*t);
        }
    } else if (arrival == Arrival::Repeat) {
        if (!t->ack.empty()) {
            sendText(t->ack);
            m_log->printTime3("The answer came again; the same ACK sent again");
        }
    } else if (t->abandoned) {
        onAbandonedInviteAnswer(*t, status);  // only INVITEs are abandoned
    } else if (arrival == Arrival::Late) {
        m_log->printTime3("A late answer to a request given up; nothing changes");
    } else {
        rememberStatusLine(data);
        // The challenge, the span and the remote tag.
        m_codec.handleParsed(m_recvBuffer.get(), length, headerLength);
        onFinalAnswer(*t, status);
    }
    armTransactionTimer();
}

void SipSession::onRequest(const QByteArray& data, int length, int headerLength) {
    const sip::RequestKey key = incomingKey();
    if (const std::string* answer = m_answered.find(key)) {
        ++m_stats.repeated;
        sendText(*answer);
        m_log->printTime3("%s %u came again; the same answer sent again", key.method.c_str(),
                          key.cseq);
        return;
    }
    logReceived(data);
    rememberStatusLine(data);
    if (m_codec.handleParsed(m_recvBuffer.get(), length, headerLength) < 0) {
        ++m_stats.malformed;
        m_log->printTime3("Dropped a request that does not read: %s", m_codec.parseError().c_str());
        return;
    }
    m_answering = true;
    m_answeringKey = key;
    dispatchRequest(m_codec.messageKind());
    m_answering = false;
}

void SipSession::logReceived(const QByteArray& data) {
    if (!m_log->enabled()) {
        return;
    }
    const QByteArray shown = data.left(kLoggedBytes);
    m_log->printTime3("Recv sip message len:%d,Content:\r\n%s%s", data.size(),
                      QString::fromUtf8(shown).toUtf8().constData(),
                      data.size() > kLoggedBytes ? "\r\n[...]" : "");
}

void SipSession::rememberStatusLine(const QByteArray& data) {
    const int lineEnd = data.indexOf("\r\n");
    if (lineEnd >= 0) {
        m_lastStatusLine = QString::fromUtf8(data.constData(), std::min(lineEnd, kStatusLineBytes));
    }
}

void SipSession::dispatchRequest(const std::string& kind) {
    if (m_sipStep == REG_ONE) {
        onRequestInRegOne();
    } else if (m_sipStep != REG_TWO) {
        onRequestLoggedIn(kind);
    }
    // In REG_TWO a request of the platform waits for the registration's answer.
}

void SipSession::onRequestInRegOne() {
    setStatus(StatusLogin);
    m_log->printTime3("m_sipStep is REG_ONE, but analyzing result not REGISTER. Error package!");
}

void SipSession::onRequestLoggedIn(const std::string& kind) {
    if (kind == "MESSAGE" && m_codec.bodyCommand() == manscdp::Command::RecordInfo) {
        onRecordPage();
        return;
    }
    using Handler = void (SipSession::*)();
    static const struct {
        const char* kind;
        Handler handler;
    } kTable[] = {
        {"MESSAGE_REPLAY", &SipSession::onMessageReplay},
        {"MESSAGE", &SipSession::onPlatformMessage},
        {"NOTIFY", &SipSession::onNotify},
        {"BYE", &SipSession::onBye},
    };
    for (const auto& row : kTable) {
        if (kind == row.kind) {
            (this->*row.handler)();
            return;
        }
    }
}

// The platform's end-of-recording notice inside the dialog: answered, then the dialog ended.
void SipSession::onMessageReplay() {
    if (m_sipStep < REPLAY_PLAYING) {
        // The dialog already ended here (the platform had forgotten it): only the answer.
        doMessageOk();
        return;
    }
    doResponseOKMessage();
    doBYEAction();
}

void SipSession::onBye() {
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
