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
    int expires = expiresValue(in.req.header("Expires"), 3600, core_.cfg.registerExpiresMax);
    if (expires < 0)
        return core_.respond(in, 400, "Bad Request", core_.newTag());
    std::string tag = core_.newTag();
    core_.respond(in, 200, "OK", tag,
                  {{"Expires", std::to_string(expires)}, {"Contact", core_.ourContact()}});
    if (expires == 0)
        return;
    Subscription s;
    s.key = {in.ids.callId, tag, in.ids.from.tag()};
    s.remoteFrom = *in.req.header("From");
    s.target = contactAddr->uri;
    s.dest = *dest;
    s.event = ev;
    s.remoteCSeq = in.ids.cseq.number;
    s.expiresMs = core_.clock.steadyMs() + int64_t(expires) * 1000;
    core_.log.event("subscription %s from %s, NOTIFYs to %s", in.ids.callId.c_str(),
                    in.ids.fromUri.user.c_str(), s.target.c_str());
    subscriptions_[s.key] = s;
    scheduleExpiry(s.key, expires);
    startNotify(s.key, xmlElementText(in.req.body, "SN"));
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
    refresh(it->second, in);
    return true;
}

void Subscriptions::refresh(Subscription& s, const Incoming& in) {
    int expires = expiresValue(in.req.header("Expires"), 3600, core_.cfg.registerExpiresMax);
    if (expires < 0)
        return core_.respond(in, 400, "Bad Request");
    core_.respond(in, 200, "OK", std::string(), {{"Expires", std::to_string(expires)}});
    DialogKey key = s.key;
    if (expires == 0) {
        core_.log.event("subscription %s ended by the client", key.callId.c_str());
        subscriptions_.erase(key);
        return;
    }
    s.expiresMs = core_.clock.steadyMs() + int64_t(expires) * 1000;
    scheduleExpiry(key, expires);
    startNotify(key, xmlElementText(in.req.body, "SN"));
}

// A subscription the client stops refreshing ends quietly at its expiry.
void Subscriptions::scheduleExpiry(const DialogKey& key, int expires) {
    core_.addTimer(int64_t(expires) * 1000, [this, key] {
        auto it = subscriptions_.find(key);
        if (it == subscriptions_.end() || it->second.expiresMs > core_.clock.steadyMs())
            return;
        core_.log.event("subscription %s expired", key.callId.c_str());
        subscriptions_.erase(it);
    });
}

SipMessage Subscriptions::notifyRequest(Subscription& s) {
    SipMessage req =
        core_.newRequest("NOTIFY", s.target, core_.ourContact() + ";tag=" + s.key.localTag,
                         s.remoteFrom, s.key.callId, ++s.localCSeq);
    req.add("Event", s.event);
    int64_t left = std::max<int64_t>(0, (s.expiresMs - core_.clock.steadyMs()) / 1000);
    req.add("Subscription-State", "active;expires=" + std::to_string(left));
    return req;
}

void Subscriptions::startNotify(const DialogKey& key, const std::string& sn) {
    std::string notifySn = sn.empty() ? std::to_string(core_.nextSn()) : sn;
    auto pages = answerPages(cameras_.size(), core_.cfg.pageSize);
    core_.log.event("catalogue of %zu cameras as %zu Notify pages", cameras_.size(), pages.size());
    pager_.start("catalogue", pages.size(),
                 [this, key, notifySn, pages](size_t i) -> std::optional<PagedSender::Page> {
                     auto it = subscriptions_.find(key);
                     if (it == subscriptions_.end())
                         return std::nullopt;
                     SipMessage req = notifyRequest(it->second);
                     CatalogBodyInput in{"Notify", notifySn, core_.cfg.deviceId,
                                         core_.cfg.xmlEncoding, cameras_.size()};
                     req.add("Content-Type", "Application/MANSCDP+xml");
                     req.body = buildCatalogBody(in, cameras_.all(), pages[i]);
                     return PagedSender::Page{req, it->second.dest};
                 });
}

}  // namespace gbplat
