#pragma once
// The console's SIP client session: one UDP socket to the video platform, registration,
// keepalive, the 15-minute re-registration and the playback dialog. Texts come from CCTVCAR;
// this class decides when to send what, keeps every request it sends as a transaction until it
// is answered, and reports what the platform answered.
//
// Its code is split by what it does: sipsession.cpp (socket, sending, timers, transactions),
// sipregistration.cpp, sipplayback.cpp (the playback dialog), sipreceive.cpp (the receive
// path: routing, matching answers to transactions, the platform's requests),
// siprecordquery.cpp (the record query and the pages of its answer) and
// sipsubscription.cpp (the catalogue subscription kept alive, NOTIFYs and MESSAGEs answered).
#include <QDateTime>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "replaysettings.h"
#include "sessiontimings.h"
#include "sipcodec.h"
#include "siptransactions.h"
#include "subscription.h"

class Logger;
class QTimer;
class QUdpSocket;

class SipSession : public QObject {
    Q_OBJECT
public:
    enum Step {
        REG_ONE = 0,
        REG_TWO = 1,
        REG_OK = 2,
        REPLAY_ENDING = 5,
        REPLAY_PLAYING = 7,
        REPLAY_PAUSED = 8,
    };
    enum StatusKind { StatusNone = 0, StatusLogin = 1, StatusSubscribe = 2, StatusControl = 3 };
    enum CtrlKind { CtrlPause = 1, CtrlResume = 2, CtrlSpeed = 3, CtrlSeek = 4 };
    // What a request we send is for: decides what its answer, or its giving up, does.
    enum class Purpose {
        Register,      // plain REGISTER (REG_ONE)
        RegisterAuth,  // REGISTER with credentials after a challenge (REG_TWO)
        Relogin,       // the 15-minute REGISTER
        ReRegister,    // REGISTER answering a challenge while logged in
        Subscribe,
        Keepalive,
        CatalogQuery,
        Invite,
        Info,
        Bye,
        Cancel,
        HangUp,  // BYE for a dialog the operator gave up before it was answered
        // Which recordings of a camera exist in a span.
        RecordQuery,
    };
    // Counts of the receive path, by what became of each datagram.
    struct ReceiveStats {
        quint64 datagrams = 0;     // read off the socket
        quint64 media = 0;         // RTP on the SIP port
        quint64 mediaDropped = 0;  // ... not RTP, outside a playback, or from another source
        quint64 strangers = 0;     // not from the platform
        quint64 tooLong = 0;
        quint64 malformed = 0;
        quint64 unmatched = 0;  // answers to no request of ours
        quint64 repeated = 0;   // requests answered before, answered again
    };

    static constexpr int kMaxDatagram = 30720;
    static constexpr int kMaxUdpPayload = 65536;

    SipSession(Logger* log, const ReplaySettings& settings, QObject* parent = nullptr);
    ~SipSession() override;

    // Socket, first REGISTER, timers.
    void startSession();
    // Ends what is open with the platform (BYE for a playback, CANCEL for a waiting INVITE),
    // then closes the socket and stops every timer. The session does nothing more afterwards.
    void shutdown();

    int step() const { return m_sipStep; }
    bool loggedIn() const { return m_loggedIn; }
    bool invitePending() const { return m_inviteTx != 0; }
    int retryCount() const { return m_retryCount; }
    const QString& lastStatusLine() const { return m_lastStatusLine; }
    CCTVCAR& codec() { return m_codec; }
    QUdpSocket* socket() const { return m_socket; }
    const ReceiveStats& receiveStats() const { return m_stats; }
    int reportedStrangers() const { return m_strangers.size(); }
    const sip::ClientTransactions& transactions() const { return m_transactions; }
    const sub::Keeper& subscription() const { return m_subscription; }

    // Where the RTP of the open playback goes: each datagram from the platform (or the address
    // its answer's SDP names) while the dialog is open, as a copy of its own.
    using MediaSink = std::function<void(const QByteArray& datagram)>;
    void setMediaSink(MediaSink sink) { m_mediaSink = std::move(sink); }

    // Send actions; each returns true when a datagram went out.
    bool doRegister(int attempt);
    bool doSubscribe();
    bool doCatalogQuery();
    bool doMessageOk();
    bool sendKeepalive();
    bool autoRelogin();
    bool doReplayInvite(qint64 start, qint64 end, const QByteArray& cameraCode);
    bool doReplayAck();
    bool doReplayCtrl(int kind, const QByteArray& scale = QByteArray(), int seek = -1);
    bool doResponseOKMessage();
    bool doBYEAction();
    bool doByeOk();
    // The record list of a camera for a span (siprecordquery.cpp); sn tells its answer apart.
    // callId, when given, receives the Call-ID of the query sent.
    bool doRecordInfoQuery(const QByteArray& cameraCode, const QDateTime& start,
                           const QDateTime& end, uint32_t sn, QByteArray* callId = nullptr);
    // Stop: BYE while playing or paused; while the INVITE waits, it is given up (CANCEL once
    // the platform has answered provisionally; ACK then BYE should it still accept). The form
    // is idle at once either way.
    void stopPlayback();

    // Texts of the status label for a kind; strips "SIP/2.0" from the remembered start line.
    QString statusText(int kind);
    // The status text last reported (also one reported before anybody listened).
    const QString& shownStatus() const { return m_shownStatus; }

signals:
    void statusChanged(const QString& text);
    // The platform answered the playback INVITE; the record times are in codec().
    void inviteAnswered();
    // A MESSAGE or NOTIFY with a catalogue arrived while logged in, and was answered; codec()
    // holds its catalogue.
    void catalogueReceived();
    // The playback dialog ended (BYE sent or received); the form returns to idle.
    void playbackClosed();
    // An INFO of the playback went out: kind (CtrlKind), the scale text, the seek seconds.
    void playbackControlSent(int kind, const QByteArray& scale, int seekSeconds);
    // One datagram went through the receive handler (dropped ones included).
    void datagramHandled();
    // Logged in (REG_OK reached from REG_TWO or REG_ONE).
    void loggedInChanged(bool loggedIn);
    // Registered again while logged in, after the platform challenged a request: it may have
    // restarted and forgotten the subscription.
    void registrationRenewed();
    // A SUBSCRIBE got its final answer (408 when it was given up).
    void subscribeAnswered(int status);
    // A page of a record answer arrived and was answered; codec() holds it (recordPage(),
    // bodyNotes()).
    void recordPageReceived();
    // A record query got its final answer (408 when it was given up).
    void recordQueryAnswered(const QByteArray& callId, int status);
    // A SUBSCRIBE or a catalogue query went out: the whole catalogue is coming.
    void catalogueRequested();

public slots:
    void onDatagram();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    struct SendRule;
    struct AnswerRule;
    using BuildFn = std::function<const char*(int*)>;
    using Transaction = sip::ClientTransactions::Transaction;

    // ---- sending (sipsession.cpp)
    bool lockedSend(const SendRule& rule, const BuildFn& build);
    qint64 sendText(const char* text, int length);
    qint64 sendText(const std::string& text);
    bool sendRequest(Purpose purpose, const std::string& text);
    void checkSocket();
    QUdpSocket* makeSocket();
    bool bindSocket(QUdpSocket* socket);
    void setStatus(int kind);
    void showStatusLine(int kind, const char* statusLine);
    qint64 now() const { return m_clock.elapsed(); }

    // ---- transactions (sipsession.cpp)
    void runTransactionTimers();
    void armTransactionTimer();
    void armAt(QTimer* timer, qint64 at);
    void onGiveUp(Transaction& t);
    void onFinalAnswer(Transaction& t, int status);
    const AnswerRule& answerRule(Purpose purpose) const;

    // ---- registration (sipregistration.cpp)
    bool sendRegister(Purpose purpose, int attempt);
    bool registerAllowedNow(Purpose purpose, int attempt);
    void onRegisterTimer();
    void onRegisterAnswer(Transaction& t, int status);
    void onReloginAnswer(Transaction& t, int status);
    void onReRegisterAnswer(Transaction& t, int status);
    void onChallengedWhileLoggedIn();
    void logIn();
    void loseRegistration(int status);
    void backOff();
    void onMessageAnswer(Transaction& t, int status);

    // ---- catalogue subscription, NOTIFYs and MESSAGEs (sipsubscription.cpp)
    void setUpSubscription();
    void onLoginChanged(bool loggedIn);
    void onRegisteredAgain();
    void armSubscriptionTimer();
    void runSubscriptionTimer();
    void onSubscribeSent();
    void onSubscribeAnswer(Transaction& t, int status);
    void onPlatformMessage();
    void onNotify();
    void routeBody();
    void answerEnded();

    // ---- playback dialog (sipplayback.cpp)
    void onInviteAnswer(Transaction& t, int status);
    void onInviteProvisional(Transaction& t);
    void rememberMediaPeer();
    void onAbandonedInviteAnswer(Transaction& t, int status);
    void onInfoAnswer(Transaction& t, int status);
    void onByeAnswer(Transaction& t, int status);
    void onHousekeepingAnswer(Transaction& t, int status);
    void giveUpInvite();
    void sendCancel(Transaction& invite);
    void closePlaybackHere(const char* why);
    void endPlaybackDialog();
    std::string freshBranch();

    // ---- receive path (sipreceive.cpp)
    enum class Route { Sip, Media, Stranger, Empty };
    Route route(const QByteArray& data, const QHostAddress& source) const;
    void receive(const QByteArray& data, const QHostAddress& source);
    void noteStranger(const QHostAddress& source);
    void onMediaDatagram(const QByteArray& data, const QHostAddress& source);
    const char* mediaRefusal(const QByteArray& data, const QHostAddress& source) const;
    void noteDroppedMedia(const QHostAddress& source, const char* why);
    void onSipDatagram(const QByteArray& data);
    sip::RequestKey incomingKey() const;
    // headerLength: what the codec's parseHeaders() gave for these bytes, read already.
    void onResponse(const QByteArray& data, int length, int headerLength);
    void onRequest(const QByteArray& data, int length, int headerLength);
    void logReceived(const QByteArray& data);
    void rememberStatusLine(const QByteArray& data);
    void dispatchRequest(const std::string& kind);
    void onRequestInRegOne();
    void onRequestLoggedIn(const std::string& kind);
    void onMessageReplay();
    void onBye();
    // ---- record query (siprecordquery.cpp)
    void onRecordPage();
    void onRecordQueryAnswer(Transaction& t, int status);

    Logger* m_log;
    ReplaySettings m_settings;
    QHostAddress m_platAddress;
    SessionTimings m_timings;
    QElapsedTimer m_clock;
    CCTVCAR m_codec;
    QMutex m_sendLock;
    QMutex m_recvLock;
    QUdpSocket* m_socket = nullptr;
    bool m_bindFailed = false;  // the SIP port was taken: nothing is sent until it binds
    qint64 m_lastBindAttempt = 0;
    bool m_shutDown = false;
    int m_sipStep = REG_ONE;
    int m_retryCount = 0;
    bool m_loggedIn = false;
    int m_registerTimer = -1;
    int m_keepaliveTimer = -1;
    int m_reloginTimer = -1;

    sip::ClientTransactions m_transactions;
    sip::AnsweredRequests m_answered;
    QTimer* m_transactionTimer = nullptr;
    QTimer* m_nextReceivePass = nullptr;  // a receive pass out of its budget goes on here
    QTimer* m_registerPacer = nullptr;    // the next REGISTER after a refusal
    sub::Keeper m_subscription;
    QTimer* m_subscriptionTimer = nullptr;
    bool m_everLoggedIn = false;
    std::string m_replyText;  // an answer the codec builds only in part
    int m_pacedAttempt = 0;
    qint64 m_backoffMs = 0;          // 0: no refusal since the last login
    qint64 m_lastRegisterAt = -1;    // when the last new REGISTER went out
    uint64_t m_inviteTx = 0;         // the INVITE the form waits for; 0: none
    bool m_answering = false;        // a request of the platform is being dealt with
    sip::RequestKey m_answeringKey;  // ... and this is it
    std::string m_lastSent;          // text of the last datagram a send action sent

    QString m_lastStatusLine;
    QString m_shownStatus;
    ReceiveStats m_stats;
    QSet<QString> m_strangers;       // sources already reported as not the platform
    QSet<QString> m_mediaStrangers;  // sources already reported for media dropped
    MediaSink m_mediaSink;
    QHostAddress m_mediaPeer;              // the "c=" address of the open playback's answer
    std::unique_ptr<char[]> m_recvBuffer;  // what the codec reads, zero-terminated
    std::unique_ptr<char[]> m_datagram;    // one datagram as it comes off the socket
};
