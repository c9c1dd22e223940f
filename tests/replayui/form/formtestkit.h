#pragma once
// Test support for the replay form: a scripted video platform on loopback, the host data a
// plug-in would hand over, and a recording table of host callbacks.
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QVector>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cctv_records.h"
#include "sessiontimings.h"

class MainForm;

namespace kit {

// Runs the event loop until done() or the time is up; false when it is up.
bool waitUntil(const std::function<bool()>& done, int timeoutMs);

// Codes of the session; the platform side of the ini file.
constexpr char kHostCode[] = "01552400000805100001";
constexpr char kPlatCode[] = "01552403048401000001";

// A 20-digit camera code on a train: line 15, station 99, train, car, type, serial.
QByteArray trainCameraId(int train, int car, int type, int serial);
// A camera code at a station (two-digit station number, zone 1 two digits, zone 2 three).
QByteArray stationCameraId(int station, int zone1, int zone2, int type, int serial);

// Helpers to read a SIP text the way a platform would, without the console's codec.
QByteArray startLine(const QByteArray& msg);
QByteArray header(const QByteArray& msg, const QByteArray& name);
QByteArray body(const QByteArray& msg);
QByteArray method(const QByteArray& msg);  // first word of the start line
QByteArray cseqMethod(const QByteArray& msg);

// The video platform: answers what the test tells it, records every datagram it receives.
class ScriptedPlatform {
public:
    explicit ScriptedPlatform(const QHostAddress& address = QHostAddress::LocalHost);
    quint16 port() const { return m_socket.localPort(); }

    // Reads what has arrived so far, without waiting.
    void drain();
    // Waits (bounded, failing after timeoutMs) until a not yet taken datagram matches; takes it.
    // prefix matches the start of the datagram ("REGISTER ", "SIP/2.0 200", "INFO ").
    QByteArray waitFor(const QByteArray& prefix, int timeoutMs = 5000);
    // Takes the next unread datagram with that prefix when one has arrived; else empty.
    QByteArray take(const QByteArray& prefix);
    // Number of datagrams received so far (drained first) starting with prefix ("" = all).
    int count(const QByteArray& prefix = QByteArray());
    const QList<QByteArray>& all() const { return m_all; }
    void forget();  // drops what was received so far

    // Sends raw bytes to the form.
    void send(const QByteArray& bytes);
    void setFormPort(quint16 port) { m_formPort = port; }

    // A response to request echoing its Via, From, To (tag added), Call-ID and CSeq.
    QByteArray reply(const QByteArray& request, const QByteArray& status,
                     const QByteArray& extraHeaders = QByteArray(),
                     const QByteArray& content = QByteArray(),
                     const QByteArray& contentType = QByteArray());
    // A request of the platform to the form.
    QByteArray request(const QByteArray& method, const QByteArray& callId, int cseq,
                       const QByteArray& content,
                       const QByteArray& contentType = "Application/MANSCDP+xml");
    QUdpSocket& socket() { return m_socket; }

private:
    QUdpSocket m_socket;
    QHostAddress m_formAddress = QHostAddress::LocalHost;
    quint16 m_formPort = 0;
    QList<QByteArray> m_all;
    QList<QByteArray> m_unread;
};

// The SDP of a platform accepting the playback INVITE: the hour from 1700000000.
extern const QByteArray kPlaybackSdp;
// The platform's end-of-recording notice (a MESSAGE body).
extern const QByteArray kMediaStatus;

// The answers of a platform, written as literal texts.
QByteArray challenge(ScriptedPlatform& p, const QByteArray& request,
                     const QByteArray& nonce = "a1b2c3d4");
QByteArray catalogueBody(const char* root, const QList<QByteArray>& items);
QByteArray catalogueItem(const QByteArray& id, const QByteArray& name, const QByteArray& status,
                         const QByteArray& parent = "01552403048401000001");

// What the host was asked to do, in order.
struct HostCall {
    std::string function;  // "AddCameraInfo", "ModifyCameraInfo", "ModifyMonitor"
    CameraRow camera{};
    std::vector<MonitorRow> monitors;
    int platformPending = 0;  // datagrams the platform had received when the call came
    QByteArray platformLast;  // the last of them
};

struct Recorder {
    std::vector<HostCall> calls;
    ScriptedPlatform* platform = nullptr;
    int count(const std::string& function) const;
};

// The records a plug-in hands to ShowDialog, owned here.
struct HostData {
    HostData();
    PlugInApiTable api{};
    StationRow stations[3]{};
    StationList stationList{};
    Zone1Row zone1[4]{};
    Zone2Row zone2[5]{};
    ZoneInfo zones{};
    std::vector<CameraRow> cameraRows;
    CameraList cameraList{};
    init_param data{};
    Recorder recorder;

    void addCamera(const QByteArray& code, const QByteArray& name, int status, int station,
                   int zone1, int zone2);
    void refresh();  // re-points the headers after a change
};

// A form with its settings file, a platform and short timers.
class FormRig {
public:
    // Without makeForm the test changes the host data first, then calls create() or shows the
    // form through the exports.
    explicit FormRig(const SessionTimings& timings = quietTimings(), bool withFile = true,
                     bool makeForm = true);
    ~FormRig();

    static SessionTimings quietTimings();  // nothing fires on its own during a test

    MainForm* form() const { return m_form.get(); }
    ScriptedPlatform& platform() { return *m_platform; }
    HostData& host() { return *m_host; }
    quint16 formPort() const { return m_formPort; }
    QString root() const { return m_root.path(); }

    // Runs the two-step registration; true when the form reached step 2.
    bool logIn();
    // Runs the registration and answers the SUBSCRIBE.
    bool logInAndSubscribe();
    // Logged in, train 1 and car 1 selected (one camera); what the platform got is forgotten.
    bool readyToPlay();
    // Play, and the platform accepts with kPlaybackSdp; returns the INVITE (empty if none).
    QByteArray startPlayback();
    void create();
    // Deletes the form, as CloseDialog does.
    void closeForm() { m_form.reset(); }

private:
    QTemporaryDir m_root;
    std::unique_ptr<ScriptedPlatform> m_platform;
    std::unique_ptr<HostData> m_host;
    std::unique_ptr<MainForm> m_form;
    quint16 m_formPort = 0;
    SessionTimings m_timings;
};

// A free UDP port on loopback (taken and released).
quint16 freePort();

// Presses the first button of the modal dialog that is open when the event loop runs next.
void answerNextModal(QString* title = nullptr, QString* text = nullptr);

}  // namespace kit
