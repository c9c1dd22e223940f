#include "Digest.h"

#include "SipMessage.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace gbplat {

namespace {

struct Md5State {
    uint32_t a = 0x67452301, b = 0xefcdab89, c = 0x98badcfe, d = 0x10325476;
};

const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

const int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                        5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                        4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                        6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

uint32_t rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

void md5Block(Md5State& s, const unsigned char* p) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) {
        w[i] = uint32_t(p[i * 4]) | uint32_t(p[i * 4 + 1]) << 8 | uint32_t(p[i * 4 + 2]) << 16 |
               uint32_t(p[i * 4 + 3]) << 24;
    }
    uint32_t a = s.a, b = s.b, c = s.c, d = s.d;
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        switch (i / 16) {
            case 0:
                f = (b & c) | (~b & d);
                g = i;
                break;
            case 1:
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
                break;
            case 2:
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
                break;
            default:
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
                break;
        }
        uint32_t next = b + rotl(a + f + kSine[i] + w[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    s.a += a;
    s.b += b;
    s.c += c;
    s.d += d;
}

// RFC 3261 URI comparison, enough for digest-uri against Request-URI: scheme and host ignore
// case, the user part does not.
bool sameUri(const std::string& x, const std::string& y) {
    auto a = parseSipUri(x);
    auto b = parseSipUri(y);
    if (!a || !b)
        return equalsNoCase(x, y);
    return a->scheme == b->scheme && a->user == b->user && equalsNoCase(a->host, b->host) &&
           a->port == b->port;
}

std::string param(const std::map<std::string, std::string>& m, const char* name) {
    auto it = m.find(name);
    return it == m.end() ? std::string() : it->second;
}

}  // namespace

std::string md5Hex(const std::string& data) {
    Md5State s;
    std::string msg = data;
    uint64_t bits = uint64_t(data.size()) * 8;
    msg += '\x80';
    while (msg.size() % 64 != 56)
        msg += '\0';
    for (int i = 0; i < 8; ++i)
        msg += static_cast<char>((bits >> (8 * i)) & 0xff);
    for (size_t off = 0; off < msg.size(); off += 64) {
        md5Block(s, reinterpret_cast<const unsigned char*>(msg.data() + off));
    }
    char out[33];
    uint32_t words[4] = {s.a, s.b, s.c, s.d};
    for (int i = 0; i < 16; ++i) {
        std::snprintf(out + i * 2, 3, "%02x", (words[i / 4] >> (8 * (i % 4))) & 0xff);
    }
    return std::string(out, 32);
}

std::string challengeValue(const Challenge& c, ChallengeStyle style) {
    const char* sep = style == ChallengeStyle::Spaced ? ", " : ",";
    std::string v = "Digest realm=\"" + c.realm + "\"";
    if (style == ChallengeStyle::Compact && c.offerQop)
        v += std::string(sep) + "qop=\"auth\"";
    v += std::string(sep) + "nonce=\"" + c.nonce + "\"";
    if (style == ChallengeStyle::Spaced && c.offerQop)
        v += std::string(sep) + "qop=\"auth\"";
    if (!c.opaque.empty())
        v += std::string(sep) + "opaque=\"" + c.opaque + "\"";
    if (c.stale)
        v += std::string(sep) + "stale=TRUE";
    v += std::string(sep) + "algorithm=MD5";
    return v;
}

const char* verdictText(DigestVerdict v) {
    switch (v) {
        case DigestVerdict::Ok:
            return "ok";
        case DigestVerdict::Malformed:
            return "malformed credentials";
        case DigestVerdict::StaleNonce:
            return "stale nonce";
        case DigestVerdict::WrongUser:
            return "user not accepted";
        case DigestVerdict::WrongRealm:
            return "wrong realm";
        case DigestVerdict::WrongUri:
            return "digest uri differs from Request-URI";
        case DigestVerdict::WrongOpaque:
            return "opaque not echoed";
        case DigestVerdict::WrongResponse:
            return "wrong response (password)";
    }
    return "?";
}

std::string digestResponse(const std::string& user, const std::string& realm,
                           const std::string& password, const std::string& method,
                           const std::string& uri, const std::string& nonce, const std::string& qop,
                           const std::string& nc, const std::string& cnonce) {
    std::string ha1 = md5Hex(user + ":" + realm + ":" + password);
    std::string ha2 = md5Hex(method + ":" + uri);
    if (qop.empty())
        return md5Hex(ha1 + ":" + nonce + ":" + ha2);
    return md5Hex(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2);
}

DigestVerdict verifyDigest(const std::map<std::string, std::string>& auth,
                           const DigestCheck& check) {
    std::string user = param(auth, "username"), realm = param(auth, "realm");
    std::string nonce = param(auth, "nonce"), uri = param(auth, "uri");
    std::string response = param(auth, "response"), qop = param(auth, "qop");
    std::string algorithm = param(auth, "algorithm");
    if (user.empty() || nonce.empty() || uri.empty() || response.size() != 32) {
        return DigestVerdict::Malformed;
    }
    if (!algorithm.empty() && !equalsNoCase(algorithm, "MD5"))
        return DigestVerdict::Malformed;
    if (!qop.empty() &&
        (qop != "auth" || param(auth, "nc").empty() || param(auth, "cnonce").empty())) {
        return DigestVerdict::Malformed;
    }
    if (!check.acceptUser.empty() && user != check.acceptUser)
        return DigestVerdict::WrongUser;
    if (realm != check.challenge.realm)
        return DigestVerdict::WrongRealm;
    if (nonce != check.challenge.nonce)
        return DigestVerdict::StaleNonce;
    if (!sameUri(uri, check.requestUri))
        return DigestVerdict::WrongUri;
    if (!check.challenge.opaque.empty() && param(auth, "opaque") != check.challenge.opaque) {
        return DigestVerdict::WrongOpaque;
    }
    std::string expected = digestResponse(user, realm, check.password, check.method, uri, nonce,
                                          qop, param(auth, "nc"), param(auth, "cnonce"));
    return toLower(response) == expected ? DigestVerdict::Ok : DigestVerdict::WrongResponse;
}

}  // namespace gbplat
