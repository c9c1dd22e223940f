#pragma once
// How one item of the platform's catalogue changes the console's cameras and monitors: the
// rules, apart from the widgets and the store. Pure.
#include <QString>
#include <string>

#include "Manscdp.h"
#include "cameraselection.h"

namespace catalogue {

enum class Effect { None, Camera, Monitor };

struct Change {
    Effect effect = Effect::None;
    QString code;        // the item's DeviceID
    CameraRow row{};     // Camera: the row the camera map and the store get
    bool known = false;  // Camera: the map held the code before
    QString monitor;     // Monitor: the monitor's code (the item's ParentID)
    std::string note;    // for the log: why nothing changes, or what was kept; "" when nothing
};

// A catalogue entry gives the whole row, except what it leaves out or cannot say (no address, no
// name, a status other than ON or OFF): a known camera keeps what the map holds there. A change
// notice (Event ON or OFF) changes only the status of a camera the map holds. A monitor needs its
// ParentID.
Change merge(const SIP_CATALOG& item, const manscdp::ItemState& state,
             const selection::CameraMap& cameras);

}  // namespace catalogue
