#include "mymessagedlg.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>

#include "dialogplacement.h"
#include "topbandmousefilter.h"
#include "ui_mymessagedlg.h"

namespace {

const char kInformationPicture[] = ":/pic/information";
const char kQuestionPicture[] = ":/pic/Question";

// Both edges count as inside, unlike QRect::contains.
bool insideInclusive(const QRect& r, const QPoint& p) {
    return p.x() >= r.x() && p.x() <= r.x() + r.width() && p.y() >= r.y() &&
           p.y() <= r.y() + r.height();
}

}  // namespace

CMyMessageDlg::CMyMessageDlg(std::optional<QPoint> pos, QWidget* parent, const QString& title,
                             const QString& text)
    : QDialog(parent), ui(new Ui::CMyMessageDlg) {
    ui->setupUi(this);

    setWindowTitle(title);
    setAttribute(Qt::WA_QuitOnClose, false);
    m_pointerOverButton = false;
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    ui->labelContent->setText(text);
    ui->labelContent->setStyleSheet(QStringLiteral("color:black"));
    ui->labelContent->setWordWrap(true);

    installEventFilter(this);
    setStyleSheet(QStringLiteral("background-color:rgb(240,240,240)"));

    connectParentClose(parent);

    setMouseTracking(true);
    ui->btnYes->setMouseTracking(true);
    ui->btnNo->setMouseTracking(true);

    if (pos) {
        placeUnderPointer(this, *pos);
    }
    installMouseGuard();
}

CMyMessageDlg::~CMyMessageDlg() {
    m_pointerOverButton = false;
    removeMouseGuard();
    delete ui;
}

int CMyMessageDlg::showInformation() {
    ui->labelPic->setPixmap(QPixmap(QString::fromLatin1(kInformationPicture)));
    ui->btnYes->show();
    ui->btnNo->hide();
    return exec();
}

int CMyMessageDlg::showQuestion() {
    ui->labelPic->setPixmap(QPixmap(QString::fromLatin1(kQuestionPicture)));
    ui->btnYes->show();
    ui->btnNo->show();
    return exec();
}

bool CMyMessageDlg::mouseGuardActive() const {
    return m_mouseGuard != nullptr;
}

void CMyMessageDlg::on_btnYes_clicked() {
    emit btnClickedSignal(1);
    removeMouseGuard();
    accept();
}

void CMyMessageDlg::on_btnNo_clicked() {
    emit btnClickedSignal(0);
    removeMouseGuard();
    m_pointerOverButton = false;
    reject();
}

void CMyMessageDlg::on_closeDlg() {
    removeMouseGuard();
    m_pointerOverButton = false;
    reject();
}

bool CMyMessageDlg::eventFilter(QObject* watched, QEvent* event) {
    // A notice must be answered with a button, never waved away.
    if (event->type() == QEvent::KeyPress && qobject_cast<QDialog*>(watched) != nullptr &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CMyMessageDlg::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    m_pointerOverButton = insideVisibleButton(event->pos());
}

void CMyMessageDlg::closeEvent(QCloseEvent* event) {
    emit btnClickedSignal(0);
    m_pointerOverButton = false;
    removeMouseGuard();
    reject();
    event->accept();
}

void CMyMessageDlg::connectParentClose(QWidget* parent) {
    // Only a parent that declares the signal offers this way out; others are left alone.
    if (parent == nullptr || parent->metaObject()->indexOfSignal("closeMessageDlgSignal()") < 0) {
        return;
    }
    connect(parent, SIGNAL(closeMessageDlgSignal()), this, SLOT(on_closeDlg()));
}

void CMyMessageDlg::installMouseGuard() {
    m_mouseGuard = std::make_unique<TopBandMouseFilter>([this] { return m_pointerOverButton; });
}

void CMyMessageDlg::removeMouseGuard() {
    m_mouseGuard.reset();
}

bool CMyMessageDlg::insideVisibleButton(const QPoint& pos) const {
    // btnYes is checked as it is; btnNo only counts while shown.
    if (insideInclusive(ui->btnYes->geometry(), pos)) {
        return true;
    }
    return ui->btnNo->isVisible() && insideInclusive(ui->btnNo->geometry(), pos);
}
