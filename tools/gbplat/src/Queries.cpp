#include "Queries.h"

#include "RecordInfo.h"

#include <map>

namespace gbplat {

void Queries::handleMessage(const Incoming& in) {
    using Handler = void (Queries::*)(const Incoming&);
    static const std::map<std::pair<std::string, std::string>, Handler> handlers = {
        {{"Notify", "Keepalive"}, &Queries::keepalive},
        {{"Query", "Catalog"}, &Queries::catalogQuery},
        {{"Query", "RecordInfo"}, &Queries::recordQuery},
    };
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
    auto it = handlers.find({root, cmd});
    if (it != handlers.end())
        return (this->*(it->second))(in);
    core_.respond(in, 200, "OK", core_.newTag());
    core_.log.event("%s/%s from %s answered 200, nothing more to do", root.c_str(), cmd.c_str(),
                    in.ids.fromUri.user.c_str());
}

void Queries::keepalive(const Incoming& in) {
    core_.respond(in, 200, "OK", core_.newTag());
    core_.log.event("keepalive from %s", in.ids.fromUri.user.c_str());
}

void Queries::catalogQuery(const Incoming& in) {
    core_.respond(in, 200, "OK", core_.newTag());
    std::string sn = xmlElementText(in.req.body, "SN");
    if (sn.empty())
        sn = std::to_string(core_.nextSn());
    auto pages = answerPages(cameras_.size(), core_.cfg.pageSize);
    core_.log.event("catalogue of %zu cameras as %zu Response pages", cameras_.size(),
                    pages.size());
    startResponse("catalogue", in.ids.fromUri.user, pages.size(), [this, sn, pages](size_t i) {
        CatalogBodyInput body{"Response", sn, core_.cfg.deviceId, core_.cfg.xmlEncoding,
                              cameras_.size()};
        return buildCatalogBody(body, cameras_.all(), pages[i]);
    });
}

// The camera's recorded segments in the asked span, one item each, in pages like the catalogue.
void Queries::recordQuery(const Incoming& in) {
    int64_t utcOffset = core_.cfg.recording.utcOffsetSeconds;
    std::string why;
    auto q = parseRecordQuery(in.req.body, utcOffset, &why);
    if (!q) {
        core_.log.event("RecordInfo query from %s unreadable (%s): 400",
                        in.ids.fromUri.user.c_str(), why.c_str());
        return core_.respond(in, 400, "Bad Request", core_.newTag());
    }
    core_.respond(in, 200, "OK", core_.newTag());
    const Camera* camera = cameras_.find(q->deviceId);
    std::vector<TimeSpan> segments;
    if (camera && recordTypeMatches(q->type))
        segments = recordings_.within(q->span, core_.clock.epochSeconds());
    auto pages = answerPages(segments.size(), core_.cfg.pageSize);
    core_.log.event("record query %s for %s%s: %s..%s, type %s: %zu segments as %zu pages",
                    q->sn.c_str(), camera ? "" : "unknown camera ", q->deviceId.c_str(),
                    formatLocalTime(q->span.start, utcOffset).c_str(),
                    formatLocalTime(q->span.end, utcOffset).c_str(), q->type.c_str(),
                    segments.size(), pages.size());
    RecordBodyInput head{q->sn, core_.cfg.xmlEncoding, utcOffset, segments.size()};
    std::string asked = q->deviceId;
    startResponse("record list", in.ids.fromUri.user, pages.size(),
                  [head, camera, asked, segments, pages](size_t i) {
                      return buildRecordInfoBody(head, camera, asked, segments, pages[i]);
                  });
}

void Queries::startResponse(const std::string& what, const std::string& user, size_t pages,
                            std::function<std::string(size_t page)> body) {
    if (!registrar_.find(user))
        return;
    pager_.start(what, pages, [this, user, body](size_t i) -> std::optional<PagedSender::Page> {
        const Registrar::Registration* reg = registrar_.find(user);
        if (!reg)
            return std::nullopt;
        SipMessage req = core_.newRequest(
            "MESSAGE", reg->contactUri, core_.ourContact() + ";tag=" + core_.newTag(),
            "<" + reg->aor + ">", core_.newCallId(), outOfDialogCSeq_++);
        req.add("Content-Type", "Application/MANSCDP+xml");
        req.body = body(i);
        return PagedSender::Page{req, reg->contact};
    });
}

}  // namespace gbplat
