// Catalogue subscriptions (SUBSCRIBE, RFC 6665): each is a dialog in which the platform sends the
// catalogue as NOTIFYs.
#pragma once

#include "Catalogue.h"
#include "PagedSender.h"

#include <map>

namespace gbplat {

class Subscriptions {
public:
    Subscriptions(SipCore& core, const CameraDirectory& cameras, PagedSender& pager)
        : core_(core), cameras_(cameras), pager_(pager) {}

    // A SUBSCRIBE outside any dialog.
    void handleSubscribe(const Incoming& in);
    // A request inside one of our subscriptions; false when it names none.
    bool handleInDialog(const Incoming& in, const DialogKey& key);
    void reset() { subscriptions_.clear(); }

private:
    struct Subscription {
        DialogKey key;
        std::string remoteFrom;
        std::string target;
        Endpoint dest;
        std::string event;
        uint32_t remoteCSeq = 0;
        uint32_t localCSeq = 0;
        int64_t expiresMs = 0;
    };
    void refresh(Subscription& s, const Incoming& in);
    void scheduleExpiry(const DialogKey& key, int expires);
    void startNotify(const DialogKey& key, const std::string& sn);
    SipMessage notifyRequest(Subscription& s);

    SipCore& core_;
    const CameraDirectory& cameras_;
    PagedSender& pager_;
    std::map<DialogKey, Subscription> subscriptions_;
};

}  // namespace gbplat
