#include "formtestkit.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTimer>
#include <cstring>
#include <functional>

#include "mainform.h"
#include "sipsession.h"
#include "ui_mainform.h"

namespace kit {

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

namespace {

template <size_t N>
void put(char (&field)[N], const QByteArray& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.constData(), std::min<size_t>(N - 1, text.size()));
}

void record(Recorder* r, HostCall call) {
    if (r->platform != nullptr) {
        r->platform->drain();
        call.platformPending = r->platform->count();
        call.platformLast = r->platform->all().isEmpty() ? QByteArray() : r->platform->all().last();
    }
    r->calls.push_back(std::move(call));
}

void hostAddCamera(CameraRow* row, void* context) {
    HostCall call;
    call.function = "AddCameraInfo";
    call.camera = *row;
    record(static_cast<Recorder*>(context), std::move(call));
}

void hostModifyCamera(CameraRow* row, void* context) {
    HostCall call;
    call.function = "ModifyCameraInfo";
    call.camera = *row;
    record(static_cast<Recorder*>(context), std::move(call));
}

void hostModifyMonitor(MonitorList* list, void* context) {
    HostCall call;
    call.function = "ModifyMonitor";
    call.monitors.assign(list->rows, list->rows + list->count);
    record(static_cast<Recorder*>(context), std::move(call));
}

}  // namespace

QByteArray trainCameraId(int train, int car, int type, int serial) {
    return QString::asprintf("015099%03d%02d%03d%06d", train, car, type, serial).toLatin1();
}

QByteArray stationCameraId(int station, int zone1, int zone2, int type, int serial) {
    return QString::asprintf("0150%02d%02d%03d%03d%06d", station, zone1, zone2, type, serial)
        .toLatin1();
}

QByteArray startLine(const QByteArray& msg) {
    return msg.left(msg.indexOf("\r\n"));
}

QByteArray header(const QByteArray& msg, const QByteArray& name) {
    const int end = msg.indexOf("\r\n\r\n");
    const QList<QByteArray> lines = msg.left(end).split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower()) {
            return line.mid(colon + 1).trimmed();
        }
    }
    return QByteArray();
}

QByteArray body(const QByteArray& msg) {
    const int end = msg.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : msg.mid(end + 4);
}

QByteArray method(const QByteArray& msg) {
    return startLine(msg).split(' ').value(0);
}

QByteArray cseqMethod(const QByteArray& msg) {
    return header(msg, "CSeq").split(' ').value(1);
}

// ---- ScriptedPlatform ---------------------------------------------------------------------

ScriptedPlatform::ScriptedPlatform(const QHostAddress& address) {
    m_socket.bind(address, 0);
}

void ScriptedPlatform::drain() {
    while (m_socket.hasPendingDatagrams()) {
        QByteArray data(static_cast<int>(m_socket.pendingDatagramSize()), Qt::Uninitialized);
        const qint64 n = m_socket.readDatagram(data.data(), data.size());
        if (n < 0) {
            break;
        }
        data.truncate(static_cast<int>(n));
        m_all << data;
        m_unread << data;
    }
}

QByteArray ScriptedPlatform::take(const QByteArray& prefix) {
    drain();
    for (int i = 0; i < m_unread.size(); ++i) {
        if (m_unread[i].startsWith(prefix)) {
            return m_unread.takeAt(i);
        }
    }
    return QByteArray();
}

QByteArray ScriptedPlatform::waitFor(const QByteArray& prefix, int timeoutMs) {
    QByteArray found;
    waitUntil(
        [&] {
            found = take(prefix);
            return !found.isEmpty();
        },
        timeoutMs);
    return found;
}

int ScriptedPlatform::count(const QByteArray& prefix) {
    drain();
    int n = 0;
    for (const QByteArray& d : m_all) {
        n += d.startsWith(prefix) ? 1 : 0;
    }
    return n;
}

void ScriptedPlatform::forget() {
    drain();
    m_all.clear();
    m_unread.clear();
}

void ScriptedPlatform::send(const QByteArray& bytes) {
    m_socket.writeDatagram(bytes, m_formAddress, m_formPort);
}

QByteArray ScriptedPlatform::reply(const QByteArray& request, const QByteArray& status,
                                   const QByteArray& extraHeaders, const QByteArray& content,
                                   const QByteArray& contentType) {
    QByteArray to = header(request, "To");
    if (!to.contains(";tag=")) {
        to += ";tag=plat-to-77";
    }
    QByteArray out = "SIP/2.0 " + status + "\r\n";
    for (const QByteArray& line : request.left(request.indexOf("\r\n\r\n")).split('\n')) {
        if (line.startsWith("Via:")) {
            out += line.trimmed() + "\r\n";
        }
    }
    out += "From: " + header(request, "From") + "\r\n";
    out += "To: " + to + "\r\n";
    out += "Call-ID: " + header(request, "Call-ID") + "\r\n";
    out += "CSeq: " + header(request, "CSeq") + "\r\n";
    out += extraHeaders;
    if (!contentType.isEmpty()) {
        out += "Content-Type: " + contentType + "\r\n";
    }
    out += "Content-Length: " + QByteArray::number(content.size()) + "\r\n\r\n" + content;
    return out;
}

QByteArray ScriptedPlatform::request(const QByteArray& methodName, const QByteArray& callId,
                                     int cseq, const QByteArray& content,
                                     const QByteArray& contentType) {
    static int branch = 100;
    const QByteArray peer = "127.0.0.1:" + QByteArray::number(port());
    const QByteArray form = "127.0.0.1:" + QByteArray::number(m_formPort);
    QByteArray out = methodName + " sip:" + kHostCode + "@" + form + " SIP/2.0\r\n";
    out += "Via: SIP/2.0/UDP " + peer + ";rport;branch=z9hG4bK-p" + QByteArray::number(++branch) +
           "\r\n";
    out += QByteArray("From: <sip:") + kPlatCode + "@" + peer + ">;tag=platform-tag\r\n";
    out += QByteArray("To: <sip:") + kHostCode + "@" + form + ">\r\n";
    out += "Call-ID: " + callId + "\r\n";
    out += "CSeq: " + QByteArray::number(cseq) + " " + methodName + "\r\n";
    out += "Max-Forwards: 70\r\n";
    if (!content.isEmpty()) {
        out += "Content-Type: " + contentType + "\r\n";
    }
    out += "Content-Length: " + QByteArray::number(content.size()) + "\r\n\r\n" + content;
    return out;
}

QByteArray challenge(ScriptedPlatform& p, const QByteArray& request, const QByteArray& nonce) {
    return p.reply(request, "401 Unauthorized",
                   "WWW-Authenticate: Digest realm=\"3402000000\", nonce=\"" + nonce +
                       "\", algorithm=MD5\r\n");
}

QByteArray catalogueItem(const QByteArray& id, const QByteArray& name, const QByteArray& status,
                         const QByteArray& parent) {
    return "<Item>\r\n<DeviceID>" + id + "</DeviceID>\r\n<Name>" + name + "</Name>\r\n<ParentID>" +
           parent + "</ParentID>\r\n<Status>" + status +
           "</Status>\r\n<IPAddress>10.1.1.9</IPAddress>\r\n</Item>\r\n";
}

QByteArray catalogueBody(const char* root, const QList<QByteArray>& items) {
    const QByteArray n = QByteArray::number(items.size());
    QByteArray out = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<" + QByteArray(root) +
                     ">\r\n<CmdType>Catalog</CmdType>\r\n<SN>1</SN>\r\n<DeviceID>" + kPlatCode +
                     "</DeviceID>\r\n<SumNum>" + n + "</SumNum>\r\n<DeviceList Num=\"" + n +
                     "\">\r\n";
    for (const QByteArray& item : items) {
        out += item;
    }
    out += "</DeviceList>\r\n</" + QByteArray(root) + ">\r\n";
    return out;
}

int Recorder::count(const std::string& function) const {
    int n = 0;
    for (const auto& c : calls) {
        n += c.function == function ? 1 : 0;
    }
    return n;
}

// ---- HostData -----------------------------------------------------------------------------

HostData::HostData() {
    api.AddCameraInfo = hostAddCamera;
    api.ModifyCameraInfo = hostModifyCamera;
    api.ModifyMonitor = hostModifyMonitor;

    stations[0] = {99, 99, {}};
    put(stations[0].F6000_NAME, "\xc1\xd0\xb3\xb5");  // 列车
    stations[1] = {1, 5, {}};
    put(stations[1].F6000_NAME,
        "\xd5\xbe\xcc\xa8"
        "5");  // 站台5
    stations[2] = {1, 6, {}};
    put(stations[2].F6000_NAME,
        "\xd5\xbe\xcc\xa8"
        "6");

    zone1[0] = {99, 1, {}};
    put(zone1[0].F6001_ZONE1NAME, "T01");
    zone1[1] = {1, 2, {}};
    put(zone1[1].F6001_ZONE1NAME, "Z02");
    zone1[2] = {99, 2, {}};
    put(zone1[2].F6001_ZONE1NAME, "T02");
    zone1[3] = {99, 3, {}};
    put(zone1[3].F6001_ZONE1NAME, "T03");

    zone2[0] = {99, 0, 1, {}};
    put(zone2[0].F6002_ZONE2NAME, "1\xb3\xb5");  // 1车
    zone2[1] = {99, 0, 2, {}};
    put(zone2[1].F6002_ZONE2NAME, "2\xb3\xb5");
    zone2[2] = {1, 2, 7, {}};
    put(zone2[2].F6002_ZONE2NAME, "S7");
    zone2[3] = {1, 3, 8, {}};
    put(zone2[3].F6002_ZONE2NAME, "S8");
    zone2[4] = {1, 2, 9, {}};
    put(zone2[4].F6002_ZONE2NAME, "S9");

    addCamera(trainCameraId(1, 1, 1, 1),
              "\xc9\xe3\xcf\xf1\xbb\xfa"
              "A",
              1, 99, 1, 1);
    addCamera(trainCameraId(1, 2, 1, 2),
              "\xc9\xe3\xcf\xf1\xbb\xfa"
              "B",
              0, 99, 1, 2);
    addCamera(stationCameraId(5, 2, 7, 1, 3),
              "\xc9\xe3\xcf\xf1\xbb\xfa"
              "C",
              1, 5, 2, 7);
    refresh();
}

void HostData::addCamera(const QByteArray& code, const QByteArray& name, int status, int station,
                         int z1, int z2) {
    CameraRow row{};
    put(row.F6003_CAMERAGB, code);
    put(row.F6003_CAMERANAME, name);
    row.F6003_STATUS = status;
    row.F6003_LINE = 15;
    row.F6003_STATION = station;
    row.F6001_ZONE1NO = z1;
    row.F6002_ZONE2NO = z2;
    row.F6003_DEVTYPE = 1;
    cameraRows.push_back(row);
    refresh();
}

void HostData::refresh() {
    stationList = {3, stations};
    zones = {4, zone1, 5, zone2};
    cameraList = {static_cast<int32_t>(cameraRows.size()), cameraRows.data()};
    data.apiTable = &api;
    data.sipGrpArr = &stationList;
    data.sipCameras = &cameraList;
}

// ---- FormRig ------------------------------------------------------------------------------

quint16 freePort() {
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return probe.localPort();
}

SessionTimings FormRig::quietTimings() {
    SessionTimings t;
    t.registerMs = 600000;
    t.keepaliveMs = 600000;
    t.reloginMs = 600000;
    t.t1Ms = 60000;  // no retransmission within a test unless it asks for one
    t.t2Ms = 60000;
    t.recordQueryDelayMs = -1;  // no record queries: the tests of them ask for them
    return t;
}

FormRig::FormRig(const SessionTimings& timings, bool withFile, bool makeForm)
    : m_platform(new ScriptedPlatform), m_host(new HostData), m_timings(timings) {
    m_formPort = freePort();
    m_platform->setFormPort(m_formPort);
    m_host->recorder.platform = m_platform.get();
    QDir(m_root.path()).mkpath(QStringLiteral("cfg"));
    if (withFile) {
        QFile ini(m_root.path() + QStringLiteral("/cfg/Q7cctvUi_replay.ini"));
        ini.open(QFile::WriteOnly);
        ini.write(
            "[General]\nmetro=3\ncameraOnlineColor=0, 200, 0\n"
            "cameraOfflineColor=200, 0, 0\n\n[LoginInfo]\nPlatIP=127.0.0.1\nPlatPort=" +
            QByteArray::number(m_platform->port()) + "\nHostIP=127.0.0.1\nHostSIPPort=" +
            QByteArray::number(m_formPort) + "\nHostDevCode=" + kHostCode +
            "\nPlatDevCode=" + kPlatCode + "\nUserName=admin\nPassword=482913\nSN=170\n");
    }
    qputenv("NXROOT", m_root.path().toLocal8Bit());
    if (makeForm) {
        create();
    }
}

void FormRig::create() {
    SessionTimings::setOverride(&m_timings);
    m_form.reset(
        new MainForm(nullptr, &m_host->data, &m_host->zones, nullptr, 6, &m_host->recorder, 0));
    SessionTimings::setOverride(nullptr);
}

FormRig::~FormRig() {
    m_form.reset();
    qunsetenv("NXROOT");
}

bool FormRig::logIn() {
    const QByteArray first = m_platform->waitFor("REGISTER ");
    if (first.isEmpty()) {
        return false;
    }
    m_platform->send(challenge(*m_platform, first));
    const QByteArray second = m_platform->waitFor("REGISTER ");
    if (second.isEmpty()) {
        return false;
    }
    m_platform->send(m_platform->reply(second, "200 OK"));
    return waitUntil([this] { return m_form->sipStep() == SipSession::REG_OK; }, 5000);
}

bool FormRig::logInAndSubscribe() {
    if (!logIn()) {
        return false;
    }
    const QByteArray subscribe = m_platform->waitFor("SUBSCRIBE ");
    if (subscribe.isEmpty()) {
        return false;
    }
    m_platform->send(m_platform->reply(subscribe, "200 OK"));
    return waitUntil(
        [this] {
            return m_form->widgets()->labelStatus->text().startsWith(
                QStringLiteral("订阅状态反馈"));
        },
        5000);
}

const QByteArray kPlaybackSdp =
    "v=0\r\no=01552403048401000001 0 0 IN IP4 127.0.0.1\r\ns=Playback\r\n"
    "c=IN IP4 127.0.0.1\r\nt=1700000000 1700003600\r\nm=video 6000 RTP/AVP 96\r\n"
    "a=sendonly\r\na=rtpmap:96 PS/90000\r\n";

const QByteArray kMediaStatus =
    "<?xml version=\"1.0\"?>\r\n<Notify>\r\n<CmdType>MediaStatus</CmdType>\r\n<SN>8</SN>\r\n"
    "<DeviceID>01552403048401000001</DeviceID>\r\n<NotifyType>121</NotifyType>\r\n</Notify>\r\n";

bool FormRig::readyToPlay() {
    if (!logInAndSubscribe()) {
        return false;
    }
    Ui::MainForm* ui = m_form->widgets();
    ui->cbxStation->setCurrentIndex(0);
    ui->cbxzone1->setCurrentIndex(0);
    ui->cbxzone2->setCurrentIndex(1);
    m_platform->forget();
    return ui->cbxCamera->count() == 1;
}

QByteArray FormRig::startPlayback() {
    m_form->widgets()->btnPlay->click();
    const QByteArray invite = m_platform->waitFor("INVITE ");
    if (!invite.isEmpty()) {
        m_platform->send(
            m_platform->reply(invite, "200 OK", QByteArray(), kPlaybackSdp, "APPLICATION/SDP"));
        m_platform->waitFor("ACK ");
    }
    return invite;
}

void answerNextModal(QString* title, QString* text) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [=, attempts = 0]() mutable {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            if (++attempts >= 500) {
                timer->stop();
                timer->deleteLater();
            }
            return;
        }
        timer->stop();
        timer->deleteLater();
        if (title != nullptr) {
            *title = dialog->windowTitle();
        }
        if (text != nullptr) {
            auto* label = dialog->findChild<QLabel*>(QStringLiteral("labelContent"));
            *text = label != nullptr ? label->text() : QString();
        }
        dialog->done(QDialog::Accepted);
    });
    timer->start();
}

}  // namespace kit
