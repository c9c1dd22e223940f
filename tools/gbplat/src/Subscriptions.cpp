#include "Subscriptions.h"

#include <algorithm>

namespace gbplat {

void Subscriptions::handleSubscribe(const Incoming& in) {
    const std::string* event = in.req.header("Event");
    std::string ev = event ? trim(splitTopLevel(*event, ';')[0]) : std::string();
    if (!equalsNoCase(ev, "presence") && !equalsNoCase(ev, "Catalog")) {
        core_.log.event("SUBSCRIBE for event '%s': 489", ev.c_str());
        return core_.respond(in, 489, "Bad Event", core_.newTag(),
                             {{"Allow-Events", "presence, Catalog"}});
    }
    const std::string* contact = in.req.header("Contact");
    auto contactAddr = contact ? parseNameAddr(*contact) : std::nullopt;
    auto dest = contactAddr ? core_.resolveTarget(contactAddr->uri, in.from) : std::nullopt;
    if (!dest) {
        core_.log.event("SUBSCRIBE without a usable Contact: 400");
        return core_.respond(in, 400, "Bad Request", core_.newTag());
    }
    int expires = grantedExpires(in);
    if (expires < 0)
        return core_.respond(in, 400, "Bad Request", core_.newTag());
    std::string tag = core_.newTag();
    core_.respond(in, 200, "OK", tag,
                  {{"Expires", std::to_string(expires)}, {"Contact", core_.ourContact()}});
    // One subscription per subscriber, as GB/T 28181 platforms keep them: a fresh SUBSCRIBE is
    // how some consoles refresh, and the dialog it leaves behind is not told anything more.
    const std::string& user = in.ids.fromUri.user;
    for (auto it = subscriptions_.begin(); it != subscriptions_.end();) {
        if (it->second.subscriber != user) {
            ++it;
            continue;
        }
        core_.log.event(expires ? "subscription %s replaced by %s" : "subscription %s ended by %s",
                        it->first.callId.c_str(), in.ids.callId.c_str());
        core_.cancelTimer(it->second.expiryTimer);
        it = subscriptions_.erase(it);
    }
    if (expires == 0)
        return;
    DialogKey key{in.ids.callId, tag, in.ids.from.tag()};
    Subscription& s = subscriptions_[key];
    s.key = key;
    s.subscriber = user;
    s.remoteFrom = *in.req.header("From");
    s.target = contactAddr->uri;
    s.dest = *dest;
    s.event = ev;
    s.remoteCSeq = in.ids.cseq.number;
    setExpiry(s, expires);
    core_.log.event("subscription %s from %s granted %d s, NOTIFYs to %s", key.callId.c_str(),
                    user.c_str(), expires, s.target.c_str());
    startCatalogue(s, xmlElementText(in.req.body, "SN"));
    sendNext(key);
}

// The Expires asked for, at most the configured maximum, which is also what none asks for.
int Subscriptions::grantedExpires(const Incoming& in) const {
    int max = core_.cfg.subscribeExpiresMax;
    return expiresValue(in.req.header("Expires"), max, max);
}

bool Subscriptions::handleInDialog(const Incoming& in, const DialogKey& key) {
    auto it = subscriptions_.find(key);
    if (it == subscriptions_.end())
        return false;
    if (in.req.method == "ACK" || !core_.inOrder(in, it->second.remoteCSeq))
        return true;
    if (in.req.method != "SUBSCRIBE") {
        core_.respond(in, 405, "Method Not Allowed", std::string(), {{"Allow", kAllowedMethods}});
        return true;
    }
    int expires = grantedExpires(in);
    if (expires < 0) {
        core_.respond(in, 400, "Bad Request");
        return true;
    }
    refresh(it->second, in, expires);
    return true;
}

// RFC 6665 §4.2.1.2: a refresh is answered with the current state, here the whole catalogue;
// Expires 0 ends the subscription.
void Subscriptions::refresh(Subscription& s, const Incoming& in, int expires) {
    core_.respond(in, 200, "OK", std::string(), {{"Expires", std::to_string(expires)}});
    DialogKey key = s.key;
    if (expires == 0) {
        core_.log.event("subscription %s ended by the client", key.callId.c_str());
        return terminate(key);
    }
    setExpiry(s, expires);
    core_.log.event("subscription %s refreshed: %d s", key.callId.c_str(), expires);
    startCatalogue(s, xmlElementText(in.req.body, "SN"));
    sendNext(key);
}

void Subscriptions::setExpiry(Subscription& s, int expires) {
    core_.cancelTimer(s.expiryTimer);
    s.expiresMs = core_.clock.steadyMs() + int64_t(expires) * 1000;
    DialogKey key = s.key;
    s.expiryTimer = core_.addTimer(int64_t(expires) * 1000, [this, key] {
        auto it = subscriptions_.find(key);
        if (it == subscriptions_.end())
            return;
        it->second.expiryTimer = 0;
        core_.log.event("subscription %s expired: terminated NOTIFY sent", key.callId.c_str());
        terminate(key);
    });
}

void Subscriptions::terminate(const DialogKey& key) {
    auto it = subscriptions_.find(key);
    if (it == subscriptions_.end())
        return;
    core_.cancelTimer(it->second.expiryTimer);
    SipMessage req = notifyRequest(it->second, "terminated;reason=timeout");
    Endpoint dest = it->second.dest;
    subscriptions_.erase(it);
    std::string callId = key.callId;
    core_.sendRequest(req, dest, [this, callId](const SipMessage* r) {
        core_.log.event("final NOTIFY of subscription %s %s", callId.c_str(),
                        r ? ("answered " + std::to_string(r->status)).c_str() : "not answered");
    });
}

void Subscriptions::startCatalogue(Subscription& s, const std::string& sn) {
    s.catalogSn = sn.empty() ? std::to_string(core_.nextSn()) : sn;
    s.catalogPages = answerPages(cameras_.size(), core_.cfg.pageSize);
    s.nextPage = 0;
    ++s.catalogRound;
    core_.log.event("catalogue of %zu cameras as %zu Notify pages", cameras_.size(),
                    s.catalogPages.size());
}

void Subscriptions::statusChanged(const Camera& camera) {
    // A subscriber that answers nothing loses its subscription after 64 × T1; until then its
    // backlog is bounded.
    const size_t maxBacklog = 1024;
    for (auto& [key, s] : subscriptions_) {
        if (s.changes.size() >= maxBacklog) {
            core_.log.event("subscription %s: status change backlog full, oldest dropped",
                            key.callId.c_str());
            s.changes.pop_front();
        }
        s.changes.push_back(camera);
        sendNext(key);
    }
}

// Sends what is due, one NOTIFY at a time: the next leaves when the last one is answered.
void Subscriptions::sendNext(const DialogKey& key) {
    auto it = subscriptions_.find(key);
    if (it == subscriptions_.end() || it->second.notifying)
        return;
    Subscription& s = it->second;
    const PlatformConfig& cfg = core_.cfg;
    std::string body;
    std::optional<uint32_t> round;  // the catalogue's, when a page of it goes
    if (!s.changes.empty()) {
        std::vector<Camera> change{s.changes.front()};
        s.changes.pop_front();
        CatalogBodyInput in{"Notify", std::to_string(core_.nextSn()), cfg.deviceId, cfg.xmlEncoding,
                            1};
        body = buildCatalogChangeBody(in, change);
    } else if (s.nextPage < s.catalogPages.size()) {
        CatalogBodyInput in{"Notify", s.catalogSn, cfg.deviceId, cfg.xmlEncoding, cameras_.size()};
        body = buildCatalogBody(in, cameras_.all(), s.catalogPages[s.nextPage]);
        round = s.catalogRound;
    } else {
        return;
    }
    int64_t left = std::max<int64_t>(0, (s.expiresMs - core_.clock.steadyMs()) / 1000);
    SipMessage req = notifyRequest(s, "active;expires=" + std::to_string(left));
    req.add("Content-Type", "Application/MANSCDP+xml");
    req.body = body;
    s.notifying = true;
    core_.sendRequest(req, s.dest,
                      [this, key, round](const SipMessage* r) { onNotifyAnswered(key, round, r); });
}

// RFC 6665 §4.2.2: a NOTIFY that fails, by an error answer or none, ends the subscription.
void Subscriptions::onNotifyAnswered(const DialogKey& key, std::optional<uint32_t> round,
                                     const SipMessage* r) {
    auto it = subscriptions_.find(key);
    if (it == subscriptions_.end())
        return;
    Subscription& s = it->second;
    s.notifying = false;
    if (!isSuccess(r)) {
        core_.log.event("subscription %s ended: NOTIFY %s", key.callId.c_str(),
                        r ? ("answered " + std::to_string(r->status)).c_str() : "not answered");
        core_.cancelTimer(s.expiryTimer);
        subscriptions_.erase(it);
        return;
    }
    if (round == s.catalogRound && ++s.nextPage == s.catalogPages.size())
        core_.log.event("catalogue sent: %zu pages answered", s.catalogPages.size());
    sendNext(key);
}

SipMessage Subscriptions::notifyRequest(Subscription& s, const std::string& state) {
    SipMessage req =
        core_.newRequest("NOTIFY", s.target, core_.ourContact() + ";tag=" + s.key.localTag,
                         s.remoteFrom, s.key.callId, ++s.localCSeq);
    req.add("Event", s.event);
    req.add("Subscription-State", state);
    return req;
}

}  // namespace gbplat
