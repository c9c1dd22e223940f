#include "cataloguemerge.h"

namespace catalogue {

namespace {

constexpr int kMonitorType = 21;

bool isCamera(int typeCode) {
    return typeCode >= 1 && typeCode <= 6;
}

// Event values that carry a whole entry of the catalogue rather than a status.
bool isEntryEvent(const std::string& event) {
    return event.empty() || event == "ADD" || event == "UPDATE";
}

Change statusChange(Change c, const std::string& event, const selection::CameraMap& cameras) {
    const std::string code = c.code.toStdString();
    if (event != "ON" && event != "OFF") {
        c.note = "camera " + code + ": event \"" + event + "\" is not acted on";
        return c;
    }
    const auto stored = cameras.constFind(c.code);
    if (stored == cameras.cend()) {
        c.note =
            "status " + event + " of camera " + code + ", which the console does not know: ignored";
        return c;
    }
    c.effect = Effect::Camera;
    c.known = true;
    c.row = *stored;
    c.row.F6003_STATUS = event == "ON" ? 1 : 0;
    return c;
}

Change entry(Change c, const SIP_CATALOG& item, const manscdp::ItemState& state,
             const selection::CameraMap& cameras) {
    using Status = manscdp::ItemState::Status;
    CameraRow& row = c.row;
    selection::copyField(row.F6003_IP, selection::fieldBytes(item.IPAddress));
    row.F6003_LINE = item.idGroupA;
    row.F6003_STATION = item.idGroupB;
    row.F6001_ZONE1NO = item.idGroupC;
    row.F6002_ZONE2NO = item.idGroupD;
    row.F6003_DEVTYPE = item.typeCode;
    selection::copyField(row.F6003_CAMERANAME, selection::fieldBytes(item.Name));
    selection::copyField(row.F6003_CAMERAGB, selection::fieldBytes(item.DeviceID));
    row.F6003_STATUS = state.status == Status::On ? 1 : 0;
    c.effect = Effect::Camera;
    const auto stored = cameras.constFind(c.code);
    c.known = stored != cameras.cend();
    if (state.status == Status::Unknown) {
        c.note = "camera " + c.code.toStdString() + ": status " + state.statusShown +
                 " is neither ON nor OFF; " + (c.known ? "its status is kept" : "taken as OFF");
    }
    if (!c.known) {
        return c;
    }
    if (row.F6003_IP[0] == '\0') {
        selection::copyField(row.F6003_IP, selection::fieldBytes(stored->F6003_IP));
    }
    if (row.F6003_CAMERANAME[0] == '\0') {
        selection::copyField(row.F6003_CAMERANAME, selection::fieldBytes(stored->F6003_CAMERANAME));
    }
    if (state.status != Status::On && state.status != Status::Off) {
        row.F6003_STATUS = stored->F6003_STATUS;
    }
    return c;
}

}  // namespace

Change merge(const SIP_CATALOG& item, const manscdp::ItemState& state,
             const selection::CameraMap& cameras) {
    Change c;
    c.code = QString::fromLatin1(selection::fieldBytes(item.DeviceID));
    if (item.typeCode == kMonitorType) {
        const QByteArray parent = selection::fieldBytes(item.ParentID);
        if (parent.isEmpty()) {
            c.note = "monitor " + c.code.toStdString() + " has no ParentID: not written";
            return c;
        }
        c.effect = Effect::Monitor;
        c.monitor = QString::fromLatin1(parent);
        return c;
    }
    if (!isCamera(item.typeCode)) {
        return c;
    }
    if (!isEntryEvent(state.event)) {
        return statusChange(c, state.event, cameras);
    }
    return entry(c, item, state, cameras);
}

}  // namespace catalogue
