#include "CHTTPHdrs.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kMethodNames[] = {
    "GET",      "OPTIONS",     "HEAD",     "POST",    "PUT",    "DELETE", "TRACE",  "CONNECT",
    "PROPFIND", "PROPPATCH",   "MKCOL",    "COPY",    "MOVE",   "LOCK",   "UNLOCK", "SUBSCRIBE",
    "NOTIFY",   "UNSUBSCRIBE", "REGISTER", "MESSAGE", "INVITE", "BYE",    "ACK",    "INFO"};
constexpr int kMethodCount = sizeof(kMethodNames) / sizeof(kMethodNames[0]);

// Kinds that may carry a body; the others are written without one.
constexpr int kBodyKinds[] = {3, 4, 8, 9, 13, 15, 16, 19, 20, 22, 23};

struct RequestMethod {
    std::string_view name;
    int kind;
};
constexpr RequestMethod kRequestMethods[] = {{"MESSAGE", CHTTPHdrs::kInMessage},
                                             {"NOTIFY", CHTTPHdrs::kInNotify},
                                             {"SUBSCRIBE", CHTTPHdrs::kInSubscribe},
                                             {"UNSUBSCRIBE", CHTTPHdrs::kInUnsubscribe},
                                             {"REGISTER", CHTTPHdrs::kInRegister},
                                             {"INVITE", CHTTPHdrs::kInInvite},
                                             {"BYE", CHTTPHdrs::kInBye}};

// RFC 3261 compact header forms, stored under their full names.
struct CompactName {
    char letter;
    std::string_view full;
};
constexpr CompactName kCompactNames[] = {
    {'v', "Via"},       {'f', "From"},           {'t', "To"},           {'i', "Call-ID"},
    {'m', "Contact"},   {'l', "Content-Length"}, {'c', "Content-Type"}, {'e', "Content-Encoding"},
    {'k', "Supported"}, {'s', "Subject"},        {'o', "Event"},        {'u', "Allow-Events"}};

constexpr size_t kOutputChunk = 2048;
constexpr int kNoHeader = -1;       // no header line read yet
constexpr int kDroppedHeader = -2;  // the last line did not fit the full table

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view expandCompact(std::string_view name) {
    if (name.size() != 1)
        return name;
    for (const CompactName& c : kCompactNames) {
        if (lower(name[0]) == c.letter)
            return c.full;
    }
    return name;
}

// Position of needle in [0, count) of data, or -1.
int findIn(const char* data, int from, int count, std::string_view needle) {
    if (from < 0 || count - from < int(needle.size()))
        return -1;
    std::string_view hay(data + from, size_t(count - from));
    size_t at = hay.find(needle);
    return at == std::string_view::npos ? -1 : from + int(at);
}

int threeDigits(const char* p) {
    return (p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0');
}

}  // namespace

// ---------------------------------------------------------------- header table

int CHTTPHdrs::Table::find(std::string_view name) const {
    for (size_t i = 0; i < slots.size(); ++i) {
        const Slot& s = slots[i];
        if (equalsNoCase(std::string_view(text(s.nameOff), s.nameLen), name))
            return int(i);
    }
    return -1;
}

uint32_t CHTTPHdrs::Table::store(std::string_view t) {
    // The text may live in the arena itself: grow first, then copy from its new place.
    const char* base = arena.data();
    bool inside = t.data() >= base && t.data() < base + arena.size();
    size_t from = inside ? size_t(t.data() - base) : 0;
    arena.reserve(arena.size() + t.size() + 1);
    uint32_t off = uint32_t(arena.size());
    if (inside) {
        arena.append(arena, from, t.size());
    } else {
        arena.append(t.data(), t.size());
    }
    arena.push_back('\0');
    return off;
}

int CHTTPHdrs::Table::set(std::string_view name, std::string_view value, bool replace) {
    int at = replace ? find(name) : -1;
    if (at >= 0) {
        uint32_t off = store(value);
        slots[size_t(at)].valueOff = off;
        slots[size_t(at)].valueLen = uint32_t(value.size());
        return at;
    }
    if (slots.size() >= size_t(kMaxSlots))
        return -1;
    Slot s{};
    s.nameLen = uint32_t(name.size());
    s.valueLen = uint32_t(value.size());
    s.nameOff = store(name);
    s.valueOff = store(value);
    slots.push_back(s);
    return int(slots.size() - 1);
}

const char* CHTTPHdrs::Table::value(std::string_view name) const {
    int at = find(name);
    return at < 0 ? nullptr : text(slots[size_t(at)].valueOff);
}

void CHTTPHdrs::Table::clear() {
    arena.clear();
    slots.clear();
}

// ---------------------------------------------------------------- outgoing

CHTTPHdrs::CHTTPHdrs() {
    m_out.arena.reserve(4096);
    m_out.slots.reserve(32);
    m_in.arena.reserve(8192);
    m_in.slots.reserve(48);
    m_vias.reserve(8);
    resetOutgoing();
}

CHTTPHdrs::~CHTTPHdrs() = default;

int CHTTPHdrs::resetOutgoing() {
    m_out.clear();
    m_requestUri.clear();
    m_body.clear();
    m_outVersion = 1.1f;
    m_buffer.clear();
    m_buffer.reserve(kOutputChunk);
    return 1;
}

void CHTTPHdrs::setOutgoingKind(int kind) {
    m_outKind = kind;
}

int CHTTPHdrs::setRequestUri(const char* uri) {
    if (uri == nullptr || *uri == '\0')
        return 0;
    m_requestUri = uri;
    return 1;
}

void CHTTPHdrs::setStatusCode(int code) {
    m_statusCode = code;
}

int CHTTPHdrs::setHeader(const char* name, const char* value) {
    if (name == nullptr || value == nullptr || *name == '\0')
        return 0;
    return m_out.set(name, value, true) >= 0 ? 1 : 0;
}

int CHTTPHdrs::addHeader(const char* name, const char* value) {
    if (name == nullptr || value == nullptr || *name == '\0')
        return 0;
    return m_out.set(name, value, false) >= 0 ? 1 : 0;
}

const char* CHTTPHdrs::outgoingHeader(const char* name) const {
    return name == nullptr ? nullptr : m_out.value(name);
}

int CHTTPHdrs::setBody(const char* bytes, int count) {
    if (bytes == nullptr || count <= 0)
        return 0;
    bool allowed = false;
    for (int k : kBodyKinds)
        allowed = allowed || k == m_outKind;
    if (!allowed)
        return 0;
    m_body.assign(bytes, size_t(count));
    return 1;
}

int CHTTPHdrs::serialize() {
    std::string& out = m_buffer;
    size_t start = out.size();
    char line[64];
    if (m_outKind == kResponse) {
        std::snprintf(line, sizeof line,
                      m_statusCode == 200 ? "SIP/2.0 %d OK\r\n" : "SIP/2.0 %d\r\n", m_statusCode);
        out += line;
    } else {
        if (m_outKind < 0 || m_outKind >= kMethodCount)
            return 0;
        out += kMethodNames[m_outKind];
        out += ' ';
        out += m_requestUri;
        out += "\r\n";
    }
    for (const Slot& s : m_out.slots) {
        out.append(m_out.text(s.nameOff), s.nameLen);
        out += ": ";
        out.append(m_out.text(s.valueOff), s.valueLen);
        out += "\r\n";
    }
    out += "\r\n";
    if (m_out.find("Content-Length") >= 0 && !m_body.empty())
        out += m_body;
    (void)start;
    return 1;
}

const char* CHTTPHdrs::output(int* count) const {
    if (count != nullptr)
        *count = int(m_buffer.size());
    return m_buffer.empty() ? nullptr : m_buffer.data();
}

// ---------------------------------------------------------------- incoming

void CHTTPHdrs::resetIncoming() {
    m_in.clear();
    m_inKind = kInNone;
    m_inStatus = 0;
    m_inVersion = 0;
    m_lastInSlot = kNoHeader;
    m_lastWasVia = false;
    m_vias.clear();
    m_parseError.clear();
}

const char* CHTTPHdrs::incomingHeader(const char* name) const {
    return name == nullptr ? nullptr : m_in.value(name);
}

std::vector<std::string> CHTTPHdrs::incomingVias() const {
    std::vector<std::string> vias;
    for (const Slot& s : m_vias)
        vias.emplace_back(m_in.text(s.valueOff), s.valueLen);
    return vias;
}

int CHTTPHdrs::fail(const char* why) {
    m_parseError = why;
    return -1;
}

int CHTTPHdrs::parseHeaders(const char* bytes, int count) {
    resetIncoming();
    if (bytes == nullptr || count < 14)
        return 0;
    int blank = findIn(bytes, 0, count, "\r\n\r\n");
    if (blank < 0)
        return 0;
    int lineEnd = findIn(bytes, 0, count, "\r\n");
    if (parseStartLine(bytes, lineEnd) < 0)
        return -1;
    if (lineEnd == blank)
        return blank + 4;
    if (parseHeaderBlock(bytes, lineEnd + 2, blank) < 0)
        return -1;
    deriveKeys();
    return blank + 4;
}

int CHTTPHdrs::parseStartLine(const char* d, int lineEnd) {
    std::string_view line(d, size_t(lineEnd));
    auto statusAt = [&](int major, int minor, int status) {
        // A status line without a reason phrase ends right after the code.
        int after = status + 3;
        if (!isDigit(d[major]) || d[major + 1] != '.' || !isDigit(d[minor]) ||
            d[minor + 1] != ' ' || lineEnd < after || !isDigit(d[status]) ||
            !isDigit(d[status + 1]) || !isDigit(d[status + 2]) ||
            (lineEnd > after && d[after] != ' '))
            return fail("malformed status line");
        m_inKind = kInResponse;
        m_inVersion = float(d[major] - '0') + float(d[minor] - '0') / 10.0f;
        m_inStatus = threeDigits(d + status);
        return 0;
    };
    if (line.substr(0, 5) == "HTTP/")
        return statusAt(5, 7, 9);
    if (line.substr(0, 4) == "SIP/") {
        if (statusAt(4, 6, 8) < 0)
            return -1;
        if (m_inStatus == 401) {
            int from = 12, to = std::min(lineEnd, 24);
            m_in.set("SIP401",
                     std::string_view(d + std::min(from, to), size_t(to - std::min(from, to))),
                     true);
        }
        return 0;
    }
    for (const RequestMethod& m : kRequestMethods) {
        if (line.size() > m.name.size() && line.substr(0, m.name.size()) == m.name &&
            line[m.name.size()] == ' ') {
            m_inKind = m.kind;
            return 0;
        }
    }
    return fail("unknown request method");
}

int CHTTPHdrs::parseHeaderBlock(const char* d, int begin, int end) {
    int pos = begin;
    while (pos < end) {
        int eol = pos;
        while (eol < end && d[eol] != '\r' && d[eol] != '\n')
            ++eol;
        std::string_view line(d + pos, size_t(eol - pos));
        pos = eol;
        while (pos < end && (d[pos] == '\r' || d[pos] == '\n'))
            ++pos;
        if (line.empty())
            continue;
        if (isBlank(line.front())) {
            if (m_lastInSlot == kNoHeader)
                return fail("continuation line without a header");
            if (m_lastInSlot != kDroppedHeader)
                extendLastIncoming(trimBlanks(line));
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return fail("header line without a colon");
        std::string_view name = trimBlanks(line.substr(0, colon));
        if (name.empty())
            return fail("empty header name");
        storeIncoming(expandCompact(name), trimBlanks(line.substr(colon + 1)));
    }
    return 0;
}

int CHTTPHdrs::storeIncoming(std::string_view name, std::string_view value) {
    int at = m_in.set(name, value, true);
    m_lastInSlot = at < 0 ? kDroppedHeader : at;
    m_lastWasVia = at >= 0 && equalsNoCase(name, "Via");
    if (m_lastWasVia)
        m_vias.push_back(m_in.slots[size_t(at)]);
    return at;
}

void CHTTPHdrs::extendLastIncoming(std::string_view more) {
    Slot& s = m_in.slots[size_t(m_lastInSlot)];
    std::string joined(m_in.text(s.valueOff), s.valueLen);
    if (!more.empty()) {
        if (!joined.empty())
            joined += ' ';
        joined.append(more.data(), more.size());
    }
    s.valueOff = m_in.store(joined);
    s.valueLen = uint32_t(joined.size());
    if (m_lastWasVia && !m_vias.empty())
        m_vias.back() = s;
}

// ---------------------------------------------------------------- derived keys

void CHTTPHdrs::deriveKeys() {
    size_t headerSlots = m_in.slots.size();
    for (size_t i = 0; i < headerSlots; ++i) {
        const Slot s = m_in.slots[i];
        std::string_view name(m_in.text(s.nameOff), s.nameLen);
        if (equalsNoCase(name, "Via")) {
            deriveVia(int(i));
        } else if (equalsNoCase(name, "From")) {
            deriveAddress(int(i), "From", true);
        } else if (equalsNoCase(name, "To")) {
            deriveAddress(int(i), "To", true);
        } else if (equalsNoCase(name, "Contact")) {
            deriveAddress(int(i), "Contact", false);
        } else if (equalsNoCase(name, "CSeq")) {
            deriveCSeq(int(i));
        } else if (equalsNoCase(name, "WWW-Authenticate")) {
            deriveAuthenticate(int(i));
        }
    }
}

void CHTTPHdrs::deriveVia(int slot) {
    const Slot s = m_in.slots[size_t(slot)];
    const std::string& value = m_scratch.assign(m_in.text(s.valueOff), s.valueLen);
    size_t at = value.find("branch");
    if (at == std::string::npos)
        return;
    size_t from = std::min(value.size(), at + 7);  // "branch" and its "="
    m_in.set("branch", std::string_view(value).substr(from), true);
}

// <sip:USER@HOST[:PORT]>;tag=T gives PREFIXsip = USER, PREFIXsipip = HOST[:PORT] and, for From
// and To, PREFIXtag = T (the tag parameter's value only).
void CHTTPHdrs::deriveAddress(int slot, std::string_view prefix, bool withTag) {
    const Slot s = m_in.slots[size_t(slot)];
    const std::string& value = m_scratch.assign(m_in.text(s.valueOff), s.valueLen);
    std::string_view v(value);
    std::string_view uri = v, params;
    size_t open = v.find('<');
    if (open != std::string_view::npos) {
        size_t close = v.find('>', open);
        uri = v.substr(open + 1,
                       close == std::string_view::npos ? std::string_view::npos : close - open - 1);
        params = close == std::string_view::npos ? std::string_view() : v.substr(close + 1);
    } else {
        size_t semi = v.find(';');
        uri = v.substr(0, semi);
        params = semi == std::string_view::npos ? std::string_view() : v.substr(semi);
    }
    size_t colon = uri.find(':');
    std::string key(prefix);
    if (colon != std::string_view::npos) {
        std::string_view rest = uri.substr(colon + 1);
        rest = rest.substr(0, rest.find(';'));
        size_t at = rest.find('@');
        key += "sip";
        if (at != std::string_view::npos) {
            m_in.set(key, rest.substr(0, at), true);
            m_in.set(key + "ip", rest.substr(at + 1), true);
        } else {
            m_in.set(key + "ip", rest, true);
        }
    }
    if (!withTag)
        return;
    size_t pos = 0;
    while ((pos = params.find(';', pos)) != std::string_view::npos) {
        std::string_view p = trimBlanks(params.substr(pos + 1));
        if (p.size() >= 4 && equalsNoCase(p.substr(0, 4), "tag=")) {
            std::string_view tag = p.substr(4);
            m_in.set(std::string(prefix) + "tag", trimBlanks(tag.substr(0, tag.find(';'))), true);
            return;
        }
        ++pos;
    }
}

void CHTTPHdrs::deriveCSeq(int slot) {
    const Slot s = m_in.slots[size_t(slot)];
    const std::string& value = m_scratch.assign(m_in.text(s.valueOff), s.valueLen);
    size_t blank = value.find_last_of(" \t");
    if (blank == std::string::npos)
        return;
    m_in.set("CSeqType", std::string_view(value).substr(blank + 1), true);
}

// Digest parameters, with or without blanks after the commas; quoted values may hold commas and
// escaped characters. Stored under the names as received (lookups ignore case).
void CHTTPHdrs::deriveAuthenticate(int slot) {
    const Slot s = m_in.slots[size_t(slot)];
    const std::string& value = m_scratch.assign(m_in.text(s.valueOff), s.valueLen);
    std::string_view v(value);
    size_t pos = v.find_first_of(" \t");  // skip the scheme
    if (pos == std::string_view::npos)
        return;
    while (pos < v.size()) {
        while (pos < v.size() && (isBlank(v[pos]) || v[pos] == ','))
            ++pos;
        size_t eq = v.find('=', pos);
        if (eq == std::string_view::npos)
            return;
        std::string_view name = trimBlanks(v.substr(pos, eq - pos));
        pos = eq + 1;
        while (pos < v.size() && isBlank(v[pos]))
            ++pos;
        std::string param;
        if (pos < v.size() && v[pos] == '"') {
            for (++pos; pos < v.size() && v[pos] != '"'; ++pos) {
                if (v[pos] == '\\' && pos + 1 < v.size())
                    ++pos;
                param += v[pos];
            }
            ++pos;  // closing quote
        } else {
            size_t comma = v.find(',', pos);
            param = std::string(trimBlanks(v.substr(pos, comma - pos)));
            pos = comma == std::string_view::npos ? v.size() : comma;
        }
        if (!name.empty())
            m_in.set(name, param, true);
    }
}
