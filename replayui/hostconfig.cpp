// The host's reference lists (stations, trains, cars, cameras): the operator is told when the
// host could not read them, and a refresh reads them again once the database is back.
#include <QTextCodec>
#include <memory>

#include "Logger.h"
#include "camerawriteback.h"
#include "mainform.h"
#include "ui_mainform.h"
#include "zelqmessagebox.h"

namespace {

constexpr int kProblemSize = 512;

QString problemText(QTextCodec* codec, const char* problem) {
    return QStringLiteral("数据库配置读取失败：") + codec->toUnicode(problem);
}

}  // namespace

void MainForm::noticeConfigurationProblem() {
    char problem[kProblemSize] = {};
    if (m_api.ReadConfiguration == nullptr ||
        m_api.ReadConfiguration(nullptr, nullptr, problem, sizeof problem, m_hostContext) == 1) {
        return;
    }
    const QString text = problemText(m_codec, problem);
    m_log->printTime1("[Configuration] the host could not read the lists: %s", problem);
    ui->labelStatus->setText(text);
    // Not modal: the host is still opening its view.
    auto* box = new ZelQWarningBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->setMessageText(text.toHtmlEscaped() + QStringLiteral("<br>数据库恢复后请点击刷新。"));
    box->show();
}

void MainForm::reloadHostConfiguration() {
    if (m_api.ReadConfiguration == nullptr) {
        return;
    }
    auto data = std::make_unique<init_param>();  // 18 KB: not on the stack
    ZoneInfo zones{};
    char problem[kProblemSize] = {};
    int32_t read = 0;
    {
        const HostCall call(this);
        read = m_api.ReadConfiguration(data.get(), &zones, problem, sizeof problem, m_hostContext);
    }
    if (read != 1) {
        // The lists shown stay as they are. A notice, since the session's next answer soon
        // replaces the status text.
        m_log->printTime1("[Configuration] reading the lists again failed: %s", problem);
        const QString text = problemText(m_codec, problem);
        ui->labelStatus->setText(text);
        showNotice(text);
        return;
    }
    // Replaced, not merged: a camera the database lacks is added by the next catalogue.
    m_cameraMap.clear();
    m_stationRows.clear();  // copyHostData keeps them when the host hands none
    copyHostData(data.get(), &zones);
    m_writeBack->setStored(m_cameraMap);
    fillStations();
    ui->cbxzone1->clear();
    fillTrains();
    ui->labelStatus->setText(QStringLiteral("数据库配置已重新读取"));
}
