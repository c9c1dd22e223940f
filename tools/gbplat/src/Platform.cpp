// The platform's front door: every datagram is read here, checked for the identity every
// request needs, and handed to the part that serves it.
#include "Platform.h"

#include "CameraStatus.h"
#include "PagedSender.h"
#include "Playbacks.h"
#include "Queries.h"
#include "Registrar.h"
#include "Subscriptions.h"

namespace gbplat {

struct Platform::Impl {
    using Handler = std::function<void(const Incoming&)>;

    Impl(PlatformConfig c, std::vector<Camera> cams, PlatformClock& clk, SendFn s, EventLog& l,
         MediaControl* m)
        : cfg(std::move(c)),
          cameras(std::move(cams)),
          recordings(cfg.recording),
          core(cfg, clk, std::move(s), l),
          registrar(core),
          pager(core),
          queries(core, registrar, cameras, recordings, pager),
          subscriptions(core, cameras),
          status(core, cameras, [this](const Camera& cam) { subscriptions.statusChanged(cam); }),
          playbacks(core, cameras, recordings, m),
          outOfDialog{
              {"MESSAGE", [this](const Incoming& in) { queries.handleMessage(in); }},
              {"SUBSCRIBE", [this](const Incoming& in) { subscriptions.handleSubscribe(in); }},
              {"INVITE", [this](const Incoming& in) { playbacks.handleInvite(in); }},
          } {
        status.startFlapping();
    }

    PlatformConfig cfg;
    CameraDirectory cameras;
    RecordingModel recordings;
    SipCore core;
    Registrar registrar;
    PagedSender pager;
    Queries queries;
    Subscriptions subscriptions;
    CameraStatus status;
    Playbacks playbacks;
    const std::map<std::string, Handler> outOfDialog;

    void onDatagram(const std::string& data, const Endpoint& from) {
        core.log.datagram(false, from, data);
        if (data.find_first_not_of("\r\n") == std::string::npos)
            return;  // keep-alive CRLFs
        std::string why;
        auto msg = parseSipMessage(data, &why);
        if (!msg) {
            core.log.event("malformed datagram from %s dropped: %s", from.text().c_str(),
                           why.c_str());
            return;
        }
        if (msg->isRequest) {
            onRequest(*msg, from);
        } else {
            core.onResponse(*msg);
        }
    }

    static std::optional<RequestIds> requestIds(const SipMessage& req, std::string& why) {
        RequestIds ids;
        const std::string* via = req.header("Via");
        auto v = via ? parseVia(*via) : std::nullopt;
        if (!v) {
            why = "no usable Via";
            return std::nullopt;
        }
        ids.via = *v;
        const std::string *from = req.header("From"), *to = req.header("To"),
                          *callId = req.header("Call-ID"), *cseq = req.header("CSeq");
        auto f = from ? parseNameAddr(*from) : std::nullopt;
        auto t = to ? parseNameAddr(*to) : std::nullopt;
        auto fu = f ? parseSipUri(f->uri) : std::nullopt;
        auto c = cseq ? parseCSeq(*cseq) : std::nullopt;
        if (!f || !t || !fu || !callId || callId->empty() || !c) {
            why = "missing or malformed From, To, Call-ID or CSeq";
        } else if (c->method != req.method) {
            why = "CSeq method differs from the request method";
        } else if (f->tag().empty()) {
            why = "From has no tag";
        } else if (ids.via.branch().empty()) {
            why = "Via has no branch";
        }
        if (callId)
            ids.callId = *callId;
        if (!why.empty())
            return ids;  // answerable: the Via is known
        ids.from = *f;
        ids.to = *t;
        ids.fromUri = *fu;
        ids.callId = *callId;
        ids.cseq = *c;
        return ids;
    }

    void onRequest(const SipMessage& req, const Endpoint& from) {
        std::string why;
        auto ids = requestIds(req, why);
        if (!ids) {
            core.log.event("%s from %s dropped: %s", req.method.c_str(), from.text().c_str(),
                           why.c_str());
            return;
        }
        Incoming in{req, *ids, from};
        if (!why.empty()) {
            core.log.event("%s from %s refused: %s", req.method.c_str(), from.text().c_str(),
                           why.c_str());
            if (req.method != "ACK" && req.header("From") && req.header("To") &&
                req.header("Call-ID") && req.header("CSeq")) {
                core.respond(in, 400, "Bad Request");
            }
            return;
        }
        if (const SipCore::Answer* earlier = core.earlierAnswer(req, *ids)) {
            core.log.event("retransmitted %s: answer repeated", req.method.c_str());
            core.transmit(earlier->dest, earlier->bytes);
            return;
        }
        if (req.method == "REGISTER")
            return registrar.handleRegister(in);
        if (req.method == "OPTIONS")
            return core.respond(in, 200, "OK", core.newTag(), {{"Allow", kAllowedMethods}});
        if (!ids->to.tag().empty())
            return handleInDialog(in);
        handleOutOfDialog(in);
    }

    void handleOutOfDialog(const Incoming& in) {
        const std::string& method = in.req.method;
        if (method == "ACK") {
            ++core.stats.noDialog;
            core.log.event("ACK without To tag matches no dialog: dropped (Call-ID %s)",
                           in.ids.callId.c_str());
            return;
        }
        if (method == "BYE" || method == "INFO" || method == "CANCEL") {
            ++core.stats.noDialog;
            core.log.event("%s outside any dialog (Call-ID %s): 481", method.c_str(),
                           in.ids.callId.c_str());
            return core.respond(in, 481, "Call/Transaction Does Not Exist", core.newTag());
        }
        auto it = outOfDialog.find(method);
        if (it == outOfDialog.end()) {
            return core.respond(in, 405, "Method Not Allowed", core.newTag(),
                                {{"Allow", kAllowedMethods}});
        }
        if (!addressedToUs(in.req)) {
            core.log.event("%s for %s: not this platform or one of its cameras: 404",
                           method.c_str(), in.req.uri.c_str());
            return core.respond(in, 404, "Not Found", core.newTag());
        }
        if (registrar.requireRegistration(in))
            it->second(in);
    }

    bool addressedToUs(const SipMessage& req) const {
        auto uri = parseSipUri(req.uri);
        return uri && (uri->user.empty() || uri->user == cfg.deviceId || cameras.find(uri->user));
    }

    void handleInDialog(const Incoming& in) {
        DialogKey key{in.ids.callId, in.ids.to.tag(), in.ids.from.tag()};
        if (playbacks.handleInDialog(in, key) || subscriptions.handleInDialog(in, key))
            return;
        ++core.stats.noDialog;
        bool ack = in.req.method == "ACK";
        core.log.event("%s matches no dialog (Call-ID %s, From tag %s, To tag %s)%s",
                       in.req.method.c_str(), in.ids.callId.c_str(), key.remoteTag.c_str(),
                       key.localTag.c_str(), ack ? ": dropped" : ": 481");
        if (!ack)
            core.respond(in, 481, "Call/Transaction Does Not Exist");
    }

    void restart() {
        core.reset();
        registrar.reset();
        playbacks.reset();
        subscriptions.reset();
        pager.reset();
        status.startFlapping();  // the cameras go on changing: they are not the platform's
        ++core.stats.restarts;
        core.log.event(
            "restart: every registration, dialog and subscription forgotten; new nonce %s",
            registrar.nonce().c_str());
    }
};

Platform::Platform(PlatformConfig config, std::vector<Camera> cameras, PlatformClock& clock,
                   SendFn send, EventLog& log, MediaControl* media)
    : impl_(std::make_unique<Impl>(std::move(config), std::move(cameras), clock, std::move(send),
                                   log, media)) {}

Platform::~Platform() = default;

void Platform::onDatagram(const std::string& data, const Endpoint& from) {
    impl_->onDatagram(data, from);
}
int64_t Platform::runTimers() {
    return impl_->core.runTimers();
}
int64_t Platform::nextDeadline() const {
    return impl_->core.nextDeadline();
}
void Platform::restart() {
    impl_->restart();
}
int Platform::byeOpenPlaybacks() {
    return impl_->playbacks.byeAll();
}
bool Platform::byePlayback(const std::string& callId) {
    return impl_->playbacks.bye(callId);
}
StatusChange Platform::setCameraStatus(const std::string& code, bool online) {
    return impl_->status.set(code, online);
}
std::optional<bool> Platform::cameraOnline(const std::string& code) const {
    const Camera* cam = impl_->cameras.find(code);
    return cam ? std::optional<bool>(cam->online) : std::nullopt;
}
size_t Platform::subscriptionCount() const {
    return impl_->subscriptions.count();
}
const PlatformStats& Platform::stats() const {
    return impl_->core.stats;
}
bool Platform::isRegistered(const std::string& user) const {
    return impl_->registrar.isRegistered(user);
}
std::string Platform::currentNonce() const {
    return impl_->registrar.nonce();
}
std::vector<Platform::PlaybackView> Platform::playbacks() const {
    return impl_->playbacks.view();
}

}  // namespace gbplat
