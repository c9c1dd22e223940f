#include "Playbacks.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace gbplat {

void Playbacks::handleInvite(const Incoming& in) {
    const SipMessage& req = in.req;
    const std::string* contact = req.header("Contact");
    auto contactAddr = contact ? parseNameAddr(*contact) : std::nullopt;
    auto dest = contactAddr ? core_.resolveTarget(contactAddr->uri, in.from) : std::nullopt;
    if (!dest) {
        core_.log.event("INVITE without a usable Contact: 400");
        return core_.respond(in, 400, "Bad Request");
    }
    const std::string* type = req.header("Content-Type");
    if (!type || !equalsNoCase(trim(*type), "application/sdp")) {
        return core_.respond(in, 415, "Unsupported Media Type", std::string(),
                             {{"Accept", "application/sdp"}});
    }
    core_.respond(in, 100, "Trying");
    auto offer = parsePlaybackOffer(req.body);
    if (!offer || !equalsNoCase(offer->session, "Playback")) {
        core_.log.event("INVITE offer is not a Playback with u= and t=: 488");
        return core_.respond(in, 488, "Not Acceptable Here", core_.newTag());
    }
    std::string why;
    auto mediaOffer = parseMediaOffer(req.body, &why);
    if (!mediaOffer) {
        core_.log.event("INVITE offer names no place for the video (%s): 488", why.c_str());
        return core_.respond(in, 488, "Not Acceptable Here", core_.newTag());
    }
    if (!cameras_.find(offer->camera)) {
        core_.log.event("INVITE for unknown camera %s: 404", offer->camera.c_str());
        return core_.respond(in, 404, "Not Found", core_.newTag());
    }
    auto span = recordings_.clip({offer->start, offer->end}, core_.clock.epochSeconds());
    if (!span) {
        core_.log.event("INVITE for %s: no recording in %" PRId64 "..%" PRId64 ": 404",
                        offer->camera.c_str(), offer->start, offer->end);
        return core_.respond(in, 404, "Not Found", core_.newTag());
    }
    if (media_ && playbacks_.size() >= core_.cfg.maxStreams) {
        // Each one has an encoder and a thread: a flood of INVITEs must not exhaust them.
        core_.log.event("INVITE for %s: %zu playbacks already stream: 486", offer->camera.c_str(),
                        playbacks_.size());
        return core_.respond(in, 486, "Busy Here", core_.newTag());
    }
    openPlayback(in, *offer, *span, contactAddr->uri, *dest,
                 streamOrder(*offer, *span, *mediaOffer));
}

// The offer's y= when it names an SSRC; else one of ours, "1" and nine digits (a
// recording), announced in the answer.
StreamOrder Playbacks::streamOrder(const PlaybackOffer& offer, const TimeSpan& span,
                                   const MediaOffer& mediaOffer) {
    StreamOrder order;
    order.cameraCode = offer.camera;
    if (const Camera* cam = cameras_.find(offer.camera))
        order.cameraName = cam->name;
    order.span = span;
    order.dest = {mediaOffer.host, mediaOffer.port};
    order.payloadType = uint8_t(mediaOffer.payloadType);
    if (!mediaOffer.yLine.empty() && !mediaOffer.ssrc)
        core_.log.event("offer's y=%s is no SSRC: drawing one", mediaOffer.yLine.c_str());
    order.ssrc =
        mediaOffer.ssrc ? *mediaOffer.ssrc : uint32_t(1000000000 + core_.rng() % 1000000000);
    return order;
}

std::string Playbacks::answerSdp(const PlaybackOffer& offer, const StreamOrder& order) const {
    char ssrc[16];
    std::snprintf(ssrc, sizeof ssrc, "%010u", order.ssrc);
    std::string a = core_.cfg.address;
    int mediaPort = core_.cfg.mediaPort > 0 ? core_.cfg.mediaPort : core_.cfg.port + 2;
    return "v=0\r\no=" + offer.camera + " 0 0 IN IP4 " + a + "\r\ns=Playback\r\nu=" + offer.uLine +
           "\r\nc=IN IP4 " + a + "\r\nt=" + std::to_string(order.span.start) + " " +
           std::to_string(order.span.end) + "\r\nm=video " + std::to_string(mediaPort) +
           " RTP/AVP " + std::to_string(order.payloadType) +
           "\r\na=sendonly\r\na=rtpmap:" + std::to_string(order.payloadType) +
           " PS/90000\r\ny=" + ssrc + "\r\n";
}

void Playbacks::openPlayback(const Incoming& in, const PlaybackOffer& offer, const TimeSpan& span,
                             const std::string& target, const Endpoint& dest,
                             const StreamOrder& stream) {
    const RequestIds& ids = in.ids;
    std::string tag = core_.newTag();
    DialogKey key{ids.callId, tag, ids.from.tag()};
    Playback pb;
    pb.key = key;
    pb.remoteFrom = *in.req.header("From");
    pb.target = target;
    pb.dest = dest;
    pb.camera = offer.camera;
    pb.span = span;
    pb.clock = PlaybackClock(span.start, span.end, core_.cfg.speedup);
    pb.inviteCSeq = pb.remoteCSeq = ids.cseq.number;
    pb.stream = stream;
    core_.log.event(
        "playback %s of %s: asked %" PRId64 "..%" PRId64 ", answering %" PRId64 "..%" PRId64,
        ids.callId.c_str(), offer.camera.c_str(), offer.start, offer.end, span.start, span.end);
    core_.respond(in, 200, "OK", tag,
                  {{"Contact", core_.ourContact()}, {"Content-Type", "APPLICATION/SDP"}},
                  answerSdp(offer, stream));
    const SipCore::Answer* ok = core_.earlierAnswer(in.req, ids);
    pb.okBytes = ok->bytes;
    pb.okDest = ok->dest;
    pb.okIntervalMs = core_.cfg.t1Ms;
    pb.okTimer = core_.addTimer(pb.okIntervalMs, [this, key] { retransmitOk(key); });
    pb.ackTimeout = core_.addTimer(core_.txLifetimeMs(), [this, key] { ackTimedOut(key); });
    playbacks_.emplace(key, std::move(pb));
}

// RFC 3261 §13.3.1.4: the 2xx is repeated until its ACK arrives.
void Playbacks::retransmitOk(const DialogKey& key) {
    auto it = playbacks_.find(key);
    if (it == playbacks_.end() || it->second.state != PlayState::AwaitAck)
        return;
    Playback& pb = it->second;
    core_.transmit(pb.okDest, pb.okBytes);
    pb.okIntervalMs = std::min(pb.okIntervalMs * 2, core_.t2Ms());
    pb.okTimer = core_.addTimer(pb.okIntervalMs, [this, key] { retransmitOk(key); });
}

void Playbacks::ackTimedOut(const DialogKey& key) {
    auto it = playbacks_.find(key);
    if (it == playbacks_.end() || it->second.state != PlayState::AwaitAck)
        return;
    it->second.ackTimeout = 0;
    core_.log.event("playback %s: no matching ACK for the 200 OK; ending the call",
                    key.callId.c_str());
    sendBye(key);
}

void Playbacks::handleAck(Playback& pb, const RequestIds& ids) {
    if (ids.cseq.number != pb.inviteCSeq) {
        ++core_.stats.noDialog;
        core_.log.event("ACK CSeq %u differs from the INVITE's %u: dropped", ids.cseq.number,
                        pb.inviteCSeq);
        return;
    }
    if (pb.state != PlayState::AwaitAck)
        return;  // a repeated ACK
    core_.cancelTimer(pb.okTimer);
    core_.cancelTimer(pb.ackTimeout);
    pb.state = PlayState::Playing;
    pb.clock.play(core_.clock.steadyMs());
    core_.log.event("playback %s confirmed: playing %s from %" PRId64, pb.key.callId.c_str(),
                    pb.camera.c_str(), pb.span.start);
    scheduleEnd(pb);
    startVideo(pb);
}

void Playbacks::handleInfo(Playback& pb, const Incoming& in) {
    const std::string* type = in.req.header("Content-Type");
    if (!type || !equalsNoCase(trim(*type), "Application/MANSRTSP")) {
        return core_.respond(in, 415, "Unsupported Media Type", std::string(),
                             {{"Accept", "Application/MANSRTSP"}});
    }
    auto cmd = parseMansrtsp(in.req.body);
    if (!cmd || !applyRtsp(pb, *cmd)) {
        core_.log.event("INFO body is not a MANSRTSP command this platform serves: 400");
        return core_.respond(in, 400, "Bad Request");
    }
    int64_t now = core_.clock.steadyMs();
    core_.log.event("playback %s: %s%s -> %s, scale %.2f, at %.1f s of %" PRId64 " s",
                    pb.key.callId.c_str(), cmd->method.c_str(),
                    cmd->hasRange ? (cmd->rangeNow ? " Range now" : " Range seek") : "",
                    pb.clock.playing() ? "playing" : "paused", pb.clock.scale(),
                    pb.clock.offset(now), pb.span.end - pb.span.start);
    // The video is steered before the answer goes, so no frame of the old state follows it.
    if (media_ && pb.stream.id)
        media_->steerStream(pb.stream.id, streamClock(pb));
    core_.respond(in, 200, "OK");
    if (pb.state == PlayState::EndNotified && !pb.clock.atEnd(now))
        pb.state = PlayState::Playing;
    scheduleEnd(pb);
}

StreamClock Playbacks::streamClock(const Playback& pb) const {
    return {pb.clock.offset(core_.clock.steadyMs()), pb.clock.playing(), pb.clock.rate(), pb.seeks};
}

void Playbacks::startVideo(Playback& pb) {
    if (!media_)
        return;
    pb.stream.id = nextStreamId_++;
    core_.log.event("playback %s: video to %s, payload type %d, SSRC %010u", pb.key.callId.c_str(),
                    pb.stream.dest.text().c_str(), pb.stream.payloadType, pb.stream.ssrc);
    media_->startStream(pb.stream, streamClock(pb));
}

void Playbacks::stopVideo(Playback& pb) {
    if (media_ && pb.stream.id)
        media_->stopStream(pb.stream.id);
    pb.stream.id = 0;
}

bool Playbacks::applyRtsp(Playback& pb, const RtspCommand& cmd) {
    int64_t now = core_.clock.steadyMs();
    if (cmd.method == "PAUSE") {
        pb.clock.pause(now);
        return true;
    }
    if (cmd.method == "TEARDOWN") {
        pb.clock.pause(now);
        return true;
    }
    if (cmd.method != "PLAY")
        return false;
    if (cmd.hasScale && !pb.clock.setScale(now, cmd.scale))
        return false;
    if (cmd.hasRange && !cmd.rangeNow) {
        pb.clock.seek(now, cmd.rangeStart);
        ++pb.seeks;
    }
    if (pb.state != PlayState::AwaitAck)
        pb.clock.play(now);
    return true;
}

void Playbacks::scheduleEnd(Playback& pb) {
    core_.cancelTimer(pb.endTimer);
    if (pb.state != PlayState::Playing)
        return;
    int64_t ms = pb.clock.msUntilEnd(core_.clock.steadyMs());
    if (ms < 0)
        return;
    DialogKey key = pb.key;
    pb.endTimer = core_.addTimer(ms, [this, key] { onEndTimer(key); });
}

void Playbacks::onEndTimer(const DialogKey& key) {
    auto it = playbacks_.find(key);
    if (it == playbacks_.end())
        return;
    Playback& pb = it->second;
    pb.endTimer = 0;
    if (pb.state != PlayState::Playing)
        return;
    if (!pb.clock.atEnd(core_.clock.steadyMs()))
        return scheduleEnd(pb);
    sendMediaStatus(pb);
}

void Playbacks::sendMediaStatus(Playback& pb) {
    pb.state = PlayState::EndNotified;
    SipMessage req = playbackRequest(pb, "MESSAGE");
    req.add("Content-Type", "Application/MANSCDP+xml");
    req.body = "<?xml version=\"1.0\" encoding=\"" + core_.cfg.xmlEncoding +
               "\"?>\r\n<Notify>\r\n" + "<CmdType>MediaStatus</CmdType>\r\n<SN>" +
               std::to_string(core_.nextSn()) + "</SN>\r\n<DeviceID>" + pb.camera +
               "</DeviceID>\r\n" + "<NotifyType>121</NotifyType>\r\n</Notify>\r\n";
    ++core_.stats.mediaStatusSent;
    core_.log.event("playback %s reached the end of its span: MediaStatus sent",
                    pb.key.callId.c_str());
    DialogKey key = pb.key;
    core_.sendRequest(req, pb.dest,
                      [this, key](const SipMessage* r) { onMediaStatusAnswered(key, r); });
}

void Playbacks::onMediaStatusAnswered(const DialogKey& key, const SipMessage* r) {
    auto it = playbacks_.find(key);
    if (it == playbacks_.end())
        return;
    if (!isSuccess(r)) {
        core_.log.event("playback %s: MediaStatus %s; ending the call", key.callId.c_str(),
                        r ? ("answered " + std::to_string(r->status)).c_str() : "not answered");
        return sendBye(key);
    }
    core_.log.event("playback %s: MediaStatus answered, waiting for the client's BYE",
                    key.callId.c_str());
    it->second.byeWait = core_.addTimer(core_.txLifetimeMs(), [this, key] {
        auto pbIt = playbacks_.find(key);
        if (pbIt == playbacks_.end())
            return;
        pbIt->second.byeWait = 0;
        core_.log.event("playback %s: no BYE after MediaStatus; ending the call",
                        key.callId.c_str());
        sendBye(key);
    });
}

void Playbacks::sendBye(const DialogKey& key) {
    auto it = playbacks_.find(key);
    if (it == playbacks_.end())
        return;
    SipMessage req = playbackRequest(it->second, "BYE");
    Endpoint dest = it->second.dest;
    endPlayback(key);
    ++core_.stats.byeSent;
    core_.sendRequest(req, dest, [this, key](const SipMessage* r) {
        core_.log.event("our BYE for %s %s", key.callId.c_str(),
                        r ? ("answered " + std::to_string(r->status)).c_str() : "not answered");
    });
}

void Playbacks::endPlayback(const DialogKey& key) {
    auto it = playbacks_.find(key);
    if (it == playbacks_.end())
        return;
    Playback& pb = it->second;
    for (uint64_t* t : {&pb.okTimer, &pb.ackTimeout, &pb.endTimer, &pb.byeWait})
        core_.cancelTimer(*t);
    stopVideo(pb);
    playbacks_.erase(it);
}

SipMessage Playbacks::playbackRequest(Playback& pb, const std::string& method) {
    return core_.newRequest(method, pb.target, core_.ourContact() + ";tag=" + pb.key.localTag,
                            pb.remoteFrom, pb.key.callId, ++pb.localCSeq);
}

bool Playbacks::handleInDialog(const Incoming& in, const DialogKey& key) {
    auto it = playbacks_.find(key);
    if (it == playbacks_.end())
        return false;
    Playback& pb = it->second;
    if (in.req.method == "ACK") {
        handleAck(pb, in.ids);
    } else if (core_.inOrder(in, pb.remoteCSeq)) {
        requestIn(pb, in);
    }
    return true;
}

void Playbacks::requestIn(Playback& pb, const Incoming& in) {
    const std::string& method = in.req.method;
    if (method == "INFO")
        return handleInfo(pb, in);
    if (method == "BYE") {
        double pos = pb.clock.offset(core_.clock.steadyMs());
        core_.log.event("playback %s of %s ended by the client at %.1f s of %" PRId64 " s",
                        pb.key.callId.c_str(), pb.camera.c_str(), pos, pb.span.end - pb.span.start);
        endPlayback(DialogKey(pb.key));  // the video stops before the answer goes
        return core_.respond(in, 200, "OK");
    }
    if (method == "MESSAGE")
        return core_.respond(in, 200, "OK");
    core_.respond(in, 405, "Method Not Allowed", std::string(), {{"Allow", kAllowedMethods}});
}

int Playbacks::byeAll() {
    std::vector<DialogKey> keys;
    for (auto& [k, pb] : playbacks_)
        keys.push_back(k);
    for (auto& k : keys) {
        core_.log.event("fault: ending playback %s with our BYE", k.callId.c_str());
        sendBye(k);
    }
    return int(keys.size());
}

bool Playbacks::bye(const std::string& callId) {
    for (auto& [k, pb] : playbacks_) {
        if (k.callId != callId)
            continue;
        DialogKey key = k;
        core_.log.event("fault: ending playback %s with our BYE", callId.c_str());
        sendBye(key);
        return true;
    }
    return false;
}

std::vector<Platform::PlaybackView> Playbacks::view() const {
    std::vector<Platform::PlaybackView> out;
    int64_t now = core_.clock.steadyMs();
    for (auto& [k, pb] : playbacks_) {
        out.push_back({k.callId, pb.camera, pb.span, pb.state != PlayState::AwaitAck,
                       pb.clock.position(now), pb.clock.playing(), pb.clock.scale()});
    }
    return out;
}

void Playbacks::reset() {
    for (auto& [key, pb] : playbacks_)
        stopVideo(pb);
    playbacks_.clear();
}

}  // namespace gbplat
