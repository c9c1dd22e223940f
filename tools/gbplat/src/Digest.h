// MD5 digest authentication of REGISTER (RFC 2617), checked for real so that a console with a
// wrong password, a wrong digest URI or a lost opaque is refused.
#pragma once

#include <map>
#include <string>

namespace gbplat {

// MD5 (RFC 1321) of the bytes, as 32 lower-case hexadecimal characters.
std::string md5Hex(const std::string& data);

enum class ChallengeStyle { Spaced, Compact };

struct Challenge {
    std::string realm;
    std::string nonce;
    std::string opaque;  // empty: not sent
    bool offerQop = false;
    bool stale = false;
};

// "Digest realm="…", nonce="…", algorithm=MD5" (Spaced) or the JAIN-SIP form without blanks,
// which also offers qop="auth" (Compact).
std::string challengeValue(const Challenge& c, ChallengeStyle style);

enum class DigestVerdict {
    Ok,
    Malformed,      // a required parameter is missing or unusable: 400
    StaleNonce,     // not our current nonce: a new 401 with stale=TRUE
    WrongUser,      // username not accepted: 403
    WrongRealm,     // 403
    WrongUri,       // digest uri does not name the Request-URI: 400
    WrongOpaque,    // opaque not echoed: 403
    WrongResponse,  // wrong password: 403
};

const char* verdictText(DigestVerdict v);

struct DigestCheck {
    std::string method;      // "REGISTER"
    std::string requestUri;  // Request-URI of the request
    std::string password;
    std::string acceptUser;  // empty: any user name
    Challenge challenge;     // what we sent
};

// Verifies parsed Authorization parameters (names in lower case, quotes removed).
DigestVerdict verifyDigest(const std::map<std::string, std::string>& auth,
                           const DigestCheck& check);

// The expected response for the given parameters (qop empty: RFC 2069 form).
std::string digestResponse(const std::string& user, const std::string& realm,
                           const std::string& password, const std::string& method,
                           const std::string& uri, const std::string& nonce, const std::string& qop,
                           const std::string& nc, const std::string& cnonce);

}  // namespace gbplat
