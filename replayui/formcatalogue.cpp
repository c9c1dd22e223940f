// The platform's catalogue in the form: the camera map and the camera list's colours change at
// once, without rebuilding the lists or moving the operator's selection; the rows go to the
// host's store through the write-back queue, a slice at a time.
#include <QTextCodec>

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
    bool listed = false;  // a camera was added or renamed
    for (size_t i = 0; i < items.size(); ++i) {
        const catalogue::Change change = catalogue::merge(
            items[i], i < states.size() ? states[i] : manscdp::ItemState(), m_cameraMap);
        if (!change.note.empty() && notes++ < kNotesPerMessage) {
            m_log->printTime3("[Catalogue] %s", change.note.c_str());
        }
        if (change.effect == catalogue::Effect::Camera) {
            listed = listed || !change.known ||
                     selection::fieldBytes(m_cameraMap.value(change.code).F6003_CAMERANAME) !=
                         selection::fieldBytes(change.row.F6003_CAMERANAME);
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
    if (listed) {
        mergeCameraList();
    }
    colourCameras();
    for (const MonitorRow& row : selection::monitorRows(m_monitorMap, m_codec)) {
        m_writeBack->queueMonitor(row);
    }
}

// Cameras the catalogue added to the train and car shown join the list where their codes put
// them, and renamed ones show their new names. Nothing is taken out and the current camera stays
// the current one: the list is never rebuilt under the operator.
void MainForm::mergeCameraList() {
    const StationRow* station = currentStation();
    if (station == nullptr) {
        return;
    }
    const QVector<selection::CameraEntry> matching =
        selection::matchingCameras(m_cameraMap, station, ui->cbxzone1->currentData().toInt(),
                                   ui->cbxzone2->currentData().toInt());
    int at = 0;
    for (const selection::CameraEntry& camera : matching) {
        while (at < m_currentCameras.size() && m_currentCameras[at].code < camera.code) {
            ++at;
        }
        if (at < m_currentCameras.size() && m_currentCameras[at].code == camera.code) {
            if (m_currentCameras[at].label != camera.label) {
                ui->cbxCamera->setItemText(at, m_codec->toUnicode(camera.label));
                m_currentCameras[at] = camera;
            }
        } else {
            m_currentCameras.insert(at, camera);
            ui->cbxCamera->insertItem(at, m_codec->toUnicode(camera.label),
                                      m_codec->toUnicode(camera.code));
        }
        ++at;
    }
}
