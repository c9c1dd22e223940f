// The playback dialog: INVITE, ACK, INFO and BYE, the answers to them, and the INVITEs the
// operator gave up (CANCEL, or ACK then BYE should the platform accept one anyway).
#include "Logger.h"
#include "sipsessionrules.h"
#include "siptexts.h"

bool SipSession::doReplayInvite(qint64 start, qint64 end, const QByteArray& cameraCode) {
    static const SendRule rule{steps::fromRegOk,
                               "************* do replay Invite Action *************",
                               "Send sip INVITE message ERROR!!!!",
                               "Send sip INVITE message,Content:\r\n%s",
                               -1,
                               SendRule::Request,
                               Purpose::Invite};
    if (invitePending()) {
        return false;  // one INVITE at a time
    }
    return lockedSend(rule, [&](int* n) {
        return m_codec.buildPlaybackInvite(n, start, end, cameraCode.constData());
    });
}

bool SipSession::doReplayAck() {
    static const SendRule rule{steps::fromRegOk,
                               "************* do replay Invite Ack Action *************",
                               "Send sip INVITE ACK message ERROR!!!!",
                               "Send sip INVITE ACK message,Content:\r\n%s",
                               REPLAY_PLAYING,
                               SendRule::Plain,
                               Purpose::Invite};
    return lockedSend(rule, [this](int* n) { return m_codec.buildPlaybackAck(n); });
}

bool SipSession::doReplayCtrl(int kind, const QByteArray& scale, int seek) {
    const SendRule rule{steps::inPlayback,
                        "************* do doReplayCtrl Action *************",
                        "Send sip ReplayControl message ERROR!!!!",
                        "Send sip ReplayControl message,Content:\r\n%s",
                        kind == CtrlPause ? REPLAY_PAUSED : REPLAY_PLAYING,
                        SendRule::Request,
                        Purpose::Info};
    const bool sent = lockedSend(rule, [&](int* n) {
        return m_codec.buildPlaybackInfo(n, kind, scale.isNull() ? nullptr : scale.constData(),
                                         seek);
    });
    if (sent) {
        emit playbackControlSent(kind, scale, seek);
    }
    return sent;
}

bool SipSession::doResponseOKMessage() {
    static const SendRule rule{steps::inPlayback,
                               "************* do doResponseOKMessage Action *************",
                               "Send sip doResponseOKMessage message ERROR!!!!",
                               "Send sip doResponseOKMessage message,Content:\r\n%s",
                               REPLAY_ENDING,
                               SendRule::Answer,
                               Purpose::Invite};
    return lockedSend(rule, [this](int* n) { return m_codec.buildPlaybackMessageOk(n); });
}

bool SipSession::doBYEAction() {
    static const SendRule rule{steps::always,
                               "************* do doBYEAction Action *************",
                               "Send sip doBYEAction message ERROR!!!!",
                               "Send sip doBYEAction message,Content:\r\n%s",
                               REG_OK,
                               SendRule::Request,
                               Purpose::Bye};
    const bool sent = lockedSend(rule, [this](int* n) { return m_codec.buildPlaybackBye(n); });
    if (sent) {
        emit playbackClosed();
    }
    return sent;
}

bool SipSession::doByeOk() {
    static const SendRule rule{steps::always,
                               "************* do BYE 200 OK Action *************",
                               "Send sip BYE 200 OK message ERROR!!!!",
                               "Send sip BYE 200 OK message,Content:\r\n%s",
                               -1,
                               SendRule::Answer,
                               Purpose::Bye};
    return lockedSend(rule, [this](int* n) { return m_codec.buildByeOk(n); });
}

// The session leaves the dialog whether or not its BYE can go out.
void SipSession::endPlaybackDialog() {
    if (!doBYEAction()) {
        closePlaybackHere("The BYE could not be sent");
    }
}

void SipSession::stopPlayback() {
    if (m_sipStep == REPLAY_PLAYING || m_sipStep == REPLAY_PAUSED) {
        doBYEAction();
    } else if (invitePending()) {
        m_log->printTime3("Stop while the INVITE waits: it is given up");
        giveUpInvite();
    }
}

// The form stops waiting at once; the transaction runs on only to end what its answer opens.
void SipSession::giveUpInvite() {
    Transaction* t = m_transactions.find(m_inviteTx);
    m_inviteTx = 0;
    if (t == nullptr) {
        return;
    }
    t->abandoned = true;
    // RFC 3261 §9.1: a CANCEL only once the platform answered provisionally.
    if (t->provisional && (t->state == sip::ClientTransactions::State::Proceeding ||
                           t->state == sip::ClientTransactions::State::TimedOut)) {
        sendCancel(*t);
    } else {
        t->cancelDue = t->state == sip::ClientTransactions::State::Calling;
    }
}

void SipSession::sendCancel(Transaction& invite) {
    invite.cancelDue = false;
    m_log->printTime3("************* do CANCEL Action *************");
    if (!sendRequest(Purpose::Cancel, siptexts::cancelFor(invite.request))) {
        m_log->printTime3("Send sip CANCEL message ERROR!!!!");
    }
}

// The answer's SDP may name another address the stream comes from (the platform's media server).
void SipSession::rememberMediaPeer() {
    const std::string address = siptexts::sdpConnectionAddress(m_recvBuffer.get());
    m_mediaPeer = QHostAddress(QString::fromStdString(address));
    if (!address.empty() && m_mediaPeer.isNull()) {
        m_log->printTime3(
            "The answer's media address %s is not an IP address; media is taken "
            "from the platform only",
            address.c_str());
    }
}

void SipSession::onInviteProvisional(Transaction& t) {
    if (t.abandoned && t.cancelDue) {
        sendCancel(t);
    }
}

std::string SipSession::freshBranch() {
    m_codec.newIdentifiers();
    return m_codec.localIds().branch;
}

void SipSession::onInviteAnswer(Transaction& t, int status) {
    if (t.abandoned) {
        onAbandonedInviteAnswer(t, status);
        return;
    }
    if (t.state == sip::ClientTransactions::State::TimedOut) {
        m_log->printTime3("The INVITE got no final answer; Play is accepted again");
        giveUpInvite();
        setStatus(StatusControl);
        return;
    }
    m_inviteTx = 0;
    if (status < 300) {
        rememberMediaPeer();
        if (doReplayAck()) {
            t.ack = m_lastSent;  // a repeated 2xx gets this same ACK
        }
        emit inviteAnswered();
        return;
    }
    const char* to = m_codec.incomingHeader("To");
    t.ack = siptexts::ackFor(t.request, to != nullptr ? to : "");
    sendText(t.ack);
    setStatus(StatusControl);
}

// An answer the operator no longer waits for opens nothing: a 2xx is acknowledged and its
// dialog ended at once, so that no stream is left running; a failure is acknowledged.
void SipSession::onAbandonedInviteAnswer(Transaction& t, int status) {
    if (t.state == sip::ClientTransactions::State::TimedOut) {
        return;  // given up after Stop: nothing arrived to deal with
    }
    const char* toValue = m_codec.incomingHeader("To");
    const std::string to = toValue != nullptr ? toValue : "";
    const std::string via = siptexts::header(t.request, "Via");
    if (status >= 300) {
        t.ack = siptexts::ackFor(t.request, to);
        sendText(t.ack);
        return;
    }
    m_log->printTime3("The platform accepted an INVITE that was given up; ending that dialog");
    t.ack = siptexts::ackFor(t.request, to, siptexts::withBranch(via, freshBranch()));
    sendText(t.ack);
    m_log->printTime3("Send sip INVITE ACK message,Content:\r\n%s", t.ack.c_str());
    if (!sendRequest(Purpose::HangUp,
                     siptexts::byeFor(t.request, to, siptexts::withBranch(via, freshBranch())))) {
        m_log->printTime3("Send sip doBYEAction message ERROR!!!!");
    }
}

void SipSession::onInfoAnswer(Transaction& t, int status) {
    setStatus(StatusControl);
    const auto& calls = m_codec.dialogCallIds();
    const auto dialog = calls.find("0");
    const bool sameDialog = dialog != calls.end() && dialog->second == t.key.callId;
    if (!sameDialog || m_sipStep < REPLAY_PLAYING) {
        return;
    }
    // RFC 3261 §12.2.1.2: a 481 or 408 to a request inside the dialog ends the dialog.
    if (status == 408) {
        endPlaybackDialog();  // the platform may still be sending
    } else if (status == 481) {
        closePlaybackHere("The platform no longer knows the playback dialog");
    }
}

void SipSession::onByeAnswer(Transaction& /*t*/, int status) {
    if (status >= 300) {
        setStatus(StatusControl);
    }
}

void SipSession::onHousekeepingAnswer(Transaction& t, int status) {
    m_log->printTime3("%s %u (Call-ID %s) answered %d", t.key.method.c_str(), t.key.cseq,
                      t.key.callId.c_str(), status);
}

void SipSession::closePlaybackHere(const char* why) {
    m_log->printTime3("%s; the playback is closed here", why);
    m_sipStep = REG_OK;
    emit playbackClosed();
}
