// MANSCDP MESSAGEs from the console outside any dialog: keepalives and queries, the queries
// answered by Response MESSAGEs of their own to the registered Contact.
#pragma once

#include "Catalogue.h"
#include "PagedSender.h"
#include "RecordingModel.h"
#include "Registrar.h"

namespace gbplat {

class Queries {
public:
    Queries(SipCore& core, const Registrar& registrar, const CameraDirectory& cameras,
            const RecordingModel& recordings, PagedSender& pager)
        : core_(core),
          registrar_(registrar),
          cameras_(cameras),
          recordings_(recordings),
          pager_(pager) {}

    void handleMessage(const Incoming& in);

private:
    void keepalive(const Incoming& in);
    void catalogQuery(const Incoming& in);
    void recordQuery(const Incoming& in);
    // Sends `pages` Response MESSAGEs to the registered device, one at a time.
    void startResponse(const std::string& what, const std::string& user, size_t pages,
                       std::function<std::string(size_t page)> body);

    SipCore& core_;
    const Registrar& registrar_;
    const CameraDirectory& cameras_;
    const RecordingModel& recordings_;
    PagedSender& pager_;
    uint32_t outOfDialogCSeq_ = 1;
};

}  // namespace gbplat
