#include "Registrar.h"

#include <ctime>

namespace gbplat {

Registrar::Registrar(SipCore& core)
    : core_(core), nonce_(core.cfg.nonce.empty() ? core.randomHex(32) : core.cfg.nonce) {}

void Registrar::reset() {
    registrations_.clear();
    nonce_ = core_.randomHex(32);
}

void Registrar::challenge(const Incoming& in, bool stale) {
    const PlatformConfig& cfg = core_.cfg;
    Challenge c{cfg.realm, nonce_, cfg.opaque,
                cfg.offerQop < 0 ? cfg.challengeStyle == ChallengeStyle::Compact : cfg.offerQop > 0,
                stale};
    ++core_.stats.challenged;
    core_.respond(in, 401, "Unauthorized", core_.newTag(),
                  {{"WWW-Authenticate", challengeValue(c, cfg.challengeStyle)}});
}

bool Registrar::requireRegistration(const Incoming& in) {
    if (isRegistered(in.ids.fromUri.user))
        return true;
    int status = core_.cfg.unregisteredStatus;
    core_.log.event("%s from unregistered device %s: %d", in.req.method.c_str(),
                    in.ids.fromUri.user.c_str(), status);
    if (status == 401) {
        challenge(in, false);
    } else {
        ++core_.stats.forbidden;
        core_.respond(in, 403, "Forbidden", core_.newTag());
    }
    return false;
}

bool Registrar::isRegistered(const std::string& user) const {
    return find(user) != nullptr;
}

const Registrar::Registration* Registrar::find(const std::string& user) const {
    auto it = registrations_.find(user);
    return it != registrations_.end() && it->second.expiresMs > core_.clock.steadyMs() ? &it->second
                                                                                       : nullptr;
}

void Registrar::handleRegister(const Incoming& in) {
    const PlatformConfig& cfg = core_.cfg;
    auto uri = parseSipUri(in.req.uri);
    if (!uri || !(uri->user.empty() || uri->user == cfg.deviceId)) {
        core_.log.event("REGISTER for %s: not this platform: 404", in.req.uri.c_str());
        return core_.respond(in, 404, "Not Found", core_.newTag());
    }
    const std::string* auth = in.req.header("Authorization");
    if (!auth)
        return challenge(in, false);
    auto params = parseDigestParams(*auth);
    DigestCheck check{"REGISTER", in.req.uri, cfg.password, cfg.user,
                      Challenge{cfg.realm, nonce_, cfg.opaque, false, false}};
    DigestVerdict verdict = params ? verifyDigest(*params, check) : DigestVerdict::Malformed;
    core_.log.event("REGISTER from %s: credentials %s", in.ids.fromUri.user.c_str(),
                    verdictText(verdict));
    switch (verdict) {
        case DigestVerdict::Ok:
            return acceptRegister(in);
        case DigestVerdict::StaleNonce:
            return challenge(in, true);
        case DigestVerdict::Malformed:
        case DigestVerdict::WrongUri:
            return core_.respond(in, 400, "Bad Request", core_.newTag());
        case DigestVerdict::WrongUser:
        case DigestVerdict::WrongRealm:
        case DigestVerdict::WrongOpaque:
        case DigestVerdict::WrongResponse:
            ++core_.stats.forbidden;
            return core_.respond(in, 403, "Forbidden", core_.newTag());
    }
}

void Registrar::acceptRegister(const Incoming& in) {
    auto toUri = parseSipUri(in.ids.to.uri);
    std::string user = toUri ? toUri->user : in.ids.fromUri.user;
    const std::string* contact = in.req.header("Contact");
    int cap = core_.cfg.registerExpiresMax;
    int expires = expiresValue(in.req.header("Expires"), 3600, cap);
    std::optional<NameAddr> contactAddr;
    if (contact && trim(*contact) != "*") {
        contactAddr = parseNameAddr(*contact);
        bool has = false;
        std::string ce = contactAddr ? paramValue(contactAddr->params, "expires", &has) : "";
        if (has)
            expires = expiresValue(&ce, 3600, cap);
    }
    if ((contact && !contactAddr && trim(*contact) != "*") || expires < 0) {
        return core_.respond(in, 400, "Bad Request", core_.newTag());
    }
    if (expires == 0 || !contactAddr) {
        if (expires == 0) {
            forget(user);
            core_.log.event("device %s unregistered", user.c_str());
        }
        return core_.respond(in, 200, "OK", core_.newTag(),
                             {{"Expires", std::to_string(expires)}, {"Date", dateValue()}});
    }
    auto dest = core_.resolveTarget(contactAddr->uri, in.from);
    if (!dest)
        return core_.respond(in, 400, "Bad Request", core_.newTag());
    // The Expires the console asked for is honoured, however short (compressed timers).
    forget(user);
    uint64_t timer = core_.addTimer(int64_t(expires) * 1000, [this, user] {
        registrations_.erase(user);
        core_.log.event("registration of %s expired", user.c_str());
    });
    registrations_[user] = {in.ids.to.uri, contactAddr->uri, *dest,
                            core_.clock.steadyMs() + int64_t(expires) * 1000, timer};
    ++core_.stats.registered;
    core_.log.event("device %s registered, contact %s, expires %d", user.c_str(),
                    contactAddr->uri.c_str(), expires);
    core_.respond(in, 200, "OK", core_.newTag(),
                  {{"Contact", "<" + contactAddr->uri + ">;expires=" + std::to_string(expires)},
                   {"Expires", std::to_string(expires)},
                   {"Date", dateValue()}});
}

void Registrar::forget(const std::string& user) {
    auto it = registrations_.find(user);
    if (it == registrations_.end())
        return;
    core_.cancelTimer(it->second.expiryTimer);
    registrations_.erase(it);
}

// GB/T 28181 devices set their clock from the Date of the 200 to REGISTER.
std::string Registrar::dateValue() {
    time_t t = static_cast<time_t>(core_.clock.epochSeconds());
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S.000", &tm);
    return buf;
}

}  // namespace gbplat
