#include "CHTTPHdrs.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
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
constexpr CHTTPHdrs::FixedName kBranch("branch"), kCSeqType("CSeqType"), kSip401("SIP401");
constexpr int kNoHeader = -1;       // no header line read yet
constexpr int kDroppedHeader = -2;  // the last line did not fit the full table

constexpr char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    if (a == b)
        return true;  // the usual case: the same spelling
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

// Start of the first CR LF CR LF, or -1.
int findBlankLine(const char* data, int count) {
    int pos = 0;
#if defined(__SSE2__)
    // Sixteen candidate positions at a time, from four shifted loads inside the data.
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    for (; pos + 19 < count; pos += 16) {
        auto at = [&](int k) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos + k));
        };
        const __m128i hit =
            _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(at(0), cr), _mm_cmpeq_epi8(at(1), lf)),
                          _mm_and_si128(_mm_cmpeq_epi8(at(2), cr), _mm_cmpeq_epi8(at(3), lf)));
        const unsigned mask = unsigned(_mm_movemask_epi8(hit));
        if (mask != 0)
            return pos + __builtin_ctz(mask);
    }
#endif
    for (; pos + 3 < count; ++pos) {
        if (data[pos] == '\r' && data[pos + 1] == '\n' && data[pos + 2] == '\r' &&
            data[pos + 3] == '\n')
            return pos;
    }
    return -1;
}

int threeDigits(const char* p) {
    return (p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0');
}

}  // namespace

// ---------------------------------------------------------------- header table

int CHTTPHdrs::Table::find(std::string_view name) const {
    return find(name, nameHash(name));
}

int CHTTPHdrs::Table::find(std::string_view name, uint32_t hash) const {
    for (uint32_t b = hash & (kBuckets - 1); buckets[b] >= 0; b = (b + 1) & (kBuckets - 1)) {
        const Slot& s = entries[size_t(buckets[b])];
        if (s.nameHash == hash && s.nameLen == name.size() && equalsNoCase(nameOf(s), name))
            return buckets[b];
    }
    return -1;
}

void CHTTPHdrs::Arena::reserve(size_t capacity) {
    if (capacity <= m_capacity)
        return;
    capacity = std::max(capacity, 2 * m_capacity);
    std::unique_ptr<char[]> grown(new char[capacity]);
    if (m_size > 0)
        std::memcpy(grown.get(), m_data.get(), m_size);
    m_data = std::move(grown);
    m_capacity = capacity;
}

void CHTTPHdrs::Arena::appendText(const char* bytes, size_t count) {
    if (m_size + count + 1 > m_capacity) {
        // The bytes may be ours: find them again after the move.
        const char* base = m_data.get();
        const bool inside = base != nullptr && bytes >= base && bytes < base + m_size;
        const size_t from = inside ? size_t(bytes - base) : 0;
        reserve(m_size + count + 1);
        if (inside)
            bytes = m_data.get() + from;
    }
    if (count > 0)
        std::memmove(m_data.get() + m_size, bytes, count);
    m_size += uint32_t(count);
    m_data[m_size++] = '\0';
}

uint32_t CHTTPHdrs::Table::store(std::string_view t) {
    uint32_t off = arena.size();
    arena.appendText(t.data(), t.size());
    return off;
}

int CHTTPHdrs::Table::set(std::string_view name, std::string_view value, bool replace) {
    const uint32_t hash = nameHash(name);
    int at = replace ? find(name, hash) : -1;
    if (at >= 0) {
        uint32_t off = store(value);
        entries[size_t(at)].valueOff = off;
        entries[size_t(at)].valueLen = uint32_t(value.size());
        return at;
    }
    if (entries.size() >= size_t(kMaxSlots))
        return -1;
    Slot s{};
    s.nameLen = uint32_t(name.size());
    s.valueLen = uint32_t(value.size());
    s.nameHash = hash;
    s.nameOff = store(name);
    s.valueOff = store(value);
    append(s);
    return int(entries.size() - 1);
}

// Sets a name of static storage: only the value is copied.
int CHTTPHdrs::Table::setFixed(const FixedName& name, std::string_view value) {
    int at = find(std::string_view(name.text, name.length), name.hash);
    const uint32_t valueLen = uint32_t(value.size());
    const uint32_t valueOff = store(value);
    if (at >= 0) {
        entries[size_t(at)].valueOff = valueOff;
        entries[size_t(at)].valueLen = valueLen;
        return at;
    }
    if (entries.size() >= size_t(kMaxSlots))
        return -1;
    append(Slot{0, name.length, valueOff, valueLen, name.hash, name.text});
    return int(entries.size() - 1);
}

// A slot whose texts are already in the arena; replaces the value of a name already present.
int CHTTPHdrs::Table::place(const Slot& slot) {
    int at = find(nameOf(slot), slot.nameHash);
    if (at >= 0) {
        entries[size_t(at)].valueOff = slot.valueOff;
        entries[size_t(at)].valueLen = slot.valueLen;
        return at;
    }
    if (entries.size() >= size_t(kMaxSlots))
        return -1;
    append(slot);
    return int(entries.size() - 1);
}

const char* CHTTPHdrs::Table::value(std::string_view name) const {
    int at = find(name);
    return at < 0 ? nullptr : text(entries[size_t(at)].valueOff);
}

void CHTTPHdrs::Table::clear() {
    arena.clear();
    if (!entries.empty())
        buckets.fill(-1);
    entries.clear();
}

void CHTTPHdrs::Table::append(const Slot& slot) {
    uint32_t b = slot.nameHash & (kBuckets - 1);
    while (buckets[b] >= 0)
        b = (b + 1) & (kBuckets - 1);
    buckets[b] = int16_t(entries.size());
    entries.push_back(slot);
}

// ---------------------------------------------------------------- outgoing

CHTTPHdrs::CHTTPHdrs() {
    m_out.arena.reserve(4096);
    m_out.entries.reserve(32);
    m_in.arena.reserve(8192);
    m_in.entries.reserve(48);
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
    for (const Slot& s : m_out.entries) {
        const std::string_view name = m_out.nameOf(s);
        out.append(name.data(), name.size());
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

bool CHTTPHdrs::incomingText(const FixedName& name, std::string_view* value) const {
    int at = m_in.find(std::string_view(name.text, name.length), name.hash);
    if (at < 0)
        return false;
    const Slot& s = m_in.entries[size_t(at)];
    *value = std::string_view(m_in.text(s.valueOff), s.valueLen);
    return true;
}

const char* CHTTPHdrs::incomingValue(std::string_view name, uint32_t hash) const {
    int at = m_in.find(name, hash);
    return at < 0 ? nullptr : m_in.text(m_in.entries[size_t(at)].valueOff);
}

std::vector<std::string> CHTTPHdrs::incomingVias() const {
    std::vector<std::string> vias;
    for (const Slot& s : m_vias)
        vias.emplace_back(m_in.text(s.valueOff), s.valueLen);
    return vias;
}

void CHTTPHdrs::copyIncomingVias(std::vector<std::string>& out) const {
    out.resize(m_vias.size());
    for (size_t i = 0; i < m_vias.size(); ++i) {
        out[i].assign(m_in.text(m_vias[i].valueOff), m_vias[i].valueLen);
    }
}

int CHTTPHdrs::fail(const char* why) {
    m_parseError = why;
    return -1;
}

int CHTTPHdrs::parseHeaders(const char* bytes, int count) {
    resetIncoming();
    if (bytes == nullptr || count < 14)
        return 0;
    int blank = findBlankLine(bytes, count);
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
            m_in.setFixed(
                kSip401, std::string_view(d + std::min(from, to), size_t(to - std::min(from, to))));
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

// The header block is copied once into the incoming arena and cut into NUL-terminated names and
// values in place; only folded lines and compact names need further text.
int CHTTPHdrs::parseHeaderBlock(const char* d, int begin, int end) {
    Arena& arena = m_in.arena;
    const uint32_t base = arena.size();
    const uint32_t stop = base + uint32_t(end - begin);
    arena.reserve(stop + 1 + 2 * size_t(end - begin) + 512);  // room for the derived keys
    arena.appendText(d + begin, size_t(end - begin));
    uint32_t pos = base;
    while (pos < stop) {
        const uint32_t lineStart = pos;
        uint32_t colon = stop;
        const uint32_t eol = lineEnd(pos, stop, &colon);
        pos = eol;
        while (pos < stop && (arena[pos] == '\r' || arena[pos] == '\n'))
            ++pos;
        if (eol == lineStart)
            continue;
        if (isBlank(arena[lineStart])) {
            if (m_lastInSlot == kNoHeader)
                return fail("continuation line without a header");
            if (m_lastInSlot != kDroppedHeader)
                extendLastIncoming(
                    trimBlanks(std::string_view(arena.data() + lineStart, eol - lineStart)));
            continue;
        }
        if (splitHeaderLine(lineStart, colon, eol) < 0)
            return -1;
    }
    return 0;
}

// First CR or LF at or after pos (or stop), and the first colon before it (or stop): one pass.
uint32_t CHTTPHdrs::lineEnd(uint32_t pos, uint32_t stop, uint32_t* colon) const {
    const char* a = m_in.arena.data();
    *colon = stop;
#if defined(__SSE2__)
    // Sixteen bytes at a time while they lie inside the block, then byte by byte.
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), co = _mm_set1_epi8(':');
    while (pos + 16 <= stop) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + pos));
        const unsigned ends =
            unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
        unsigned colons = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, co)));
        if (ends != 0)
            colons &= (ends & (0u - ends)) - 1;  // only colons before the line end
        if (*colon == stop && colons != 0)
            *colon = pos + uint32_t(__builtin_ctz(colons));
        if (ends != 0)
            return pos + uint32_t(__builtin_ctz(ends));
        pos += 16;
    }
#endif
    for (; pos < stop; ++pos) {
        const char c = a[pos];
        if (c == ':') {
            if (*colon == stop)
                *colon = pos;
        } else if (c == '\r' || c == '\n') {
            break;
        }
    }
    return pos;
}

int CHTTPHdrs::splitHeaderLine(uint32_t start, uint32_t colon, uint32_t eol) {
    char* a = m_in.arena.data();
    if (colon >= eol)
        return fail("header line without a colon");
    uint32_t nameEnd = colon;
    while (nameEnd > start && isBlank(a[nameEnd - 1]))
        --nameEnd;
    if (nameEnd == start)
        return fail("empty header name");
    uint32_t valueStart = colon + 1, valueEnd = eol;
    while (valueStart < valueEnd && isBlank(a[valueStart]))
        ++valueStart;
    while (valueEnd > valueStart && isBlank(a[valueEnd - 1]))
        --valueEnd;
    a[nameEnd] = '\0';
    a[valueEnd] = '\0';
    std::string_view name(a + start, nameEnd - start);
    std::string_view full = expandCompact(name);  // a compact name gives a static full name
    return storeIncoming(Slot{start, uint32_t(full.size()), valueStart, valueEnd - valueStart,
                              nameHash(full), full.data() != name.data() ? full.data() : nullptr});
}

// Every Via line is kept for the replies, up to a bound no real path of proxies comes near.
int CHTTPHdrs::storeIncoming(const Slot& slot) {
    int at = m_in.place(slot);
    m_lastInSlot = at < 0 ? kDroppedHeader : at;
    constexpr uint32_t kVia = nameHash("Via");
    m_lastWasVia = at >= 0 && slot.nameHash == kVia && equalsNoCase(m_in.nameOf(slot), "Via");
    if (m_lastWasVia) {
        if (m_vias.size() >= size_t(kMaxSlots))
            return fail("more than 256 Via lines");
        m_vias.push_back(m_in.entries[size_t(at)]);
    }
    return 0;
}

// A folded line joins the value it continues in place. The value and the line both lie in the
// copied header block, the line after the value, so the joined text needs no further room and
// any number of folded lines costs one pass.
void CHTTPHdrs::extendLastIncoming(std::string_view more) {
    if (more.empty())
        return;
    Slot& s = m_in.entries[size_t(m_lastInSlot)];
    char* a = m_in.arena.data();
    uint32_t end = s.valueOff + s.valueLen;
    if (s.valueLen > 0)
        a[end++] = ' ';
    std::memmove(a + end, more.data(), more.size());
    end += uint32_t(more.size());
    a[end] = '\0';
    s.valueLen = end - s.valueOff;
    if (m_lastWasVia && !m_vias.empty())
        m_vias.back() = s;
}

size_t CHTTPHdrs::incomingFootprint() const {
    return m_in.arena.capacity() + m_in.entries.capacity() * sizeof(Slot) +
           m_vias.capacity() * sizeof(Slot) + m_scratch.capacity() + m_unescaped.capacity();
}

// ---------------------------------------------------------------- derived keys

const CHTTPHdrs::AddressKeys CHTTPHdrs::kFromKeys{"Fromsip", "Fromsipip", "Fromtag", true};
const CHTTPHdrs::AddressKeys CHTTPHdrs::kToKeys{"Tosip", "Tosipip", "Totag", true};
const CHTTPHdrs::AddressKeys CHTTPHdrs::kContactKeys{"Contactsip", "Contactsipip", "", false};

void CHTTPHdrs::deriveKeys() {
    constexpr uint32_t kVia = nameHash("Via"), kFrom = nameHash("From"), kTo = nameHash("To"),
                       kContact = nameHash("Contact"), kCSeq = nameHash("CSeq"),
                       kAuthenticate = nameHash("WWW-Authenticate");
    const size_t headerSlots = m_in.entries.size();
    for (size_t i = 0; i < headerSlots; ++i) {
        const Slot s = m_in.entries[i];
        const std::string_view name = m_in.nameOf(s);
        auto is = [&](uint32_t hash, std::string_view known) {
            return s.nameHash == hash && equalsNoCase(name, known);
        };
        if (is(kVia, "Via")) {
            deriveVia(int(i));
        } else if (is(kFrom, "From")) {
            deriveAddress(int(i), kFromKeys);
        } else if (is(kTo, "To")) {
            deriveAddress(int(i), kToKeys);
        } else if (is(kContact, "Contact")) {
            deriveAddress(int(i), kContactKeys);
        } else if (is(kCSeq, "CSeq")) {
            deriveCSeq(int(i));
        } else if (is(kAuthenticate, "WWW-Authenticate")) {
            deriveAuthenticate(int(i));
        }
    }
}

// Stores name = the part [from, from + len) of the value of slot. The part is read from the arena
// at the moment of the store, which copes with the arena growing.
void CHTTPHdrs::setDerived(const FixedName& name, const Slot& s, size_t from, size_t len) {
    from = std::min<size_t>(from, s.valueLen);
    len = std::min<size_t>(len, s.valueLen - from);
    m_in.setFixed(name, std::string_view(m_in.text(s.valueOff) + from, len));
}

std::optional<std::string_view> CHTTPHdrs::viaBranch(std::string_view v) {
    for (size_t at = v.find(';'); at != std::string_view::npos; at = v.find(';', at)) {
        ++at;
        const size_t eq = v.find_first_of("=;,", at);
        if (eq == std::string_view::npos || v[eq] != '=' ||
            !equalsNoCase(trimBlanks(v.substr(at, eq - at)), "branch"))
            continue;
        size_t from = eq + 1;
        while (from < v.size() && isBlank(v[from]))
            ++from;
        const size_t end = std::min(v.size(), v.find_first_of("; \t,", from));
        return v.substr(from, end - from);
    }
    return std::nullopt;
}

// The value of the branch parameter only.
void CHTTPHdrs::deriveVia(int slot) {
    const Slot s = m_in.entries[size_t(slot)];
    const std::string_view v(m_in.text(s.valueOff), s.valueLen);
    if (const auto branch = viaBranch(v))
        setDerived(kBranch, s, size_t(branch->data() - v.data()), branch->size());
}

// <sip:USER@HOST[:PORT]>;tag=T gives PREFIXsip = USER, PREFIXsipip = HOST[:PORT] and, for From
// and To, PREFIXtag = T (the tag parameter's value only).
void CHTTPHdrs::deriveAddress(int slot, const AddressKeys& keys) {
    const Slot s = m_in.entries[size_t(slot)];
    const std::string_view v(m_in.text(s.valueOff), s.valueLen);
    size_t uriFrom = 0, uriEnd = v.size(), paramsFrom = v.size();
    size_t open = v.find('<');
    if (open != std::string_view::npos) {
        size_t close = v.find('>', open);
        uriFrom = open + 1;
        uriEnd = close == std::string_view::npos ? v.size() : close;
        paramsFrom = close == std::string_view::npos ? v.size() : close + 1;
    } else {
        uriEnd = paramsFrom = std::min(v.size(), v.find(';'));
    }
    // Every position is taken before the first store, which may move the arena.
    size_t userFrom = 0, userLen = 0, hostFrom = 0, hostLen = 0, tagFrom = 0, tagLen = 0;
    bool hasUri = false, hasUser = false, hasTag = false;
    std::string_view uri = v.substr(uriFrom, uriEnd - uriFrom);
    size_t colon = uri.find(':');
    if (colon != std::string_view::npos) {
        hasUri = true;
        std::string_view rest = uri.substr(colon + 1);
        rest = rest.substr(0, rest.find(';'));
        size_t at = rest.find('@');
        size_t restFrom = uriFrom + colon + 1;
        hasUser = at != std::string_view::npos;
        userFrom = restFrom;
        userLen = hasUser ? at : 0;
        hostFrom = hasUser ? restFrom + at + 1 : restFrom;
        hostLen = hasUser ? rest.size() - at - 1 : rest.size();
    }
    for (size_t pos = v.find(';', paramsFrom); keys.withTag && pos != std::string_view::npos;
         pos = v.find(';', pos + 1)) {
        size_t p = pos + 1;
        while (p < v.size() && isBlank(v[p]))
            ++p;
        if (v.size() - p >= 4 && equalsNoCase(v.substr(p, 4), "tag=")) {
            std::string_view tag = trimBlanks(v.substr(p + 4, v.find(';', p) - (p + 4)));
            hasTag = true;
            tagFrom = size_t(tag.data() - v.data());
            tagLen = tag.size();
            break;
        }
    }
    if (hasUser)
        setDerived(keys.user, s, userFrom, userLen);
    if (hasUri)
        setDerived(keys.host, s, hostFrom, hostLen);
    if (hasTag)
        setDerived(keys.tag, s, tagFrom, tagLen);
}

void CHTTPHdrs::deriveCSeq(int slot) {
    const Slot s = m_in.entries[size_t(slot)];
    std::string_view v(m_in.text(s.valueOff), s.valueLen);
    size_t blank = v.find_last_of(" \t");
    if (blank != std::string_view::npos)
        setDerived(kCSeqType, s, blank + 1, s.valueLen);
}

// Digest parameters, with or without blanks after the commas; quoted values may hold commas and
// escaped characters. Stored under the names as received (lookups ignore case).
// A quoted-string's content without its escaping backslashes (held until the next call).
std::string_view CHTTPHdrs::unescape(std::string_view quoted) {
    m_unescaped.clear();
    for (size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] == '\\' && i + 1 < quoted.size())
            ++i;
        m_unescaped += quoted[i];
    }
    return m_unescaped;
}

void CHTTPHdrs::deriveAuthenticate(int slot) {
    const Slot s = m_in.entries[size_t(slot)];
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
        std::string_view param;
        if (pos < v.size() && v[pos] == '"') {
            const size_t open = ++pos;
            bool escaped = false;
            for (; pos < v.size() && v[pos] != '"'; ++pos) {
                if (v[pos] == '\\' && pos + 1 < v.size()) {
                    escaped = true;
                    ++pos;
                }
            }
            param = v.substr(open, pos - open);
            if (escaped)
                param = unescape(param);
            ++pos;  // closing quote
        } else {
            size_t comma = v.find(',', pos);
            param = trimBlanks(v.substr(pos, comma - pos));
            pos = comma == std::string_view::npos ? v.size() : comma;
        }
        if (!name.empty())
            m_in.set(name, param, true);
    }
}
