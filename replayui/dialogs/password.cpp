#include "password.h"

#include <QCloseEvent>
#include <QEvent>

#include "dialogplacement.h"
#include "topbandmousefilter.h"
#include "ui_password.h"
#include "zelqmessagebox.h"

namespace {

// Fixed maintenance password, compiled in on purpose: it is not a per-site setting.
const char kPassword[] = "ZK-TRAM9051";
const char kTitle[] = "密码验证";
const char kWrongPassword[] = "密码验证错误！";

}  // namespace

PassWord::PassWord(std::optional<QPoint> pos, QWidget* parent)
    : QDialog(parent), ui(new Ui::PassWord) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setWindowTitle(QString::fromUtf8(kTitle));
    if (pos) {
        placeUnderPointer(this, *pos);
    }
    ui->lineEdit->setEchoMode(QLineEdit::Password);
    // No exception for our own buttons: the whole top band is dead while this is open.
    m_mouseGuard = std::make_unique<TopBandMouseFilter>();
}

PassWord::~PassWord() {
    removeMouseGuard();
    delete ui;
}

bool PassWord::matchesPassword(const QString& text) {
    return text.trimmed().compare(QLatin1String(kPassword), Qt::CaseInsensitive) == 0;
}

bool PassWord::mouseGuardActive() const {
    return m_mouseGuard != nullptr;
}

void PassWord::on_btnSave_clicked() {
    if (!matchesPassword(ui->lineEdit->text())) {
        showWrongPassword();
        return;
    }
    removeMouseGuard();
    accept();
}

void PassWord::on_btnCancel_clicked() {
    removeMouseGuard();
    reject();
}

void PassWord::closeEvent(QCloseEvent* event) {
    removeMouseGuard();
    reject();
    event->accept();
}

void PassWord::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
    }
}

void PassWord::showWrongPassword() {
    // The entry stays as typed so the operator can correct it.
    ZelQWarningBox box(this);
    box.setMessageText(QString::fromUtf8(kWrongPassword));
    box.exec();
}

void PassWord::removeMouseGuard() {
    m_mouseGuard.reset();
}
