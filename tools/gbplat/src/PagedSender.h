// A MANSCDP answer spread over several requests (catalogue or record list pages), sent one at a
// time: the next page leaves when the client has answered the previous one with 2xx. A page
// that is never answered is retransmitted (timer E) and ends the answer after 64 × T1.
#pragma once

#include "SipCore.h"

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace gbplat {

class PagedSender {
public:
    struct Page {
        SipMessage req;
        Endpoint dest;
    };
    // Builds page `index`; nothing when the answer can no longer be sent.
    using BuildFn = std::function<std::optional<Page>(size_t index)>;

    explicit PagedSender(SipCore& core) : core_(core) {}

    // `what` names the answer in the log ("catalogue", "record list").
    void start(const std::string& what, size_t pages, BuildFn build);
    void reset() { jobs_.clear(); }

private:
    struct Job {
        std::string what;
        size_t pages = 0;
        size_t next = 0;
        BuildFn build;
    };
    void sendPage(uint64_t id);
    void onPageAnswered(uint64_t id, size_t page, const SipMessage* r);

    SipCore& core_;
    std::map<uint64_t, Job> jobs_;
    uint64_t nextId_ = 1;
};

}  // namespace gbplat
