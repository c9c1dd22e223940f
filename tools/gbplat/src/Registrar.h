// Registration of the console (REGISTER with MD5 digest, RFC 2617) and the rule that only a
// registered device may ask anything else of the platform.
#pragma once

#include "SipCore.h"

#include <map>
#include <string>

namespace gbplat {

class Registrar {
public:
    struct Registration {
        std::string aor;  // To URI of the REGISTER
        std::string contactUri;
        Endpoint contact;
        int64_t expiresMs = 0;
        uint64_t expiryTimer = 0;
    };

    explicit Registrar(SipCore& core);

    void handleRegister(const Incoming& in);
    // True when the sender is registered; otherwise answers 401 (a challenge) or 403.
    bool requireRegistration(const Incoming& in);
    bool isRegistered(const std::string& user) const;
    // The live registration of a device, or nullptr.
    const Registration* find(const std::string& user) const;
    const std::string& nonce() const { return nonce_; }

    // Forgets every registration and draws a new nonce (a restart).
    void reset();

private:
    void challenge(const Incoming& in, bool stale);
    void acceptRegister(const Incoming& in);
    void forget(const std::string& user);
    std::string dateValue();

    SipCore& core_;
    std::string nonce_;
    std::map<std::string, Registration> registrations_;  // by device code
};

}  // namespace gbplat
