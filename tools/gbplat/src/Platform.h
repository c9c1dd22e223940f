// The platform's user agent: registration, catalogue, playback dialogs and the transaction
// rules of RFC 3261, over an injected datagram sender and clock so tests run it without sockets.
#pragma once

#include "Catalogue.h"
#include "Digest.h"
#include "EventLog.h"
#include "MediaControl.h"
#include "PlaybackClock.h"
#include "RecordingModel.h"
#include "SipMessage.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace gbplat {

struct PlatformConfig {
    std::string address = "127.0.0.1";
    int port = 5061;
    int mediaPort = 0;  // m=video of our answers, where the video leaves from; 0: port + 2
    std::string deviceId = "01552403048401000001";
    std::string realm = "3402000000";
    std::string user;  // empty: any user name
    std::string password = "482913";
    ChallengeStyle challengeStyle = ChallengeStyle::Spaced;
    int offerQop = -1;   // -1: only with the compact style
    std::string opaque;  // empty: no opaque in the challenge
    std::string nonce;   // fixed first nonce (tests); empty: random
    size_t pageSize = 4;
    std::string xmlEncoding = "GB2312";
    double speedup = 1.0;
    int t1Ms = 500;                // RFC 3261 T1; T2 is 8 × T1 and a transaction lasts 64 × T1
    int unregisteredStatus = 401;  // answer to a request from a device that is not registered
    int registerExpiresMax = 86400;
    int subscribeExpiresMax = 3600;    // a SUBSCRIBE gets at most this, and this when it asks none
    int flapMs = 0;                    // > 0: a random camera changes its status at this interval
    std::optional<uint64_t> flapSeed;  // which cameras the flaps pick; none: random
    size_t maxStreams = 16;            // playbacks open at once while video is sent; more get 486
    RecordingPolicy recording;
};

enum class StatusChange { Changed, Unchanged, UnknownCamera };

class PlatformClock {
public:
    virtual ~PlatformClock() = default;
    virtual int64_t steadyMs() = 0;      // monotonic, for timers and the playback clock
    virtual int64_t epochSeconds() = 0;  // wall clock, for the recording model and Date
};

struct PlatformStats {
    int registered = 0;
    int challenged = 0;
    int forbidden = 0;
    int noDialog = 0;             // 481 answers and dropped unmatched ACKs
    int outOfOrder = 0;           // 500 answers to a CSeq not above the dialog's
    int strayResponses = 0;       // responses matching no request we sent
    int mismatchedResponses = 0;  // branch matched, dialog identity did not
    int mediaStatusSent = 0;
    int byeSent = 0;
    int restarts = 0;
};

class Platform {
public:
    using SendFn = std::function<void(const Endpoint&, const std::string&)>;

    // Without `media` the playbacks run their clocks and send no video.
    Platform(PlatformConfig config, std::vector<Camera> cameras, PlatformClock& clock, SendFn send,
             EventLog& log, MediaControl* media = nullptr);
    ~Platform();

    void onDatagram(const std::string& data, const Endpoint& from);
    // Runs the timers that are due; returns the deadline of the next one (steady ms) or -1.
    int64_t runTimers();
    int64_t nextDeadline() const;

    // Fault: behave like a platform that has just restarted (no registration, dialog,
    // subscription or transaction survives; a new nonce).
    void restart();
    // Fault: end every open playback with our own BYE. Returns how many were ended.
    int byeOpenPlaybacks();
    // Fault: end one playback, by Call-ID, with our own BYE. False when it is not open.
    bool byePlayback(const std::string& callId);

    // A camera goes offline or comes back: logged "camera CODE status OFF" and sent to every
    // live subscription.
    StatusChange setCameraStatus(const std::string& code, bool online);
    std::optional<bool> cameraOnline(const std::string& code) const;
    size_t subscriptionCount() const;

    const PlatformStats& stats() const;
    bool isRegistered(const std::string& user) const;
    std::string currentNonce() const;
    struct PlaybackView {
        std::string callId;
        std::string camera;
        TimeSpan span;
        bool confirmed;
        double position;
        bool playing;
        double scale;
    };
    std::vector<PlaybackView> playbacks() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace gbplat
