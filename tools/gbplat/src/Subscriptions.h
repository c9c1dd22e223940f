// Catalogue subscriptions (SUBSCRIBE, RFC 6665). Each is a dialog that lasts the Expires it was
// granted unless refreshed, in which the platform sends the catalogue and every later status
// change as NOTIFYs, one at a time; it ends with a NOTIFY whose state is terminated.
#pragma once

#include "Catalogue.h"
#include "SipCore.h"

#include <deque>
#include <map>
#include <optional>
#include <vector>

namespace gbplat {

class Subscriptions {
public:
    Subscriptions(SipCore& core, const CameraDirectory& cameras) : core_(core), cameras_(cameras) {}

    // A SUBSCRIBE outside any dialog: a new subscription, which replaces the subscriber's
    // earlier one.
    void handleSubscribe(const Incoming& in);
    // A request inside one of our subscriptions; false when it names none.
    bool handleInDialog(const Incoming& in, const DialogKey& key);
    // A camera's status changed: every live subscription gets a NOTIFY with it.
    void statusChanged(const Camera& camera);
    size_t count() const { return subscriptions_.size(); }
    // Forgets every subscription without a word (a restart).
    void reset() { subscriptions_.clear(); }

private:
    struct Subscription {
        DialogKey key;
        std::string subscriber;  // the device code of its From
        std::string remoteFrom;
        std::string target;
        Endpoint dest;
        std::string event;
        uint32_t remoteCSeq = 0;
        uint32_t localCSeq = 0;
        int64_t expiresMs = 0;
        uint64_t expiryTimer = 0;
        // What is still to be sent: status changes first, each as it happened, then the rest
        // of the catalogue.
        std::deque<Camera> changes;
        std::string catalogSn;
        std::vector<CatalogPage> catalogPages;
        size_t nextPage = 0;
        uint32_t catalogRound = 0;  // rises with each catalogue a refresh starts
        bool notifying = false;     // a NOTIFY waits for its answer
    };

    int grantedExpires(const Incoming& in) const;
    void refresh(Subscription& s, const Incoming& in, int expires);
    void setExpiry(Subscription& s, int expires);
    void startCatalogue(Subscription& s, const std::string& sn);
    void sendNext(const DialogKey& key);
    void onNotifyAnswered(const DialogKey& key, std::optional<uint32_t> round, const SipMessage* r);
    SipMessage notifyRequest(Subscription& s, const std::string& state);
    // Ends a subscription with a final NOTIFY (terminated;reason=timeout) and forgets it.
    void terminate(const DialogKey& key);

    SipCore& core_;
    const CameraDirectory& cameras_;
    std::map<DialogKey, Subscription> subscriptions_;
};

}  // namespace gbplat
