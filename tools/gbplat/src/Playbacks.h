// Playback dialogs: the INVITE answered with the recorded span, the 2xx repeated until its ACK,
// the playback clock steered by MANSRTSP INFO, the end-of-span MediaStatus and either side's BYE.
#pragma once

#include "Catalogue.h"
#include "MediaControl.h"
#include "PlaybackClock.h"
#include "PlaybackText.h"
#include "RecordingModel.h"
#include "SipCore.h"

#include <map>
#include <vector>

namespace gbplat {

class Playbacks {
public:
    // Without `media` the playbacks run their clocks and send no video.
    Playbacks(SipCore& core, const CameraDirectory& cameras, const RecordingModel& recordings,
              MediaControl* media)
        : core_(core), cameras_(cameras), recordings_(recordings), media_(media) {}
    ~Playbacks() { reset(); }

    void handleInvite(const Incoming& in);
    // A request (ACK included) inside one of our playbacks; false when it names none.
    bool handleInDialog(const Incoming& in, const DialogKey& key);

    // Fault: our own BYE in every open playback; returns how many.
    int byeAll();
    // Fault: our own BYE in one playback, by Call-ID; false when it is not open.
    bool bye(const std::string& callId);
    std::vector<Platform::PlaybackView> view() const;
    // Stops every video and forgets every playback (a restart).
    void reset();

private:
    enum class PlayState { AwaitAck, Playing, EndNotified };
    struct Playback {
        DialogKey key;
        std::string remoteFrom;  // the client's From value, tag included
        std::string target;      // the client's Contact URI
        Endpoint dest;
        std::string camera;
        TimeSpan span;
        PlaybackClock clock{0, 0};
        uint32_t inviteCSeq = 0;
        uint32_t remoteCSeq = 0;
        uint32_t localCSeq = 0;
        PlayState state = PlayState::AwaitAck;
        std::string okBytes;
        Endpoint okDest;
        int okIntervalMs = 0;
        uint64_t okTimer = 0;
        uint64_t ackTimeout = 0;
        uint64_t endTimer = 0;
        uint64_t byeWait = 0;
        StreamOrder stream;  // its id is 0 until the ACK starts the video
        uint32_t seeks = 0;
    };

    StreamOrder streamOrder(const PlaybackOffer& offer, const TimeSpan& span,
                            const MediaOffer& mediaOffer);
    std::string answerSdp(const PlaybackOffer& offer, const StreamOrder& order) const;
    void openPlayback(const Incoming& in, const PlaybackOffer& offer, const TimeSpan& span,
                      const std::string& target, const Endpoint& dest, const StreamOrder& stream);
    void retransmitOk(const DialogKey& key);
    void ackTimedOut(const DialogKey& key);
    void handleAck(Playback& pb, const RequestIds& ids);
    void requestIn(Playback& pb, const Incoming& in);
    void handleInfo(Playback& pb, const Incoming& in);
    bool applyRtsp(Playback& pb, const RtspCommand& cmd);
    StreamClock streamClock(const Playback& pb) const;
    void startVideo(Playback& pb);
    void stopVideo(Playback& pb);
    void scheduleEnd(Playback& pb);
    void onEndTimer(const DialogKey& key);
    void sendMediaStatus(Playback& pb);
    void onMediaStatusAnswered(const DialogKey& key, const SipMessage* r);
    SipMessage playbackRequest(Playback& pb, const std::string& method);
    void sendBye(const DialogKey& key);
    void endPlayback(const DialogKey& key);

    SipCore& core_;
    const CameraDirectory& cameras_;
    const RecordingModel& recordings_;
    MediaControl* media_;
    std::map<DialogKey, Playback> playbacks_;
    uint64_t nextStreamId_ = 1;
};

}  // namespace gbplat
