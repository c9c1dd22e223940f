#include "Queries.h"

namespace gbplat {

void Queries::handleMessage(const Incoming& in) {
    const std::string* type = in.req.header("Content-Type");
    if (!type || !equalsNoCase(trim(*type), "Application/MANSCDP+xml")) {
        return core_.respond(in, 415, "Unsupported Media Type", core_.newTag(),
                             {{"Accept", "Application/MANSCDP+xml"}});
    }
    const std::string& body = in.req.body;
    std::string root = xmlRootName(body), cmd = xmlElementText(body, "CmdType");
    if (root.empty() || cmd.empty()) {
        core_.log.event("MESSAGE body without a root element or CmdType: 400");
        return core_.respond(in, 400, "Bad Request", core_.newTag());
    }
    const std::string& user = in.ids.fromUri.user;
    core_.respond(in, 200, "OK", core_.newTag());
    if (root == "Notify" && cmd == "Keepalive") {
        core_.log.event("keepalive from %s", user.c_str());
    } else if (root == "Query" && cmd == "Catalog") {
        startCatalogResponse(user, xmlElementText(body, "SN"));
    } else {
        core_.log.event("%s/%s from %s answered 200, nothing more to do", root.c_str(), cmd.c_str(),
                        user.c_str());
    }
}

SipMessage Queries::responseMessage(const Registrar::Registration& reg, const std::string& body) {
    SipMessage req =
        core_.newRequest("MESSAGE", reg.contactUri, core_.ourContact() + ";tag=" + core_.newTag(),
                         "<" + reg.aor + ">", core_.newCallId(), outOfDialogCSeq_++);
    req.add("Content-Type", "Application/MANSCDP+xml");
    req.body = body;
    return req;
}

void Queries::startCatalogResponse(const std::string& user, const std::string& sn) {
    if (!registrar_.find(user))
        return;
    std::string answerSn = sn.empty() ? std::to_string(core_.nextSn()) : sn;
    auto pages = answerPages(cameras_.size(), core_.cfg.pageSize);
    core_.log.event("catalogue of %zu cameras as %zu Response pages", cameras_.size(),
                    pages.size());
    pager_.start("catalogue", pages.size(),
                 [this, user, answerSn, pages](size_t i) -> std::optional<PagedSender::Page> {
                     const Registrar::Registration* reg = registrar_.find(user);
                     if (!reg)
                         return std::nullopt;
                     CatalogBodyInput in{"Response", answerSn, core_.cfg.deviceId,
                                         core_.cfg.xmlEncoding, cameras_.size()};
                     return PagedSender::Page{
                         responseMessage(*reg, buildCatalogBody(in, cameras_.all(), pages[i])),
                         reg->contact};
                 });
}

}  // namespace gbplat
