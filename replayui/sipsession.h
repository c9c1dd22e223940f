#pragma once
// The console's SIP client session: one UDP socket to the video platform, registration,
// keepalive, the 15-minute re-registration and the playback dialog's send actions. Texts come
// from CCTVCAR; this class decides when to send what, and reports what the platform answered.
#include <QElapsedTimer>
#include <QHostAddress>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <memory>

#include "sipcodec.h"
#include "replaysettings.h"
#include "sessiontimings.h"

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
    enum StatusKind { StatusLogin = 1, StatusSubscribe = 2, StatusControl = 3 };
    enum CtrlKind { CtrlPause = 1, CtrlResume = 2, CtrlSpeed = 3, CtrlSeek = 4 };

    static constexpr int kMaxDatagram = 30720;
    static constexpr int kMaxUdpPayload = 65536;

    SipSession(Logger* log, const ReplaySettings& settings, QObject* parent = nullptr);
    ~SipSession() override;

    // Socket, first REGISTER, timers.
    void startSession();

    int step() const { return m_sipStep; }
    bool loggedIn() const { return m_loggedIn; }
    bool invitePending() const { return m_invitePending; }
    int retryCount() const { return m_retryCount; }
    const QString& lastStatusLine() const { return m_lastStatusLine; }
    CCTVCAR& codec() { return m_codec; }
    QUdpSocket* socket() const { return m_socket; }

    // Send actions; each returns true when a datagram went out.
    bool doRegister(int attempt);
    bool doSubscribe();
    bool doCatalogQuery();
    bool doMessageOk();
    bool sendKeepalive();
    bool autoRelogin();
    bool doReplayInvite(int32_t start, int32_t end, const QByteArray& cameraCode);
    bool doReplayAck();
    bool doReplayCtrl(int kind, const QByteArray& scale = QByteArray(), int seek = -1);
    bool doResponseOKMessage();
    bool doBYEAction();
    bool doByeOk();

    // Texts of the status label for a kind; strips "SIP/2.0" from the remembered start line.
    QString statusText(int kind);

signals:
    void statusChanged(const QString& text);
    // The platform answered the playback INVITE; the record times are in codec().
    void inviteAnswered();
    // A MESSAGE or NOTIFY arrived while logged in; codec() holds its catalogue.
    void catalogueReceived();
    // The playback dialog ended (BYE sent or received); the form returns to idle.
    void playbackClosed();
    // One datagram went through the receive handler (dropped ones included).
    void datagramHandled();

public slots:
    void onDatagram();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    struct SendRule;
    using Builder = const char* (SipSession::*)(int* length);
    bool lockedSend(const SendRule& rule, const std::function<const char*(int*)>& build);
    qint64 sendText(const char* text, int length);
    void checkSocket();
    QUdpSocket* makeSocket();
    void setStatus(int kind);

    bool acceptDatagram(const QByteArray& data, const QHostAddress& source);
    void handleDatagram(const QByteArray& data);
    void dispatch(const std::string& kind);
    void onRegOne(const std::string& kind);
    void onRegTwo(const std::string& kind);
    void onLoggedIn(const std::string& kind);
    void logIn();
    bool isFinalRegisterFailure();
    bool isFinalInviteFailure();

    void onInvite200();
    void onMessageReplay();
    void onInfoReplay();
    void onSubscribeOk();
    void onMessageOkReply();
    void onCatalogue();
    void onBye();
    void onChallenge();
    void endInviteWait();

    Logger* m_log;
    ReplaySettings m_settings;
    QHostAddress m_platAddress;
    SessionTimings m_timings;
    CCTVCAR m_codec;
    QMutex m_sendLock;
    QMutex m_recvLock;
    QUdpSocket* m_socket = nullptr;
    int m_sipStep = REG_ONE;
    int m_retryCount = 0;
    bool m_loggedIn = false;
    int m_registerTimer = -1;
    int m_keepaliveTimer = -1;
    int m_reloginTimer = -1;
    QTimer* m_inviteWait = nullptr;
    bool m_invitePending = false;
    QString m_lastStatusLine;
    QSet<QString> m_strangers;             // sources already reported as not the platform
    std::unique_ptr<char[]> m_recvBuffer;  // what the codec reads, zero-terminated
    std::unique_ptr<char[]> m_datagram;    // one datagram as it comes off the socket
};
