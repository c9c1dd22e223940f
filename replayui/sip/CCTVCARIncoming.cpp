// The codec's reading side: an incoming datagram split into headers and body, classified, and
// the values the session needs copied out of it.
#include "CCTVCAR.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

bool equalsNoCase(const char* a, const char* b) {
    if (a == nullptr || b == nullptr)
        return false;
    for (; *a && *b; ++a, ++b) {
        char x = (*a >= 'A' && *a <= 'Z') ? char(*a + 32) : *a;
        char y = (*b >= 'A' && *b <= 'Z') ? char(*b + 32) : *b;
        if (x != y)
            return false;
    }
    return *a == *b;
}

// Leading optional sign and digits of text, clamped to the int64 range that matters here.
bool readNumber(std::string_view text, int64_t* value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9')
        return false;
    int64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = std::min<int64_t>(v * 10 + (text[i] - '0'), int64_t(1) << 40);
    }
    *value = negative ? -v : v;
    return true;
}

int32_t clampInt32(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

struct ResponseRule {
    int status;
    const char* method;
    const char* kind;
};
constexpr ResponseRule kResponseRules[] = {{200, "INVITE", "INVITE_200OK"},
                                           {200, "REGISTER", "LOGIN"},
                                           {200, "SUBSCRIBE", "SUBSCRIBE_OK"},
                                           {200, "MESSAGE", "MESSAGE_OK"},
                                           {200, "BYE", "BYE"},
                                           {200, "INFO", "INFO_REPLAY"},
                                           {100, "INVITE", "INVITE_100TRYING"}};

}  // namespace

// ---------------------------------------------------------------- incoming

// Content-Length as a number: absent gives false with 0; a value that is not a number is
// malformed (-1).
int CCTVCAR::contentLength(int64_t* n) const {
    *n = 0;
    const char* value = incomingHeader("Content-Length");
    if (value == nullptr)
        return 0;
    std::string_view v(value);
    if (v.empty() || v.find_first_not_of("0123456789") != std::string_view::npos)
        return -1;
    readNumber(v, n);
    return 1;
}

// Length of the body up to the datagram's terminating zero, if one comes first.
static int bodyUpToZero(const char* body, int length) {
    const void* nul = std::memchr(body, '\0', size_t(length));
    return nul == nullptr ? length : int(static_cast<const char*>(nul) - body);
}

int CCTVCAR::handleIncoming(const char* bytes, int count) {
    return handleParsed(bytes, count, parseHeaders(bytes, count));
}

int CCTVCAR::handleParsed(const char* bytes, int count, int headerLength) {
    m_messageKind.clear();
    m_bodyCommand = manscdp::Command::None;
    m_bodyNotes.clear();
    const int r = headerLength;
    if (r <= 0)
        return r;
    int64_t n = 0;
    int hasLength = contentLength(&n);
    if (hasLength < 0) {
        setParseError("Content-Length is not a number");
        return -1;
    }
    // The body is what arrived after the headers, never more.
    int64_t bodyEnd = hasLength ? std::min<int64_t>(count, r + n) : count;
    const char* body = bytes + r;
    int bodyLength = bodyUpToZero(body, int(bodyEnd - r));

    int64_t result = r;
    switch (incomingKind()) {
        case kInResponse:
            break;
        case kInNotify: {
            int end = findText(bytes, r, count, "</Notify>");
            if (end >= 0) {
                // Its body runs to the end of the document, whatever Content-Length says.
                result = end + 9;
                bodyLength = bodyUpToZero(body, int(result) - r);
            } else if (hasLength && count >= r + n) {
                // No document, and all that Content-Length announces has arrived: the last
                // NOTIFY of a subscription has no body at all.
                result = r + n;
            } else {
                return 0;
            }
            break;
        }
        case kInMessage:
            result = r + (hasLength ? n : count - r);
            break;
        case kInSubscribe:
        case kInRegister:
            if (count < r + n)
                return 0;
            break;
        case kInInvite:
        case kInBye:
            if (count < r + n)
                return 0;
            result = r + n;
            break;
        default:
            break;
    }
    if (incomingKind() != kInResponse)
        copyReceivedIds();
    classify(body, bodyLength);
    return clampInt32(result);
}

int CCTVCAR::findText(const char* data, int from, int count, std::string_view needle) {
    if (count - from < int(needle.size()))
        return -1;
    std::string_view hay(data + from, size_t(count - from));
    size_t at = hay.find(needle);
    return at == std::string_view::npos ? -1 : from + int(at);
}

void CCTVCAR::copyReceivedIds() {
    static constexpr FixedName kFromtag("Fromtag"), kTotag("Totag"), kCallId("Call-ID"),
        kBranch("branch"), kCSeq("CSeq"), kFromsipip("Fromsipip"), kFrom("From"), kTo("To");
    auto take = [this](std::string& field, const FixedName& key) {
        std::string_view v;
        const bool present = incomingText(key, &v);
        field.assign(v.data(), v.size());
        return present;
    };
    take(m_received.Fromtag, kFromtag);
    m_echo.toHasTag = take(m_received.Totag, kTotag);
    const bool hasCallId = take(m_received.CallID, kCallId);
    take(m_received.branch, kBranch);
    const bool hasCSeq = take(m_received.CSeq, kCSeq);
    std::string_view host;
    if (incomingText(kFromsipip, &host))
        m_received.Fromsipip.assign(host.data(), host.size());
    // Raw values for the replies that echo this request.
    copyIncomingVias(m_echo.vias);
    const bool hasFrom = take(m_echo.from, kFrom);
    const bool hasTo = take(m_echo.to, kTo);
    // A reply without these could not be matched to its request (RFC 3261 §8.2.6.2).
    m_echo.answerable = !m_echo.vias.empty() && hasFrom && hasTo && hasCallId && hasCSeq;
    m_echo.callId = m_received.CallID;
    m_echo.cseq = m_received.CSeq;
}

void CCTVCAR::readChallenge() {
    auto take = [this](std::string& field, const char* key) {
        const char* v = incomingHeader(key);
        field.assign(v == nullptr ? "" : v);
    };
    take(m_received.realm, "realm");
    take(m_received.nonce, "nonce");
    take(m_received.opaque, "opaque");
}

// "t=START END" at a line start of the answer's SDP.
void CCTVCAR::readRecordTimes(const char* body, int bodyLength) {
    std::string_view sdp(body, size_t(bodyLength));
    size_t at = sdp.rfind("t=", 0) == 0 ? 0 : sdp.find("\nt=");
    if (at == std::string_view::npos)
        return;
    at += sdp[at] == '\n' ? 3 : 2;
    size_t eol = sdp.find("\r\n", at);
    if (eol == std::string_view::npos)
        return;
    std::string_view line = sdp.substr(at, eol - at);
    size_t blank = line.find(' ');
    int64_t start = 0, end = 0;
    if (blank == std::string_view::npos || !readNumber(line.substr(0, blank), &start) ||
        !readNumber(line.substr(blank + 1), &end))
        return;
    m_recordStart = start;
    m_recordEnd = end;
    m_recordDuration = end - start;
}

const char* CCTVCAR::cseqMethod() const {
    const char* method = incomingHeader("CSeqType");
    return method == nullptr ? "" : method;
}

bool CCTVCAR::isPlaybackCallId(const char* callId) const {
    const std::string& dialog = dialogValue(m_dialogCallIds);
    return callId != nullptr && !dialog.empty() && dialog == callId;
}

void CCTVCAR::classify(const char* body, int bodyLength) {
    switch (incomingKind()) {
        case kInResponse:
            classifyResponse(body, bodyLength);
            break;
        case kInNotify:
            readBody(body, bodyLength);
            m_messageKind = cseqMethod();
            break;
        case kInMessage:
            classifyMessage(body, bodyLength);
            break;
        case kInInvite:
            m_messageKind = cseqMethod();
            break;
        case kInBye:
            m_messageKind = "BYE";
            if (isPlaybackCallId(incomingHeader("Call-ID")))
                m_playbackDialogOpen = false;
            break;
        default:
            m_messageKind = "ERRORS";
            break;
    }
}

void CCTVCAR::classifyResponse(const char* body, int bodyLength) {
    const int status = incomingStatus();
    const char* method = cseqMethod();
    if (status == 401) {
        // A challenge by its status code, whatever the reason phrase says.
        readChallenge();
        m_messageKind = "REGISTER";
        return;
    }
    for (const ResponseRule& rule : kResponseRules) {
        if (rule.status == status && equalsNoCase(rule.method, method)) {
            m_messageKind = rule.kind;
            break;
        }
    }
    if (status == 200 && equalsNoCase(method, "INVITE")) {
        const char* tag = incomingHeader("Totag");
        m_remoteTag.assign(tag == nullptr ? "" : tag);
        if (isPlaybackCallId(incomingHeader("Call-ID")))
            readRecordTimes(body, bodyLength);
    }
}

// Text of the body's first CmdType element, without parsing the document.
std::string_view CCTVCAR::bodyCmdType(const char* body, int bodyLength) {
    std::string_view b(body, size_t(bodyLength));
    size_t open = b.find("<CmdType>");
    if (open == std::string_view::npos)
        return {};
    open += 9;
    size_t close = b.find("</CmdType>", open);
    if (close == std::string_view::npos)
        return {};
    std::string_view t = b.substr(open, close - open);
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front())))
        t.remove_prefix(1);
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back())))
        t.remove_suffix(1);
    return t;
}

void CCTVCAR::classifyMessage(const char* body, int bodyLength) {
    readBody(body, bodyLength);
    // Only the dialog's own MESSAGE or a media status notice ends the playback; a catalogue
    // answer during playback stays a catalogue answer.
    bool endOfRecording = m_playbackDialogOpen && (isPlaybackCallId(incomingHeader("Call-ID")) ||
                                                   bodyCmdType(body, bodyLength) == "MediaStatus");
    m_messageKind = endOfRecording ? "MESSAGE_REPLAY" : cseqMethod();
}

void CCTVCAR::readBody(const char* body, int bodyLength) {
    m_bodyCommand = manscdp::read(body, bodyLength, &m_catalogue, &m_recordPage, &m_bodyNotes,
                                  &m_catalogueStates);
}
