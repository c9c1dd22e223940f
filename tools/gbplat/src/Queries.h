// MANSCDP MESSAGEs from the console outside any dialog: keepalives and queries, the queries
// answered by Response MESSAGEs of their own to the registered Contact.
#pragma once

#include "Catalogue.h"
#include "PagedSender.h"
#include "Registrar.h"

namespace gbplat {

class Queries {
public:
    Queries(SipCore& core, const Registrar& registrar, const CameraDirectory& cameras,
            PagedSender& pager)
        : core_(core), registrar_(registrar), cameras_(cameras), pager_(pager) {}

    void handleMessage(const Incoming& in);

private:
    void startCatalogResponse(const std::string& user, const std::string& sn);
    // A Response MESSAGE to the registered device, a new transaction of its own.
    SipMessage responseMessage(const Registrar::Registration& reg, const std::string& body);

    SipCore& core_;
    const Registrar& registrar_;
    const CameraDirectory& cameras_;
    PagedSender& pager_;
    uint32_t outOfDialogCSeq_ = 1;
};

}  // namespace gbplat
