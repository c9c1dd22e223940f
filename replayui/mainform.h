#pragma once
// The replay form: camera selection, time span, speed and the playback buttons, with the SIP
// session to the video platform behind them.
#include <QColor>
#include <QMap>
#include <QVector>
#include <QWidget>
#include <memory>

#include "cameraselection.h"
#include "cctv_records.h"
#include "recordqueryflow.h"
#include "replaysettings.h"

class CameraWriteBack;
class Logger;
class MyScreenLabel;
class PlaybackView;
class QTextCodec;
class SipSession;

namespace Ui {
class MainForm;
}

class MainForm : public QWidget {
    Q_OBJECT
    // What the screen label shows of a playback, for the host's scripts (playbackview.cpp).
    Q_PROPERTY(qint64 shownRecordingMs READ shownRecordingMs)
    Q_PROPERTY(quint64 framesShown READ framesShown)
public:
    MainForm(QWidget* parent, init_param* data, ZoneInfo* zones, void* positionBlocks,
             int blockCount, void* hostContext, int placement);
    ~MainForm() override;

    // Views for the host page and for tests.
    Ui::MainForm* widgets() const { return ui; }
    SipSession* session() const { return m_session; }
    int sipStep() const;
    const ReplaySettings& settings() const { return m_settings; }
    const selection::CameraMap& cameraMap() const { return m_cameraMap; }
    const QMap<QString, QString>& monitorMap() const { return m_monitorMap; }
    const QVector<selection::CameraEntry>& currentCameras() const { return m_currentCameras; }
    const QVector<StationRow>& stationRows() const { return m_stationRows; }
    MyScreenLabel* screenLabel() const { return m_screenLabel; }
    PlaybackView* playbackView() const { return m_playbackView; }
    qint64 shownRecordingMs() const;
    quint64 framesShown() const;
    CameraWriteBack* writeBack() const { return m_writeBack; }
    QColor onlineColor() const { return m_settings.onlineColor; }
    QColor offlineColor() const { return m_settings.offlineColor; }

    // True while a host callback runs: deleting the form now would pull it from under the
    // code that called the host.
    bool inHostCall() const { return m_hostCalls > 0; }
    // Ends the session with the platform (BYE for a playback) and closes its socket; the form
    // stays until it is deleted.
    void closeSession();

public slots:
    void onClicked_moveUp();
    void onClicked_moveDown();
    void on_btnRefresh_clicked();
    void on_btnPlay_clicked();
    void on_btnPause_clicked();
    void on_btnStop_clicked();
    void on_cbxzone1_currentIndexChanged(int index);
    void on_cbxzone2_currentIndexChanged(int index);
    void on_cbxSpeed_currentIndexChanged(int index);
    void on_horizontalSlider_valueChanged(int value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void loadSettings();
    void copyHostData(init_param* data, ZoneInfo* zones);
    void applyStyleSheet();
    void initWidgets();
    void styleButtons();
    void fillStations();
    void fillTrains();

    const StationRow* currentStation() const;
    void colourCameras();
    // The catalogue and the rows written back to the host (formcatalogue.cpp).
    void setUpWriteBack();
    void finishWriteBack();
    void onCatalogue();
    void mergeCameraList();
    void onInviteAnswered();
    void onPlaybackClosed();
    bool startBeforeEnd();
    void showNotice(const QString& text);
    // The host's reference lists (hostconfig.cpp).
    void noticeConfigurationProblem();
    void reloadHostConfiguration();
    void resetSpeed();
    // Counts the host callbacks in progress (see inHostCall).
    struct HostCall {
        explicit HostCall(MainForm* form) : m_form(form) { ++m_form->m_hostCalls; }
        ~HostCall() { --m_form->m_hostCalls; }
        HostCall(const HostCall&) = delete;
        HostCall& operator=(const HostCall&) = delete;
        MainForm* m_form;
    };
    void moveCamera(int delta, const QString& edgeText);
    // The recordings of the chosen span on the slider, and what Play makes of them
    // (recordtimelineform.cpp).
    void initRecordTimeline();
    RecordQueryFlow::Choice chosenRecords() const;
    void onChoiceEdited();
    void showChosenTimeline();
    void showPlayedTimeline();
    void playRecorded(int64_t start, int64_t end, int cameraIndex);
    void inviteCamera(int64_t start, int64_t end, int cameraIndex);
    void onRecordsSettled();
    // What the operator is told, and the keys (operatorfeedback.cpp).
    void initOperatorFeedback();
    bool refuseUnlessLoggedIn();
    void showRecordEnds(int64_t start, int64_t end);
    void clearRecordEnds();

    Ui::MainForm* ui;
    std::unique_ptr<Logger> m_log;
    QTextCodec* m_codec = nullptr;
    ReplaySettings m_settings;
    SipSession* m_session = nullptr;
    PlugInApiTable m_api{};
    void* m_hostContext = nullptr;
    ZoneInfo m_zoneInfo{};  // points into the two copies below
    QVector<Zone1Row> m_zone1Rows;
    QVector<Zone2Row> m_zone2Rows;
    QVector<StationRow> m_stationRows;
    selection::CameraMap m_cameraMap;
    QMap<QString, QString> m_monitorMap;
    QVector<selection::CameraEntry> m_currentCameras;
    MyScreenLabel* m_screenLabel = nullptr;
    PlaybackView* m_playbackView = nullptr;
    CameraWriteBack* m_writeBack = nullptr;
    int m_hostCalls = 0;
    bool m_closed = false;  // closeSession ran: no more host callbacks
    RecordQueryFlow* m_recordFlow = nullptr;
    bool m_playWaitsForRecords = false;     // Play pressed; the record list is on its way
    RecordQueryFlow::Choice m_playChoice;   // ... of this choice
    recordquery::Timeline m_playedRecords;  // what was known of the span Play asked for
};
