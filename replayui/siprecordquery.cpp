// The record query: the MESSAGE asking which recordings of a camera exist in a span, and the
// pages of the platform's answer, each answered at once and handed on to whoever assembles them.
#include "Logger.h"
#include "sipsessionrules.h"
#include "siptexts.h"

bool SipSession::doRecordInfoQuery(const QByteArray& cameraCode, const QDateTime& start,
                                   const QDateTime& end, uint32_t sn, QByteArray* callId) {
    static const SendRule rule{steps::fromRegOk,
                               "************* do RecordInfo query Action *************",
                               "Send sip RecordInfo message ERROR!!!!",
                               "Send sip RecordInfo message,Content:\r\n%s",
                               -1,
                               SendRule::Request,
                               Purpose::RecordQuery};
    const bool sent = lockedSend(rule, [&](int* n) {
        return m_codec.buildRecordInfoQuery(n, cameraCode.constData(), start, end, sn);
    });
    if (sent && callId != nullptr) {
        *callId = QByteArray::fromStdString(siptexts::header(m_lastSent, "Call-ID"));
    }
    return sent;
}

// Answered first: a platform that waits for each 200 OK before its next page is not held up
// by the assembling.
void SipSession::onRecordPage() {
    doMessageOk();
    emit recordPageReceived();
}

// The answer to the query itself says nothing to the operator: the pages that follow do.
void SipSession::onRecordQueryAnswer(Transaction& t, int status) {
    if (status >= 300) {
        m_log->printTime3("The record query (Call-ID %s) was answered %d", t.key.callId.c_str(),
                          status);
    }
    emit recordQueryAnswered(QByteArray::fromStdString(t.key.callId), status);
}
