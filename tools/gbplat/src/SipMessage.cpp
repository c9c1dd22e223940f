#include "SipMessage.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace gbplat {

namespace {

// RFC 3261 §7.3.3 and the event-package RFCs.
const std::pair<const char*, const char*> kCompactNames[] = {
    {"i", "Call-ID"},
    {"m", "Contact"},
    {"e", "Content-Encoding"},
    {"l", "Content-Length"},
    {"c", "Content-Type"},
    {"f", "From"},
    {"s", "Subject"},
    {"k", "Supported"},
    {"t", "To"},
    {"v", "Via"},
    {"o", "Event"},
    {"u", "Allow-Events"},
    {"r", "Refer-To"},
    {"b", "Referred-By"},
    {"x", "Session-Expires"},
};

// Canonical spelling of the names this program reads, so the log shows one form.
const char* const kCanonicalNames[] = {
    "Via",
    "From",
    "To",
    "Call-ID",
    "CSeq",
    "Contact",
    "Max-Forwards",
    "Expires",
    "Content-Type",
    "Content-Length",
    "Authorization",
    "WWW-Authenticate",
    "Event",
    "Subject",
    "User-Agent",
    "Subscription-State",
    "Date",
    "Allow",
    "Supported",
    "Content-Encoding",
};

// Headers whose comma-separated values are separate header fields (RFC 3261 §7.3.1).
bool isListHeader(const std::string& name) {
    return equalsNoCase(name, "Via") || equalsNoCase(name, "Contact");
}

bool isTokenChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string("-.!%*_+`'~").find(c) != std::string::npos;
}

bool isToken(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), isTokenChar);
}

bool parseStatusLine(const std::string& line, SipMessage& m, std::string& error) {
    // SIP/2.0 SP 3DIGIT SP Reason-Phrase; a missing phrase is tolerated.
    if (line.size() < 11 || line.compare(0, 8, "SIP/2.0 ") != 0) {
        error = "bad status line";
        return false;
    }
    for (int i = 8; i < 11; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(line[i]))) {
            error = "bad status code";
            return false;
        }
    }
    if (line.size() > 11 && line[11] != ' ') {
        error = "bad status line";
        return false;
    }
    m.isRequest = false;
    m.status = std::atoi(line.substr(8, 3).c_str());
    m.reason = line.size() > 12 ? line.substr(12) : std::string();
    return m.status >= 100 && m.status <= 699 ? true : (error = "status out of range", false);
}

bool parseRequestLine(const std::string& line, SipMessage& m, std::string& error) {
    size_t sp1 = line.find(' ');
    size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string::npos || line.find(' ', sp2 + 1) != std::string::npos) {
        error = "bad request line";
        return false;
    }
    m.isRequest = true;
    m.method = line.substr(0, sp1);
    m.uri = line.substr(sp1 + 1, sp2 - sp1 - 1);
    if (!isToken(m.method) || m.uri.empty()) {
        error = "bad request line";
        return false;
    }
    if (line.substr(sp2 + 1) != "SIP/2.0") {
        error = "bad SIP version";
        return false;
    }
    return true;
}

std::string canonicalName(const std::string& name) {
    std::string full = expandHeaderName(name);
    for (const char* known : kCanonicalNames) {
        if (equalsNoCase(full, known))
            return known;
    }
    return full;
}

bool parseHeaderLines(const std::string& block, SipMessage& m, std::string& error) {
    std::vector<SipHeader> raw;
    size_t pos = 0;
    while (pos < block.size()) {
        size_t end = block.find("\r\n", pos);
        if (end == std::string::npos)
            end = block.size();
        std::string line = block.substr(pos, end - pos);
        pos = end + 2;
        if (line.empty())
            continue;
        if (line[0] == ' ' || line[0] == '\t') {
            // Folded line: continues the previous value after one blank.
            if (raw.empty()) {
                error = "continuation without header";
                return false;
            }
            std::string more = trim(line);
            if (!more.empty())
                raw.back().value += (raw.back().value.empty() ? "" : " ") + more;
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos) {
            error = "header line without colon";
            return false;
        }
        std::string name = trim(line.substr(0, colon));
        if (!isToken(name)) {
            error = "bad header name";
            return false;
        }
        raw.push_back({canonicalName(name), trim(line.substr(colon + 1))});
    }
    for (auto& h : raw) {
        if (!isListHeader(h.name)) {
            m.headers.push_back(std::move(h));
            continue;
        }
        for (auto& part : splitTopLevel(h.value, ','))
            m.headers.push_back({h.name, trim(part)});
    }
    return true;
}

bool takeBody(const std::string& data, size_t bodyStart, SipMessage& m, std::string& error) {
    const std::string* cl = m.header("Content-Length");
    size_t available = data.size() - bodyStart;
    if (!cl) {
        // Over UDP the body runs to the end of the datagram (RFC 3261 §18.3).
        m.body = data.substr(bodyStart);
        return true;
    }
    if (cl->empty() || cl->size() > 9 || !std::all_of(cl->begin(), cl->end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        })) {
        error = "bad Content-Length";
        return false;
    }
    size_t length = static_cast<size_t>(std::atol(cl->c_str()));
    if (length > available) {
        error = "Content-Length larger than the datagram";
        return false;
    }
    m.body = data.substr(bodyStart, length);
    return true;
}

Params parseParams(const std::string& text) {
    Params params;
    for (auto& p : splitTopLevel(text, ';')) {
        std::string item = trim(p);
        if (item.empty())
            continue;
        size_t eq = item.find('=');
        std::string name = trim(item.substr(0, eq));
        std::string value = eq == std::string::npos ? std::string() : trim(item.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        params.push_back({name, value});
    }
    return params;
}

bool parsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        })) {
        return false;
    }
    port = std::atoi(text.c_str());
    return port > 0 && port <= 65535;
}

}  // namespace

bool splitHostPort(const std::string& text, std::string& host, int& port) {
    size_t colon = text.rfind(':');
    port = 0;
    if (colon == std::string::npos) {
        host = text;
    } else {
        host = text.substr(0, colon);
        if (!parsePort(text.substr(colon + 1), port))
            return false;
    }
    return !host.empty();
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string toLower(std::string s) {
    for (auto& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::string expandHeaderName(const std::string& name) {
    if (name.size() == 1) {
        for (auto& [compact, full] : kCompactNames) {
            if (equalsNoCase(name, compact))
                return full;
        }
    }
    return name;
}

std::string paramValue(const Params& params, const std::string& name, bool* has) {
    for (auto& [n, v] : params) {
        if (equalsNoCase(n, name)) {
            if (has)
                *has = true;
            return v;
        }
    }
    if (has)
        *has = false;
    return std::string();
}

std::vector<std::string> splitTopLevel(const std::string& value, char separator) {
    std::vector<std::string> parts;
    std::string current;
    bool quoted = false;
    int angle = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (quoted && c == '\\' && i + 1 < value.size()) {
            current += c;
            current += value[++i];
            continue;
        }
        if (c == '"')
            quoted = !quoted;
        if (!quoted && c == '<')
            ++angle;
        if (!quoted && c == '>' && angle > 0)
            --angle;
        if (c == separator && !quoted && angle == 0) {
            parts.push_back(current);
            current.clear();
            continue;
        }
        current += c;
    }
    parts.push_back(current);
    return parts;
}

const std::string* SipMessage::header(const std::string& name) const {
    for (auto& h : headers) {
        if (equalsNoCase(h.name, name))
            return &h.value;
    }
    return nullptr;
}

std::vector<std::string> SipMessage::headerValues(const std::string& name) const {
    std::vector<std::string> values;
    for (auto& h : headers) {
        if (equalsNoCase(h.name, name))
            values.push_back(h.value);
    }
    return values;
}

void SipMessage::add(const std::string& name, const std::string& value) {
    headers.push_back({name, value});
}

void SipMessage::set(const std::string& name, const std::string& value) {
    for (auto& h : headers) {
        if (equalsNoCase(h.name, name)) {
            h.value = value;
            return;
        }
    }
    add(name, value);
}

void SipMessage::remove(const std::string& name) {
    headers.erase(std::remove_if(headers.begin(), headers.end(),
                                 [&](const SipHeader& h) { return equalsNoCase(h.name, name); }),
                  headers.end());
}

std::string SipMessage::serialize() const {
    std::string out;
    if (isRequest) {
        out = method + " " + uri + " SIP/2.0\r\n";
    } else {
        out = "SIP/2.0 " + std::to_string(status) + " " + reason + "\r\n";
    }
    for (auto& h : headers) {
        if (equalsNoCase(h.name, "Content-Length"))
            continue;
        out += h.name + ": " + h.value + "\r\n";
    }
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    out += body;
    return out;
}

std::optional<SipMessage> parseSipMessage(const std::string& data, std::string* error) {
    std::string why;
    SipMessage m;
    size_t headerEnd = data.find("\r\n\r\n");
    size_t lineEnd = data.find("\r\n");
    bool ok = headerEnd != std::string::npos || (why = "no end of header block", false);
    if (ok) {
        std::string line = data.substr(0, lineEnd);
        ok = line.compare(0, 4, "SIP/") == 0 ? parseStatusLine(line, m, why)
                                             : parseRequestLine(line, m, why);
    }
    if (ok && lineEnd < headerEnd) {
        ok = parseHeaderLines(data.substr(lineEnd + 2, headerEnd - lineEnd - 2), m, why);
    }
    if (ok)
        ok = takeBody(data, headerEnd + 4, m, why);
    if (!ok) {
        if (error)
            *error = why;
        return std::nullopt;
    }
    return m;
}

std::optional<SipUri> parseSipUri(const std::string& text) {
    SipUri uri;
    size_t colon = text.find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    uri.scheme = toLower(text.substr(0, colon));
    if (uri.scheme != "sip" && uri.scheme != "sips")
        return std::nullopt;
    std::string rest = text.substr(colon + 1);
    size_t semi = rest.find(';');
    if (semi != std::string::npos) {
        uri.params = parseParams(rest.substr(semi + 1));
        rest = rest.substr(0, semi);
    }
    size_t q = rest.find('?');
    if (q != std::string::npos)
        rest = rest.substr(0, q);
    size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        uri.user = rest.substr(0, at);
        size_t pw = uri.user.find(':');
        if (pw != std::string::npos)
            uri.user = uri.user.substr(0, pw);
        rest = rest.substr(at + 1);
    }
    if (!splitHostPort(rest, uri.host, uri.port))
        return std::nullopt;
    return uri;
}

std::optional<NameAddr> parseNameAddr(const std::string& value) {
    NameAddr na;
    std::string v = trim(value);
    size_t lt = v.find('<');
    std::string rest;
    if (lt != std::string::npos) {
        size_t gt = v.find('>', lt);
        if (gt == std::string::npos)
            return std::nullopt;
        na.display = trim(v.substr(0, lt));
        na.uri = v.substr(lt + 1, gt - lt - 1);
        rest = v.substr(gt + 1);
    } else {
        // A bare URI: its parameters would be header parameters (RFC 3261 §20.10).
        size_t semi = v.find(';');
        na.uri = trim(v.substr(0, semi));
        rest = semi == std::string::npos ? std::string() : v.substr(semi);
    }
    rest = trim(rest);
    if (!rest.empty()) {
        if (rest[0] != ';')
            return std::nullopt;
        na.params = parseParams(rest.substr(1));
    }
    if (na.uri.empty())
        return std::nullopt;
    return na;
}

std::optional<Via> parseVia(const std::string& value) {
    Via via;
    std::string v = trim(value);
    // sent-protocol may carry blanks around its slashes; sent-by follows after LWS.
    size_t sp = v.find_first_of(" \t", v.find("/", v.find('/') + 1));
    if (sp == std::string::npos)
        return std::nullopt;
    via.protocol = v.substr(0, sp);
    via.protocol.erase(std::remove_if(via.protocol.begin(), via.protocol.end(),
                                      [](char c) { return c == ' ' || c == '\t'; }),
                       via.protocol.end());
    if (!equalsNoCase(via.protocol.substr(0, 8), "SIP/2.0/"))
        return std::nullopt;
    std::string rest = trim(v.substr(sp));
    size_t semi = rest.find(';');
    std::string sentBy = trim(rest.substr(0, semi));
    if (semi != std::string::npos)
        via.params = parseParams(rest.substr(semi + 1));
    if (!splitHostPort(sentBy, via.host, via.port))
        return std::nullopt;
    return via;
}

std::optional<CSeq> parseCSeq(const std::string& value) {
    std::string v = trim(value);
    size_t sp = v.find_first_of(" \t");
    if (sp == std::string::npos || sp == 0 || sp > 10)
        return std::nullopt;
    std::string num = v.substr(0, sp);
    if (!std::all_of(num.begin(), num.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return std::nullopt;
    }
    unsigned long long n = std::strtoull(num.c_str(), nullptr, 10);
    if (n >= (1ULL << 31))
        return std::nullopt;  // RFC 3261 §8.1.1.5
    CSeq c;
    c.number = static_cast<uint32_t>(n);
    c.method = trim(v.substr(sp));
    if (!isToken(c.method))
        return std::nullopt;
    return c;
}

std::optional<std::map<std::string, std::string>> parseDigestParams(const std::string& value) {
    std::string v = trim(value);
    size_t sp = v.find_first_of(" \t");
    if (sp == std::string::npos || !equalsNoCase(v.substr(0, sp), "Digest"))
        return std::nullopt;
    std::map<std::string, std::string> out;
    for (auto& part : splitTopLevel(v.substr(sp + 1), ',')) {
        std::string item = trim(part);
        if (item.empty())
            continue;
        size_t eq = item.find('=');
        if (eq == std::string::npos)
            return std::nullopt;
        std::string name = toLower(trim(item.substr(0, eq)));
        std::string val = trim(item.substr(eq + 1));
        if (!val.empty() && val.front() == '"') {
            if (val.size() < 2 || val.back() != '"')
                return std::nullopt;
            val = val.substr(1, val.size() - 2);
        }
        out[name] = val;
    }
    return out;
}

}  // namespace gbplat
