// The platform's catalogue in the form: the camera map and the camera list's colours change at
// once, without rebuilding the lists or moving the operator's selection; the rows go to the
// host's store through the write-back queue, a slice at a time.
#include "Logger.h"
#include "camerawriteback.h"
#include "cataloguemerge.h"
#include "mainform.h"
#include "sipsession.h"
#include "ui_mainform.h"

namespace {

// Host calls made in one turn of the event loop, at most this long (one call may take longer).
constexpr int kWriteSliceMs = 8;
// Log lines about the items of one catalogue message; a hostile one may hold thousands.
constexpr int kNotesPerMessage = 8;

}  // namespace

void MainForm::setUpWriteBack() {
    CameraWriteBack::Host host;
    host.addCamera = [this](CameraRow* row) {
        if (m_api.AddCameraInfo != nullptr) {
            const HostCall call(this);
            m_api.AddCameraInfo(row, m_hostContext);
        }
    };
    host.modifyCamera = [this](CameraRow* row) {
        if (m_api.ModifyCameraInfo != nullptr) {
            const HostCall call(this);
            m_api.ModifyCameraInfo(row, m_hostContext);
        }
    };
    host.modifyMonitors = [this](MonitorList* list) {
        if (m_api.ModifyMonitor != nullptr) {
            const HostCall call(this);
            m_api.ModifyMonitor(list, m_hostContext);
        }
    };
    // The host closed the form from one of these calls: it wants no more of them.
    host.accepting = [this] { return !m_closed; };
    m_writeBack = new CameraWriteBack(host, kWriteSliceMs, this);
    m_writeBack->setStored(m_cameraMap);
    // Whatever the store lost meanwhile comes back with the whole catalogue.
    connect(m_session, &SipSession::catalogueRequested, m_writeBack,
            &CameraWriteBack::forgetStored);
}

// What is still queued is written before the form goes; not when the host closes the form from
// inside one of its own calls.
void MainForm::finishWriteBack() {
    if (m_writeBack == nullptr || m_closed) {
        return;
    }
    if (!inHostCall()) {
        m_writeBack->flush();
    }
    if (const int dropped = m_writeBack->drop()) {
        m_log->printTime1("[Catalogue] the form closed from a host call: %d rows not written back",
                          dropped);
    }
}

void MainForm::onCatalogue() {
    if (m_closed) {
        return;
    }
    m_monitorMap.clear();
    const CCTVCAR& codec = m_session->codec();
    const std::vector<SIP_CATALOG>& items = codec.catalogue();
    const std::vector<manscdp::ItemState>& states = codec.catalogueStates();
    int notes = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        const catalogue::Change change = catalogue::merge(
            items[i], i < states.size() ? states[i] : manscdp::ItemState(), m_cameraMap);
        if (!change.note.empty() && notes++ < kNotesPerMessage) {
            m_log->printTime3("[Catalogue] %s", change.note.c_str());
        }
        if (change.effect == catalogue::Effect::Camera) {
            m_cameraMap.insert(change.code, change.row);
            m_writeBack->queueCamera(change.row, change.known);
        } else if (change.effect == catalogue::Effect::Monitor) {
            m_monitorMap.insert(change.monitor, change.code);
        }
    }
    if (notes > kNotesPerMessage) {
        m_log->printTime3("[Catalogue] %d more items of this message not acted on in full",
                          notes - kNotesPerMessage);
    }
    // New cameras are listed at the next change of train or car.
    colourCameras();
    for (const MonitorRow& row : selection::monitorRows(m_monitorMap, m_codec)) {
        m_writeBack->queueMonitor(row);
    }
}
