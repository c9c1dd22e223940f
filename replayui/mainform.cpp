#include "mainform.h"

#include <QCursor>
#include <QDateTime>
#include <QEvent>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTextCodec>
#include <QToolTip>
#include <QCoreApplication>
#include <cstring>

#include "Logger.h"
#include "mymessagedlg.h"
#include "myscreenlabel.h"
#include "password.h"
#include "playbackmath.h"
#include "playbackview.h"
#include "quorlastyle.h"
#include "sipsession.h"
#include "ui_mainform.h"

namespace {

const char kButtonStyle[] =
    "QPushButton { %s } QPushButton:disabled{ background-color: rgb(150, 150, 150); } "
    "QPushButton:pressed{ background-color: rgb(254,144,0); }";
const char kButtonGradient[] =
    "background-color : qlineargradient(spread:pad, x1:0, y1:0, x2:0, y2:1, stop:0 %s, stop:1 "
    "%s);";

QString buttonStyleSheet() {
    const QString gradient =
        QString::fromLatin1(kButtonGradient)
            .replace(QLatin1String("stop:0 %s"), QLatin1String("stop:0 rgba(200,208,241,255)"))
            .replace(QLatin1String("stop:1 %s"), QLatin1String("stop:1 rgba(237,239,241,255)"));
    return QString::fromLatin1(kButtonStyle).replace(QLatin1String("%s"), gradient);
}

template <typename Row>
QVector<Row> copyRows(const Row* rows, int32_t count) {
    QVector<Row> out;
    if (rows != nullptr && count > 0) {
        out.reserve(count);
        for (int32_t i = 0; i < count; ++i) {
            out.push_back(rows[i]);
        }
    }
    return out;
}

}  // namespace

MainForm::MainForm(QWidget* parent, init_param* data, ZoneInfo* zones, void* /*positionBlocks*/,
                   int /*blockCount*/, void* hostContext, int /*placement*/)
    : QWidget(parent), ui(new Ui::MainForm), m_hostContext(hostContext) {
    m_log = std::make_unique<Logger>(LogOptions::uiLibrary());
    m_codec = QTextCodec::codecForName("GB18030");
    loadSettings();
    m_session = new SipSession(m_log.get(), m_settings, this);
    m_session->startSession();
    copyHostData(data, zones);
    setUpWriteBack();
    installFontFallback();
    ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint);
    applyStyleSheet();
    initWidgets();
    ui->labelStatus->setText(m_session->shownStatus());  // what it said while starting
    connect(m_session, &SipSession::statusChanged, ui->labelStatus, &QLabel::setText);
    connect(m_session, &SipSession::catalogueReceived, this, &MainForm::onCatalogue);
    connect(m_session, &SipSession::inviteAnswered, this, &MainForm::onInviteAnswered);
    connect(m_session, &SipSession::playbackClosed, this, &MainForm::onPlaybackClosed);
    m_playbackView =
        new PlaybackView(m_session, m_screenLabel, ui->horizontalSlider, m_log.get(), this);
    initRecordTimeline();
    initOperatorFeedback();
    noticeConfigurationProblem();
}

MainForm::~MainForm() {
    // The session logs through m_log; it goes first, ending a playback on its way out.
    closeSession();
    delete m_playbackView;  // its threads log too
    m_playbackView = nullptr;
    delete m_session;
    m_session = nullptr;
    delete ui;
}

void MainForm::closeSession() {
    finishWriteBack();
    m_closed = true;
    if (m_session != nullptr) {
        m_session->shutdown();
    }
}

int MainForm::sipStep() const {
    return m_session->step();
}

void MainForm::loadSettings() {
    const QString root = replay_settings::platformRoot(replay_settings::processEnvironment());
    const QString path = replay_settings::locateFile(root, QCoreApplication::applicationDirPath());
    // Without a file the defaults configure the session, so that it can still register.
    m_settings = replay_settings::load(path);
    for (const QString& problem : m_settings.problems) {
        m_log->printTime1("[Settings] %s", problem.toUtf8().constData());
    }
}

void MainForm::copyHostData(init_param* data, ZoneInfo* zones) {
    if (data != nullptr) {
        if (data->sipGrpArr != nullptr && data->sipGrpArr->rows != nullptr) {
            m_stationRows = copyRows(data->sipGrpArr->rows, data->sipGrpArr->count);
        }
        if (data->sipCameras != nullptr && data->sipCameras->rows != nullptr) {
            for (int32_t i = 0; i < data->sipCameras->count; ++i) {
                const CameraRow& row = data->sipCameras->rows[i];
                m_cameraMap.insert(m_codec->toUnicode(selection::fieldBytes(row.F6003_CAMERAGB)),
                                   row);
            }
        }
        if (data->apiTable != nullptr) {
            std::memcpy(&m_api, data->apiTable, sizeof m_api);
        }
    }
    if (zones != nullptr) {
        m_zone1Rows = copyRows(zones->zone1, zones->zone1Count);
        m_zone2Rows = copyRows(zones->zone2, zones->zone2Count);
        m_zoneInfo.zone1Count = m_zone1Rows.size();
        m_zoneInfo.zone1 = zones->zone1 != nullptr ? m_zone1Rows.data() : nullptr;
        m_zoneInfo.zone2Count = m_zone2Rows.size();
        m_zoneInfo.zone2 = zones->zone2 != nullptr ? m_zone2Rows.data() : nullptr;
    }
}

void MainForm::applyStyleSheet() {
    QFile file(QStringLiteral(":/res/coffee.qss"));
    file.open(QFile::ReadOnly);
    setStyleSheet(QString::fromLatin1(file.readAll()));
    file.close();
}

void MainForm::initWidgets() {
    for (QWidget* box : {static_cast<QWidget*>(ui->cbxStation), static_cast<QWidget*>(ui->cbxzone1),
                         static_cast<QWidget*>(ui->cbxzone2), static_cast<QWidget*>(ui->cbxCamera),
                         static_cast<QWidget*>(ui->cbxSpeed)}) {
        box->installEventFilter(this);
    }
    ui->horizontalSlider->setTracking(false);
    ui->horizontalSlider->setPageStep(0);

    // Recordings are no older than 1970; the times are 64-bit, so late dates are no problem.
    for (QDateEdit* edit : {ui->dateEdit_Start, ui->dateEdit_End}) {
        edit->setMinimumDate(QDate(1970, 1, 2));
    }
    const QDateTime now = QDateTime::currentDateTime();
    ui->dateEdit_Start->setDate(now.date().addDays(-1));
    ui->timeEdit_Start->setTime(now.time());
    ui->dateEdit_End->setDate(now.date());
    ui->timeEdit_End->setTime(now.time());

    ui->cbxLine->addItem(
        QStringLiteral("%1%2").arg(m_settings.metroLine).arg(QStringLiteral("号线")), 0);
    fillStations();
    static const char* const kSpeeds[] = {"0.5", "1.0", "1.5", "2.0"};
    for (int i = 0; i < 4; ++i) {
        ui->cbxSpeed->addItem(QString::fromLatin1(kSpeeds[i]), i);
    }
    ui->cbxSpeed->setCurrentIndex(1);

    styleButtons();
    m_screenLabel = new MyScreenLabel(this);
    m_screenLabel->setGeometry(20, 15, 1080, 600);
    fillTrains();
}

void MainForm::fillStations() {
    ui->cbxStation->clear();
    for (int i = 0; i < m_stationRows.size(); ++i) {
        ui->cbxStation->addItem(
            m_codec->toUnicode(selection::fieldBytes(m_stationRows[i].F6000_NAME)), i);
    }
}

void MainForm::styleButtons() {
    const QString sheet = buttonStyleSheet();
    for (QWidget* child : findChildren<QWidget*>()) {
        if (qstrcmp(child->metaObject()->className(), "QPushButton") == 0) {
            child->setStyleSheet(sheet);
        }
    }
}

void MainForm::fillTrains() {
    if (m_zoneInfo.zone1 == nullptr) {
        return;
    }
    for (const auto& entry : selection::trainEntries(m_zoneInfo, m_codec)) {
        ui->cbxzone1->addItem(entry.text, entry.data);
    }
    on_cbxzone1_currentIndexChanged(0);
}

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
    // Turning the wheel over a list must never change the selection.
    if (event->type() == QEvent::Wheel &&
        qstrcmp(watched->metaObject()->className(), "QComboBox") == 0) {
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void MainForm::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
    }
    QWidget::changeEvent(event);
}

// ---- Camera selection -------------------------------------------------------------------

const StationRow* MainForm::currentStation() const {
    const int index = ui->cbxStation->currentIndex();
    if (index < 0 || index >= m_stationRows.size()) {
        return nullptr;
    }
    return &m_stationRows[index];
}

void MainForm::on_cbxzone1_currentIndexChanged(int /*index*/) {
    ui->cbxzone2->clear();
    const StationRow* station = currentStation();
    const int train = ui->cbxzone1->currentData().toInt();
    for (const auto& entry : selection::carEntries(station, train, m_zoneInfo, m_codec)) {
        ui->cbxzone2->addItem(entry.text, entry.data);
    }
}

void MainForm::on_cbxzone2_currentIndexChanged(int /*index*/) {
    ui->cbxCamera->clear();
    m_currentCameras.clear();
    const StationRow* station = currentStation();
    if (station == nullptr) {
        return;
    }
    const int train = ui->cbxzone1->currentData().toInt();
    const int car = ui->cbxzone2->currentData().toInt();
    m_currentCameras = selection::matchingCameras(m_cameraMap, station, train, car);
    for (const auto& camera : m_currentCameras) {
        ui->cbxCamera->addItem(m_codec->toUnicode(camera.label), m_codec->toUnicode(camera.code));
    }
    colourCameras();
}

void MainForm::colourCameras() {
    for (int i = 0; i < ui->cbxCamera->count(); ++i) {
        const auto it = m_cameraMap.constFind(ui->cbxCamera->itemData(i).toString());
        const bool online = it != m_cameraMap.cend() && it->F6003_STATUS == 1;
        const QBrush brush(online ? m_settings.onlineColor : m_settings.offlineColor);
        // Only a changed colour is set: every set repaints the list.
        if (ui->cbxCamera->itemData(i, Qt::ForegroundRole).value<QBrush>() != brush) {
            ui->cbxCamera->setItemData(i, brush, Qt::ForegroundRole);
        }
    }
}

// A modal dialog is a child of the form, so deleting the form while it runs deletes the dialog
// too: both are held by guarded pointers, and the caller looks at its own guard afterwards.
void MainForm::showNotice(const QString& text) {
    QPointer<CMyMessageDlg> dialog(
        new CMyMessageDlg(QCursor::pos(), this, QStringLiteral("CCTV"), text));
    dialog->showInformation();
    delete dialog.data();
}

void MainForm::moveCamera(int delta, const QString& edgeText) {
    const int count = ui->cbxCamera->count();
    if (count == 0) {
        return;
    }
    const int target = ui->cbxCamera->currentIndex() + delta;
    if (target < 0 || target >= count) {
        showNotice(edgeText);  // the form may be gone afterwards: nothing follows
        return;
    }
    ui->cbxCamera->setCurrentIndex(target);
}

void MainForm::onClicked_moveUp() {
    moveCamera(-1, QStringLiteral("已到达最顶端！"));
}

void MainForm::onClicked_moveDown() {
    moveCamera(1, QStringLiteral("已到达最底端！"));
}

void MainForm::on_btnRefresh_clicked() {
    const QPointer<MainForm> self(this);
    QPointer<PassWord> dialog(new PassWord(QCursor::pos(), this));
    const int answer = dialog->exec();
    if (self.isNull()) {
        return;  // the form was closed while the dialog was open
    }
    delete dialog.data();
    if (answer == QDialog::Accepted) {
        reloadHostConfiguration();
        if (self.isNull() || refuseUnlessLoggedIn()) {
            return;  // closed during a notice, or nobody to ask for the catalogue
        }
        m_session->doCatalogQuery();
    }
}

// ---- Playback ----------------------------------------------------------------------------

bool MainForm::startBeforeEnd() {
    const int64_t start = playback::toEpoch(ui->dateEdit_Start->date(), ui->timeEdit_Start->time());
    const int64_t end = playback::toEpoch(ui->dateEdit_End->date(), ui->timeEdit_End->time());
    return start <= end;
}

void MainForm::on_btnPlay_clicked() {
    if (refuseUnlessLoggedIn()) {
        return;
    }
    const int step = m_session->step();
    if (step == SipSession::REPLAY_PAUSED) {
        m_session->doReplayCtrl(SipSession::CtrlResume);
        return;
    }
    // A new playback only from idle, and never while an INVITE still waits for its answer.
    if (step != SipSession::REG_OK || m_session->invitePending()) {
        return;
    }
    const int index = ui->cbxCamera->currentIndex();
    if (index < 0 || index >= m_currentCameras.size()) {
        return;
    }
    if (!startBeforeEnd()) {
        showNotice(QStringLiteral("开始时间不能晚于结束时间！"));
        return;
    }
    const int64_t start = playback::toEpoch(ui->dateEdit_Start->date(), ui->timeEdit_Start->time());
    const int64_t end = playback::toEpoch(ui->dateEdit_End->date(), ui->timeEdit_End->time());
    playRecorded(start, end, index);
}

void MainForm::on_btnPause_clicked() {
    if (refuseUnlessLoggedIn()) {
        return;
    }
    if (m_session->step() == SipSession::REPLAY_PLAYING) {
        m_session->doReplayCtrl(SipSession::CtrlPause);
    }
}

void MainForm::on_btnStop_clicked() {
    if (refuseUnlessLoggedIn()) {
        return;
    }
    m_playWaitsForRecords = false;
    m_session->stopPlayback();
}

void MainForm::on_cbxSpeed_currentIndexChanged(int /*index*/) {
    if (m_session->step() >= SipSession::REPLAY_PLAYING) {
        m_session->doReplayCtrl(SipSession::CtrlSpeed,
                                m_codec->fromUnicode(ui->cbxSpeed->currentText()));
    }
}

void MainForm::on_horizontalSlider_valueChanged(int value) {
    const CCTVCAR& codec = m_session->codec();
    const int64_t duration = codec.recordDuration();
    if (m_session->step() < SipSession::REPLAY_PLAYING || duration <= 0) {
        return;
    }
    const int offset = playback::seekOffset(duration, value);
    const QString when = QDateTime::fromSecsSinceEpoch(codec.recordStart() + offset)
                             .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    m_log->printTime3("%%%% curtotal time:%lld,value:%d,skip time:%d,%s",
                      static_cast<long long>(duration), value, offset, when.toLatin1().constData());
    QToolTip::showText(QCursor::pos() - QPoint(0, 50), when);
    m_session->doReplayCtrl(SipSession::CtrlSeek, QByteArray(), offset);
}

// The platform starts a playback at scale 1, whatever the list showed.
void MainForm::resetSpeed() {
    const QSignalBlocker block(ui->cbxSpeed);
    ui->cbxSpeed->setCurrentIndex(1);
}

void MainForm::onInviteAnswered() {
    resetSpeed();
    showPlayedTimeline();
    const CCTVCAR& codec = m_session->codec();
    if (codec.recordStart() == 0 && codec.recordEnd() == 0) {
        return;  // the answer named no span: the labels keep 00:00:00
    }
    showRecordEnds(codec.recordStart(), codec.recordEnd());
}

void MainForm::onPlaybackClosed() {
    resetSpeed();
    const QSignalBlocker block(ui->horizontalSlider);
    ui->horizontalSlider->setValue(0);
    clearRecordEnds();
    showChosenTimeline();
}
