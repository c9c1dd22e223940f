#include "siptexts.h"

#include <cctype>

#include "CHTTPHdrs.h"

namespace siptexts {

namespace {

constexpr std::string_view kCrlf = "\r\n";

bool sameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// The Request-URI of a request's start line.
std::string_view requestUri(std::string_view request) {
    const size_t eol = request.find(kCrlf);
    const std::string_view line = request.substr(0, eol);
    const size_t first = line.find(' ');
    const size_t last = line.rfind(' ');
    if (first == std::string_view::npos || last <= first) {
        return {};
    }
    return line.substr(first + 1, last - first - 1);
}

struct InviteParts {
    std::string uri, via, from, to, callId;
    uint32_t cseq = 0;
    bool complete = false;
};

InviteParts partsOf(std::string_view invite) {
    InviteParts p;
    p.uri = std::string(requestUri(invite));
    p.via = header(invite, "Via");
    p.from = header(invite, "From");
    p.to = header(invite, "To");
    p.callId = header(invite, "Call-ID");
    p.complete = !p.uri.empty() && !p.via.empty() && !p.from.empty() && !p.to.empty() &&
                 !p.callId.empty() && cseqNumber(header(invite, "CSeq"), &p.cseq);
    return p;
}

std::string request(std::string_view method, const InviteParts& p, std::string_view via,
                    std::string_view to, uint32_t cseq) {
    std::string out;
    out.reserve(512);
    out.append(method).append(" ").append(p.uri).append(" SIP/2.0\r\n");
    out.append("Via: ").append(via).append(kCrlf);
    out.append("From: ").append(p.from).append(kCrlf);
    out.append("To: ").append(to).append(kCrlf);
    out.append("Call-ID: ").append(p.callId).append(kCrlf);
    out.append("CSeq: ").append(std::to_string(cseq)).append(" ").append(method).append(kCrlf);
    out.append("Max-Forwards: 70\r\nContent-Length: 0\r\n\r\n");
    return out;
}

}  // namespace

std::string viaBranch(std::string_view via) {
    const auto branch = CHTTPHdrs::viaBranch(via);
    return branch ? std::string(*branch) : std::string();
}

bool cseqNumber(std::string_view cseq, uint32_t* number) {
    cseq = trim(cseq);
    uint64_t value = 0;
    size_t i = 0;
    for (; i < cseq.size() && std::isdigit(static_cast<unsigned char>(cseq[i])); ++i) {
        value = value * 10 + uint64_t(cseq[i] - '0');
        if (value > UINT32_MAX) {
            return false;
        }
    }
    if (i == 0) {
        return false;
    }
    *number = uint32_t(value);
    return true;
}

std::string cseqMethod(std::string_view cseq) {
    cseq = trim(cseq);
    const size_t blank = cseq.find_last_of(" \t");
    std::string method(blank == std::string_view::npos ? std::string_view()
                                                       : cseq.substr(blank + 1));
    for (char& c : method) {
        c = char(std::toupper(static_cast<unsigned char>(c)));
    }
    return method;
}

std::string header(std::string_view message, std::string_view name) {
    const size_t end = message.find("\r\n\r\n");
    const std::string_view head = message.substr(0, end);
    size_t at = head.find(kCrlf);
    while (at != std::string_view::npos) {
        at += kCrlf.size();
        const size_t eol = head.find(kCrlf, at);
        const std::string_view line =
            head.substr(at, eol == std::string_view::npos ? eol : eol - at);
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos && sameNoCase(trim(line.substr(0, colon)), name)) {
            return std::string(trim(line.substr(colon + 1)));
        }
        at = eol;
    }
    return std::string();
}

std::string withStatusLine(std::string_view message, std::string_view statusLine) {
    const size_t eol = message.find(kCrlf);
    if (eol == std::string_view::npos) {
        return std::string();
    }
    return std::string(statusLine).append(message.substr(eol));
}

std::string withBranch(std::string_view via, std::string_view branch) {
    const auto old = CHTTPHdrs::viaBranch(via);
    if (!old) {
        return std::string(via).append(";branch=").append(branch);
    }
    const size_t from = size_t(old->data() - via.data());
    return std::string(via.substr(0, from)).append(branch).append(via.substr(from + old->size()));
}

std::string cancelFor(std::string_view invite) {
    const InviteParts p = partsOf(invite);
    return p.complete ? request("CANCEL", p, p.via, p.to, p.cseq) : std::string();
}

std::string ackFor(std::string_view invite, std::string_view to, std::string_view via) {
    const InviteParts p = partsOf(invite);
    if (!p.complete || to.empty()) {
        return std::string();
    }
    return request("ACK", p, via.empty() ? std::string_view(p.via) : via, to, p.cseq);
}

std::string byeFor(std::string_view invite, std::string_view to, std::string_view via) {
    const InviteParts p = partsOf(invite);
    if (!p.complete || to.empty() || via.empty()) {
        return std::string();
    }
    return request("BYE", p, via, to, p.cseq + 1);
}

std::string sdpConnectionAddress(std::string_view message) {
    const size_t bodyAt = message.find("\r\n\r\n");
    if (bodyAt == std::string_view::npos) {
        return std::string();
    }
    std::string_view sdp = message.substr(bodyAt + 4);
    while (!sdp.empty()) {
        const size_t eol = sdp.find('\n');
        std::string_view line = sdp.substr(0, eol);
        sdp = eol == std::string_view::npos ? std::string_view() : sdp.substr(eol + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.substr(0, 2) != "c=") {
            continue;
        }
        // <nettype> <addrtype> <connection-address>[/ttl[/count]]
        const size_t last = line.rfind(' ');
        if (last == std::string_view::npos) {
            return std::string();
        }
        const std::string_view address = line.substr(last + 1);
        return std::string(address.substr(0, address.find('/')));
    }
    return std::string();
}

}  // namespace siptexts
