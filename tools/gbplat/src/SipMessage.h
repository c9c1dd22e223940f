// A small RFC 3261 message reader and writer, independent of the console's codec so that a
// fault on either side shows up as a protocol error instead of cancelling out.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace gbplat {

struct SipHeader {
    std::string name;  // full form, as registered ("Call-ID", "Via", ...)
    std::string value;
};

struct SipMessage {
    bool isRequest = false;
    std::string method;  // requests
    std::string uri;     // requests
    int status = 0;      // responses
    std::string reason;  // responses
    std::vector<SipHeader> headers;
    std::string body;

    // First value of a header (case-insensitive name), or nullptr.
    const std::string* header(const std::string& name) const;
    std::vector<std::string> headerValues(const std::string& name) const;
    void add(const std::string& name, const std::string& value);
    // Replaces the first header of that name or appends it.
    void set(const std::string& name, const std::string& value);
    void remove(const std::string& name);

    // Writes start line, headers, a Content-Length that always matches the body, body.
    std::string serialize() const;
};

// Parses one datagram. On failure returns nothing and, when error is given, a short reason.
std::optional<SipMessage> parseSipMessage(const std::string& data, std::string* error = nullptr);

// Full header name for a compact form ("i" -> "Call-ID"); other names unchanged.
std::string expandHeaderName(const std::string& name);

// "host[:port]": false for an empty host or a port that is not 1 to 65535 in digits; port 0
// when none is given.
bool splitHostPort(const std::string& text, std::string& host, int& port);
bool equalsNoCase(const std::string& a, const std::string& b);
std::string toLower(std::string s);
std::string trim(const std::string& s);

using Params = std::vector<std::pair<std::string, std::string>>;
// Value of a parameter by case-insensitive name; has tells an absent one from an empty one.
std::string paramValue(const Params& params, const std::string& name, bool* has = nullptr);

struct SipUri {
    std::string scheme;  // lower case
    std::string user;
    std::string host;
    int port = 0;  // 0: none given
    Params params;
};
std::optional<SipUri> parseSipUri(const std::string& text);

// name-addr or bare URI with header parameters, as in From, To and Contact.
struct NameAddr {
    std::string display;
    std::string uri;  // the URI text without angle brackets
    Params params;
    std::string tag() const { return paramValue(params, "tag"); }
};
std::optional<NameAddr> parseNameAddr(const std::string& value);

struct Via {
    std::string protocol;  // "SIP/2.0/UDP"
    std::string host;
    int port = 0;  // 0: none given
    Params params;
    std::string branch() const { return paramValue(params, "branch"); }
};
std::optional<Via> parseVia(const std::string& value);

struct CSeq {
    uint32_t number = 0;
    std::string method;
};
std::optional<CSeq> parseCSeq(const std::string& value);

// Parameters of a Digest challenge or credentials, names in lower case, quotes removed.
// Accepts parameters with or without blanks after the commas.
std::optional<std::map<std::string, std::string>> parseDigestParams(const std::string& value);

// Splits at commas that are outside quotes and angle brackets.
std::vector<std::string> splitTopLevel(const std::string& value, char separator);

}  // namespace gbplat
