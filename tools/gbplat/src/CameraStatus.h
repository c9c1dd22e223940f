// Cameras going offline and coming back: at random every `flapMs` (seeded, so a test can repeat
// a run) or one given camera on request. Each change is logged as "camera CODE status ON|OFF"
// and announced.
#pragma once

#include "Catalogue.h"
#include "SipCore.h"

#include <functional>
#include <optional>
#include <random>
#include <string>

namespace gbplat {

class CameraStatus {
public:
    using AnnounceFn = std::function<void(const Camera& camera)>;

    CameraStatus(SipCore& core, CameraDirectory& cameras, AnnounceFn announce);

    StatusChange set(const std::string& code, bool online);
    // Arms the flap timer when flapping is on: at start and again after a restart.
    void startFlapping();

private:
    void flap();

    SipCore& core_;
    CameraDirectory& cameras_;
    AnnounceFn announce_;
    std::mt19937_64 rng_;
};

// A status command, "CODE ON" or "CODE OFF" (blanks around it allowed); nothing for other text.
struct StatusCommand {
    std::string code;
    bool online = false;
};
std::optional<StatusCommand> parseStatusCommand(const std::string& line);

}  // namespace gbplat
