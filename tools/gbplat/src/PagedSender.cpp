#include "PagedSender.h"

namespace gbplat {

void PagedSender::start(const std::string& what, size_t pages, BuildFn build) {
    uint64_t id = nextId_++;
    jobs_[id] = Job{what, pages, 0, std::move(build)};
    sendPage(id);
}

void PagedSender::sendPage(uint64_t id) {
    auto it = jobs_.find(id);
    if (it == jobs_.end())
        return;
    size_t page = it->second.next;
    auto built = it->second.build(page);
    if (!built) {
        jobs_.erase(it);
        return;
    }
    core_.sendRequest(built->req, built->dest,
                      [this, id, page](const SipMessage* r) { onPageAnswered(id, page, r); });
}

void PagedSender::onPageAnswered(uint64_t id, size_t page, const SipMessage* r) {
    auto it = jobs_.find(id);
    if (it == jobs_.end())
        return;
    Job& job = it->second;
    if (!isSuccess(r)) {
        core_.log.event("%s stopped: page %zu of %zu %s", job.what.c_str(), page + 1, job.pages,
                        r ? ("answered " + std::to_string(r->status)).c_str() : "not answered");
        jobs_.erase(it);
        return;
    }
    if (++job.next >= job.pages) {
        core_.log.event("%s sent: %zu pages answered", job.what.c_str(), job.pages);
        jobs_.erase(it);
        return;
    }
    sendPage(id);
}

}  // namespace gbplat
