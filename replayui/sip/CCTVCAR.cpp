#include "CCTVCAR.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include <QCryptographicHash>

namespace {

constexpr size_t kLineArea = 256;     // one header value or request line
constexpr size_t kInviteArea = 1024;  // lines and SDP of the playback INVITE
constexpr size_t kBodyArea = 256;     // MANSCDP and MANSRTSP bodies
constexpr size_t kQueryArea = 512;    // a record query: a camera, a span and a ten-digit SN
constexpr int kMaxForwards = 70;
constexpr int kExpires = 3600;
constexpr const char* kManscdp = "application/MANSCDP+xml";
constexpr const char* kStreamSerial = "0100000001";
constexpr const char* kEndOfTime = "2999-12-12T00:00:00";

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(size_t(n));
        std::vsnprintf(out.data(), size_t(n) + 1, fmt, ap);
    }
    va_end(ap);
    return out;
}

std::string lines(std::initializer_list<std::string> items) {
    std::string out;
    for (const std::string& l : items) {
        out += l;
        out += "\r\n";
    }
    return out;
}

// RFC 3261 quoted-string: the text in double quotes, each quote and backslash escaped.
std::string quotedString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

// A device code as it may stand in an XML element: printable ASCII, no markup.
bool isPlainCode(std::string_view code) {
    return !code.empty() && std::all_of(code.begin(), code.end(), [](char c) {
        return c > 0x20 && c < 0x7F && c != '<' && c != '>' && c != '&';
    });
}

std::string textOf(const char* s) {
    return s == nullptr ? std::string() : std::string(s);
}

struct PtzRule {
    int command;
    uint8_t code;
    enum Data { None, Pan, Tilt, PanTilt, Zoom, Arg4, Arg5 } data;
};
constexpr PtzRule kPtzRules[] = {
    {0, 0x00, PtzRule::None},     {15, 0x00, PtzRule::None},    {1, 0x08, PtzRule::Tilt},
    {2, 0x04, PtzRule::Tilt},     {3, 0x02, PtzRule::Pan},      {4, 0x01, PtzRule::Pan},
    {5, 0x10, PtzRule::Zoom},     {6, 0x20, PtzRule::Zoom},     {7, 0x41, PtzRule::Pan},
    {8, 0x42, PtzRule::Pan},      {9, 0x44, PtzRule::Tilt},     {10, 0x48, PtzRule::Tilt},
    {11, 0x0A, PtzRule::PanTilt}, {12, 0x06, PtzRule::PanTilt}, {13, 0x09, PtzRule::PanTilt},
    {14, 0x05, PtzRule::PanTilt}, {103, 0x88, PtzRule::Arg4},   {104, 0x82, PtzRule::Arg5},
    {114, 0x81, PtzRule::Arg5}};

}  // namespace

struct CCTVCAR::Header {
    const char* name;
    std::string value;
    bool repeat = false;  // a further line of the same name (echoed Via)
};

struct CCTVCAR::Frame {
    int kind = kResponse;
    std::string uri;  // empty for a response
    std::vector<Header> headers;
    std::string body;
    size_t lineLimit = kLineArea;
    size_t bodyLimit = kBodyArea;
};

// ---------------------------------------------------------------- state

CCTVCAR::CCTVCAR() {
    if (std::getenv("NXROOT") == nullptr)
        std::printf("NO NXROOT Env.\n");
    m_messageKind.reserve(32);
}

CCTVCAR::~CCTVCAR() = default;

int CCTVCAR::setSessionParams(const char* hostIp, const char* hostDevCode, const char* hostSipPort,
                              const char* platIp, const char* platDevCode, const char* platPort,
                              const char* userName, const char* password, const char* dialogKey,
                              const char* targetCode, const char* sn) {
    m_params = SessionParams{textOf(hostIp),     textOf(hostDevCode), textOf(hostSipPort),
                             textOf(platIp),     textOf(platDevCode), textOf(platPort),
                             textOf(userName),   textOf(password),    textOf(dialogKey),
                             textOf(targetCode), textOf(sn)};
    return 0;
}

void CCTVCAR::setIdentifierSource(IdentifierSource source) {
    m_idSource = std::move(source);
}

void CCTVCAR::setClockSource(ClockSource source) {
    m_clock = std::move(source);
}

void CCTVCAR::newIdentifiers() {
    uint32_t x = 0, y = 0;
    if (m_idSource) {
        m_idSource(x, y);
    } else {
        std::random_device device;
        std::mt19937 engine(device());
        std::uniform_int_distribution<int> draw(0, 400000000);
        x = uint32_t(draw(engine));
        y = uint32_t(draw(engine));
    }
    m_tagNumber = m_branchNumber = m_cseqNumber = x;
    m_local.tag = format("%010u", x);
    m_local.CallID = format("Vekta9-%010u-%010u", x, y);
    m_local.CSeqNumber = m_local.tag;
    m_local.branch = "z9hG4bK-" + m_local.tag;
}

int CCTVCAR::md5Hex(const char* text, char* out) {
    if (text == nullptr || out == nullptr)
        return -1;
    QByteArray hex = QCryptographicHash::hash(QByteArray(text), QCryptographicHash::Md5).toHex();
    std::memcpy(out, hex.constData(), 32);
    out[32] = '\0';
    return 32;
}

std::string CCTVCAR::encodePtzCmd(int command, int speed) {
    uint8_t b[8] = {0xA5, 0x0F, 0x01, 0, 0, 0, 0, 0};
    // Saturate rather than wrap, so more speed never gives less.
    int64_t s = speed;
    uint8_t v = uint8_t(std::clamp<int64_t>((s * 255 + 50) / 64, 0, 0xFF));
    uint8_t z = uint8_t(std::clamp<int64_t>((s * 15 + 50) / 64, 0, 0xF) << 4);
    for (const PtzRule& rule : kPtzRules) {
        if (rule.command != command)
            continue;
        b[3] = rule.code;
        switch (rule.data) {
            case PtzRule::Pan:
                b[4] = v;
                break;
            case PtzRule::Tilt:
                b[5] = v;
                break;
            case PtzRule::PanTilt:
                b[4] = b[5] = v;
                break;
            case PtzRule::Zoom:
                b[6] = z;
                break;
            case PtzRule::Arg4:
                b[4] = uint8_t(speed & 0xFF);
                break;
            case PtzRule::Arg5:
                b[5] = uint8_t(speed & 0xFF);
                break;
            case PtzRule::None:
                break;
        }
        break;
    }
    unsigned sum = 0;
    for (int i = 0; i < 7; ++i)
        sum += b[i];
    b[7] = uint8_t(sum & 0xFF);
    char text[17];
    for (int i = 0; i < 8; ++i)
        std::snprintf(text + 2 * i, 3, "%02X", b[i]);
    return std::string(text, 16);
}

// ---------------------------------------------------------------- build procedure

const char* CCTVCAR::fail(int* length) {
    m_lastMessage.clear();
    if (length != nullptr)
        *length = 0;
    return nullptr;
}

// Writes the frame; a line or body that would not fit its fixed area builds nothing.
const char* CCTVCAR::build(const Frame& f, int* length) {
    if (f.body.size() >= f.bodyLimit || f.uri.size() >= f.lineLimit)
        return fail(length);
    resetOutgoing();
    setOutgoingKind(f.kind);
    if (f.kind == kResponse) {
        setStatusCode(200);
    } else if (!setRequestUri(f.uri.c_str())) {
        return fail(length);
    }
    for (const Header& h : f.headers) {
        if (h.value.size() >= f.lineLimit)
            return fail(length);
        int ok = h.repeat ? addHeader(h.name, h.value.c_str()) : setHeader(h.name, h.value.c_str());
        if (!ok)
            return fail(length);
    }
    m_bodyHolder = f.body;
    setHeader("Content-Length", format("%d", int(m_bodyHolder.size())).c_str());
    if (!m_bodyHolder.empty())
        setBody(m_bodyHolder.data(), int(m_bodyHolder.size()));
    int count = 0;
    const char* text = serialize() ? output(&count) : nullptr;
    if (text == nullptr || count <= 0)
        return fail(length);
    m_lastMessage.assign(text, size_t(count));
    if (length != nullptr)
        *length = count;
    return m_lastMessage.c_str();
}

// Our own address in every request: answers and NOTIFYs come back to the SIP port we listen on.
std::string CCTVCAR::ownVia() const {
    return format("SIP/2.0/UDP %s:%s;rport;branch=%s", m_params.HostIP.c_str(),
                  m_params.HostSIPPort.c_str(), m_local.branch.c_str());
}

std::string CCTVCAR::ownContact() const {
    return format("<sip:%s@%s:%s>", m_params.HostDevCode.c_str(), m_params.HostIP.c_str(),
                  m_params.HostSIPPort.c_str());
}

std::string CCTVCAR::platformUri(const char* scheme) const {
    return format("%s:%s@%s:%s SIP/2.0", scheme, m_params.PlatDevCode.c_str(),
                  m_params.PlatIP.c_str(), m_params.PlatPort.c_str());
}

// ---------------------------------------------------------------- registration

const char* CCTVCAR::buildRegister(int attempt, int* length) {
    newIdentifiers();
    m_requestName = "REGISTER";
    Frame f;
    f.kind = kRegister;
    f.uri = platformUri("SIP");
    f.headers = {
        {"Via", ownVia()},
        {"From", format("%s;tag=%s", ownContact().c_str(), m_local.tag.c_str())},
        {"To", ownContact()},
        {"Call-ID", m_local.CallID},
        {"CSeq", format("%d REGISTER", attempt + 1)},
        {"Contact", ownContact()},
    };
    if (attempt == 1) {
        std::string authorization;
        if (!digestAuthorization(&authorization))
            return fail(length);
        f.headers.push_back({"Authorization", authorization});
    }
    f.headers.push_back({"User-Agent", "TAVI"});
    f.headers.push_back({"Max-Forwards", format("%d", kMaxForwards)});
    f.headers.push_back({"Expires", format("%d", kExpires)});
    return build(f, length);
}

// Digest response without qop (RFC 2617 §3.2.2.1); echoes opaque when the challenge had one.
bool CCTVCAR::digestAuthorization(std::string* value) const {
    const SessionParams& p = m_params;
    const ReceivedIds& r = m_received;
    std::string a1 = format("%s:%s:%s", p.UserName.c_str(), r.realm.c_str(), p.Password.c_str());
    std::string a2 = format("REGISTER:sip:%s@%s:%s", p.PlatDevCode.c_str(), p.PlatIP.c_str(),
                            p.PlatPort.c_str());
    if (a1.size() >= kLineArea || a2.size() >= kLineArea)
        return false;
    char ha1[33], ha2[33], response[33];
    md5Hex(a1.c_str(), ha1);
    md5Hex(a2.c_str(), ha2);
    std::string a3 = format("%s:%s:%s", ha1, r.nonce.c_str(), ha2);
    if (a3.size() >= kLineArea)
        return false;
    md5Hex(a3.c_str(), response);
    // The digest is over the values as the challenge meant them; on the wire they are quoted
    // again, so a quote or backslash in a realm cannot end the parameter early.
    *value = format(
        "Digest username=%s,uri=\"sip:%s@%s:%s\",algorithm=MD5,realm=%s,nonce=%s,"
        "response=\"%s\"",
        quotedString(p.UserName).c_str(), p.PlatDevCode.c_str(), p.PlatIP.c_str(),
        p.PlatPort.c_str(), quotedString(r.realm).c_str(), quotedString(r.nonce).c_str(), response);
    if (!r.opaque.empty())
        *value += ",opaque=" + quotedString(r.opaque);
    return true;
}

// ---------------------------------------------------------------- MANSCDP requests

CCTVCAR::Frame CCTVCAR::manscdpFrame(int kind, const char* method) const {
    const SessionParams& p = m_params;
    Frame f;
    f.kind = kind;
    f.uri = platformUri("sip");
    f.headers = {
        {"Via", ownVia()},
        {"From", format("<sip:%s@%s>;tag=%s", p.HostDevCode.c_str(), p.HostIP.c_str(),
                        m_local.tag.c_str())},
        {"To", format("<sip:%s@%s>", p.PlatDevCode.c_str(), p.PlatIP.c_str())},
        {"Call-ID", format("%s@%s", m_local.CallID.c_str(), p.HostIP.c_str())},
        {"CSeq", format("%s %s", m_local.CSeqNumber.c_str(), method)},
    };
    return f;
}

const char* CCTVCAR::buildManscdpMessage(int* length, const std::string& body, size_t bodyLimit) {
    newIdentifiers();
    Frame f = manscdpFrame(kMessage, "MESSAGE");
    f.headers.push_back({"Max-Forwards", format("%d", kMaxForwards)});
    f.headers.push_back({"Content-Type", kManscdp});
    f.body = body;
    f.bodyLimit = bodyLimit;
    return build(f, length);
}

std::string CCTVCAR::catalogQueryHead() const {
    return lines({"<?xml version=\"1.0\"?>", "<Query>", "<CmdType>Catalog</CmdType>",
                  format("<SN>%s</SN>", m_params.SN.c_str()),
                  format("<DeviceID>%s</DeviceID>", m_params.PlatDevCode.c_str())});
}

const char* CCTVCAR::buildSubscribe(int* length) {
    newIdentifiers();
    QDateTime now = m_clock ? m_clock() : QDateTime::currentDateTime();
    std::string start = now.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toStdString();
    Frame f = manscdpFrame(kSubscribe, "SUBSCRIBE");
    f.headers.push_back({"Event", "presence"});
    f.headers.push_back({"Max-Forwards", format("%d", kMaxForwards)});
    f.headers.push_back({"Contact", ownContact()});
    f.headers.push_back({"Content-Type", kManscdp});
    f.headers.push_back({"Expires", format("%d", kExpires)});
    f.body = catalogQueryHead() + lines({format("<StartTime>%s</StartTime>", start.c_str()),
                                         format("<EndTime>%s</EndTime>", kEndOfTime), "</Query>"});
    return build(f, length);
}

const char* CCTVCAR::buildCatalogQuery(int* length) {
    return buildManscdpMessage(length, catalogQueryHead() + lines({"</Query>"}));
}

const char* CCTVCAR::buildKeepalive(int* length) {
    return buildManscdpMessage(
        length, lines({"<?xml version=\"1.0\"?>", "<Notify>", "<CmdType>Keepalive</CmdType>",
                       format("<DeviceID>%s</DeviceID>", m_params.HostDevCode.c_str()),
                       "<Status>OK</Status>", "</Notify>"}));
}

const char* CCTVCAR::buildKeepalive() {
    return buildKeepalive(nullptr);
}

const char* CCTVCAR::buildRecordInfoQuery(int* length, const char* cameraCode,
                                          const QDateTime& start, const QDateTime& end,
                                          uint32_t sn) {
    const std::string code = textOf(cameraCode);
    if (!isPlainCode(code) || !start.isValid() || !end.isValid() || end < start)
        return fail(length);
    auto local = [](const QDateTime& t) {
        return t.toLocalTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toStdString();
    };
    return buildManscdpMessage(
        length,
        lines({"<?xml version=\"1.0\"?>", "<Query>", "<CmdType>RecordInfo</CmdType>",
               format("<SN>%u</SN>", sn), format("<DeviceID>%s</DeviceID>", code.c_str()),
               format("<StartTime>%s</StartTime>", local(start).c_str()),
               format("<EndTime>%s</EndTime>", local(end).c_str()), "<Secrecy>0</Secrecy>",
               "<Type>all</Type>", "</Query>"}),
        kQueryArea);
}

std::string CCTVCAR::controlBody(std::initializer_list<std::string> inner) const {
    std::string body = lines({"<?xml version=\"1.0\"?>", "<Control>"});
    for (const std::string& l : inner)
        body += l + "\r\n";
    return body + lines({"</Control>"});
}

const char* CCTVCAR::buildPlayUrlControl(int* length, int start, const char* deviceCode,
                                         const char* channelCode) {
    const std::string sn = format("<SN>%s</SN>", m_params.SN.c_str());
    const std::string device = format("<DeviceID>%s</DeviceID>", textOf(deviceCode).c_str());
    if (start == 0) {
        return buildManscdpMessage(length,
                                   controlBody({"<CmdType>StopPlayUrl</CmdType>", sn, device}));
    }
    return buildManscdpMessage(length,
                               controlBody({"<CmdType>RealPlayUrl</CmdType>", sn, device,
                                            format("<DecoderChannelID>%s</DecoderChannelID>",
                                                   textOf(channelCode).c_str())}));
}

const char* CCTVCAR::buildDecoderDivision(int* length, const char* decoderCode, int division) {
    return buildManscdpMessage(
        length, controlBody({"<CmdType>DecoderDivision</CmdType>",
                             format("<SN>%s</SN>", m_params.SN.c_str()),
                             format("<DeviceID>%s</DeviceID>", textOf(decoderCode).c_str()),
                             format("<Division>%d</Division>", division)}));
}

const char* CCTVCAR::buildDeviceControl(int* length, const char* cameraCode, const char* ptzCmd) {
    return buildManscdpMessage(
        length,
        controlBody({"<CmdType>DeviceControl</CmdType>", format("<SN>%s</SN>", m_params.SN.c_str()),
                     format("<DeviceID>%s</DeviceID>", textOf(cameraCode).c_str()),
                     format("<PTZCmd>%s</PTZCmd>", textOf(ptzCmd).c_str()), "<Info>",
                     "<ControlPriority>0</ControlPriority>", "</Info>"}));
}

// ---------------------------------------------------------------- replies that echo a request

// Via (every line), From, To, Call-ID and CSeq of the last received request, verbatim; our
// tag is added to a To that had none.
std::vector<CCTVCAR::Header> CCTVCAR::echoedHeaders() {
    if (m_local.tag.empty())
        newIdentifiers();
    std::vector<Header> headers;
    for (const std::string& via : m_echo.vias)
        headers.push_back({"Via", via, true});
    std::string to = m_echo.to;
    if (!m_echo.toHasTag)
        to += ";tag=" + m_local.tag;
    headers.push_back({"From", m_echo.from});
    headers.push_back({"To", to});
    headers.push_back({"Call-ID", m_echo.callId});
    headers.push_back({"CSeq", m_echo.cseq});
    return headers;
}

const char* CCTVCAR::buildMessageOk(int* length) {
    if (!m_echo.answerable)
        return fail(length);
    Frame f;
    f.headers = echoedHeaders();
    f.headers.push_back({"Contact", ownContact()});
    return build(f, length);
}

const char* CCTVCAR::buildByeOk(int* length) {
    return buildMessageOk(length);
}

// ---------------------------------------------------------------- playback dialog

const std::string& CCTVCAR::dialogValue(const std::map<std::string, std::string>& map) const {
    static const std::string none;
    auto it = map.find(m_params.dialogKey);
    return it == map.end() ? none : it->second;
}

std::string CCTVCAR::dialogFrom() const {
    return format("%s;tag=%s", ownContact().c_str(), dialogValue(m_dialogTags).c_str());
}

std::string CCTVCAR::dialogTo() const {
    std::string to = format("<sip:%s@%s:%s>", m_params.PlatDevCode.c_str(), m_params.PlatIP.c_str(),
                            m_params.PlatPort.c_str());
    if (!m_remoteTag.empty())
        to += ";tag=" + m_remoteTag;
    return to;
}

const char* CCTVCAR::buildPlaybackInvite(int* length, int64_t start, int64_t end,
                                         const char* cameraCode) {
    m_requestName = "INVITE_REPLAY";
    newIdentifiers();
    const SessionParams& p = m_params;
    Frame f;
    f.kind = kInvite;
    f.uri = platformUri("sip");
    f.lineLimit = f.bodyLimit = kInviteArea;
    f.headers = {
        {"Via", ownVia()},
        {"From", format("%s;tag=%s", ownContact().c_str(), m_local.tag.c_str())},
        {"To",
         format("<sip:%s@%s:%s>", p.PlatDevCode.c_str(), p.PlatIP.c_str(), p.PlatPort.c_str())},
        {"Call-ID", m_local.CallID},
        {"Subject", format("%s:%s,%s:%s", p.PlatDevCode.c_str(), kStreamSerial,
                           p.HostDevCode.c_str(), kStreamSerial)},
        {"CSeq", "1 INVITE"},
        {"Contact", ownContact()},
        {"Content-Type", "Application/SDP"},
        {"Max-Forwards", format("%d", kMaxForwards)},
    };
    f.body = lines(
        {"v=0", format("o=%s 0 0 IN IP4 %s", p.PlatDevCode.c_str(), p.HostIP.c_str()), "s=Playback",
         format("u=%s:3", textOf(cameraCode).c_str()), format("c=IN IP4 %s", p.HostIP.c_str()),
         format("t=%lld %lld", (long long)start, (long long)end),
         format("m=video %s RTP/AVP 96 98 97", p.HostSIPPort.c_str()), "a=recvonly",
         "a=rtpmap:96 PS/90000", "a=rtpmap:98 H265/90000", "a=rtpmap:97 MPEG4/90000", ""});
    const char* text = build(f, length);
    if (text == nullptr)
        return text;
    m_dialogFromTag = m_local.tag;
    m_dialogCallIds[p.dialogKey] = m_local.CallID;
    m_dialogTags[p.dialogKey] = m_local.tag;
    m_dialogCSeq = 1;
    m_recordStart = m_recordEnd = m_recordDuration = 0;  // the answer names the new span
    return text;
}

// A request inside the playback dialog: the INVITE's Call-ID and From tag, the platform's To
// tag, a fresh branch, and the CSeq number given.
CCTVCAR::Frame CCTVCAR::dialogFrame(int kind, const std::string& cseq) const {
    Frame f;
    f.kind = kind;
    f.uri = platformUri("sip");
    f.headers = {{"Via", ownVia()},
                 {"From", dialogFrom()},
                 {"To", dialogTo()},
                 {"Call-ID", dialogValue(m_dialogCallIds)},
                 {"CSeq", cseq}};
    return f;
}

const char* CCTVCAR::buildPlaybackAck(int* length) {
    m_requestName = "ACK_REPLAY";
    newIdentifiers();
    Frame f = dialogFrame(kAck, "1 ACK");
    f.headers.push_back({"Max-Forwards", format("%d", kMaxForwards)});
    const char* text = build(f, length);
    if (text != nullptr)
        m_playbackDialogOpen = true;
    return text;
}

std::string CCTVCAR::mansrtspBody(int step, const char* scale, int seekPos) {
    const char* s = scale == nullptr ? "" : scale;
    switch (step) {
        case 1:
            return lines({"PAUSE MANSRTSP/1.0", "CSeq:1", "PauseTime:now"});
        case 2:
            return lines({"PLAY MANSRTSP/1.0", "CSeq:2", "Range:npt=now-"});
        case 3:
            return lines({"PLAY MANSRTSP/1.0", "CSeq:3", format("Scale:%s", s)});
        case 4:
            return lines({"PLAY MANSRTSP/1.0", "CSeq:4", format("Range:npt=%d-", seekPos)});
        default:
            return std::string();
    }
}

const char* CCTVCAR::buildPlaybackInfo(int* length, int step, const char* scale, int seekPos) {
    m_requestName = "INFO_REPLAY";
    newIdentifiers();
    int cseq = m_dialogCSeq + 1;
    Frame f = dialogFrame(kInfo, format("%d INFO", cseq));
    f.headers.push_back({"Contact", ownContact()});
    f.headers.push_back({"Content-Type", "Application/MANSRTSP"});
    f.headers.push_back({"Max-Forwards", format("%d", kMaxForwards)});
    f.body = mansrtspBody(step, scale, seekPos);
    const char* text = build(f, length);
    if (text != nullptr)
        m_dialogCSeq = cseq;
    return text;
}

const char* CCTVCAR::buildPlaybackMessageOk(int* length) {
    if (!m_echo.answerable)
        return fail(length);
    m_requestName = "MessageOK_REPLAY";
    newIdentifiers();
    Frame f;
    f.headers = echoedHeaders();
    f.headers.push_back({"Max-Forwards", format("%d", kMaxForwards)});
    return build(f, length);
}

const char* CCTVCAR::buildPlaybackBye(int* length) {
    m_requestName = "BYE_REPLAY";
    newIdentifiers();
    int cseq = m_dialogCSeq + 1;
    m_dialogFromTag = dialogValue(m_dialogTags);
    Frame f = dialogFrame(kBye, format("%d BYE", cseq));
    f.headers.push_back({"Max-Forwards", format("%d", kMaxForwards)});
    const char* text = build(f, length);
    if (text != nullptr) {
        m_dialogCSeq = cseq;
        m_playbackDialogOpen = false;
    }
    return text;
}
