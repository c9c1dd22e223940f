#include "CameraStatus.h"

#include <sstream>

namespace gbplat {

CameraStatus::CameraStatus(SipCore& core, CameraDirectory& cameras, AnnounceFn announce)
    : core_(core),
      cameras_(cameras),
      announce_(std::move(announce)),
      rng_(core.cfg.flapSeed ? *core.cfg.flapSeed : std::random_device{}()) {}

StatusChange CameraStatus::set(const std::string& code, bool online) {
    const Camera* cam = cameras_.find(code);
    if (!cam)
        return StatusChange::UnknownCamera;
    if (cam->online == online)
        return StatusChange::Unchanged;
    cameras_.setOnline(code, online);
    core_.log.event("camera %s status %s", code.c_str(), online ? "ON" : "OFF");
    announce_(*cam);
    return StatusChange::Changed;
}

void CameraStatus::startFlapping() {
    if (core_.cfg.flapMs > 0 && cameras_.size() > 0)
        core_.addTimer(core_.cfg.flapMs, [this] { flap(); });
}

void CameraStatus::flap() {
    const Camera& cam = cameras_.all()[rng_() % cameras_.size()];
    set(cam.code, !cam.online);
    startFlapping();
}

std::optional<StatusCommand> parseStatusCommand(const std::string& line) {
    std::istringstream in(line);
    StatusCommand c;
    std::string status, extra;
    if (!(in >> c.code >> status) || (in >> extra))
        return std::nullopt;
    if (status != "ON" && status != "OFF")
        return std::nullopt;
    c.online = status == "ON";
    return c;
}

}  // namespace gbplat
