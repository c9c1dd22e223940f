#include "zelqmessagebox.h"

namespace {

// Blank-padded on purpose: the padding widens the buttons to the notices' fixed look.
const char kOkText[] = "  确  定  ";
const char kCancelText[] = "  取  消  ";

struct BoxLook {
    QMessageBox::Icon icon;
    const char* title;
    QMessageBox::StandardButtons buttons;
};

const BoxLook kWarningLook{QMessageBox::Warning, "警告", QMessageBox::Ok};
const BoxLook kInformationLook{QMessageBox::Information, "提 示", QMessageBox::Ok};
const BoxLook kConfirmLook{QMessageBox::Information, "提示", QMessageBox::Ok | QMessageBox::Cancel};

struct ButtonText {
    QMessageBox::StandardButton button;
    const char* text;
};

const ButtonText kButtonTexts[] = {
    {QMessageBox::Ok, kOkText},
    {QMessageBox::Cancel, kCancelText},
};

void applyLook(QMessageBox* box, const BoxLook& look) {
    box->setIcon(look.icon);
    box->setWindowTitle(QString::fromUtf8(look.title));
    box->setStandardButtons(look.buttons);
    for (const ButtonText& entry : kButtonTexts) {
        if (look.buttons.testFlag(entry.button)) {
            box->setButtonText(entry.button, QString::fromUtf8(entry.text));
        }
    }
}

// The text goes in unescaped: callers may pass rich-text markup of their own.
QString messageSpan(const QString& text) {
    return QStringLiteral("<span style=\"font-size: 10pt; color: black;\">%1</span>").arg(text);
}

}  // namespace

ZelQWarningBox::ZelQWarningBox(QWidget* parent) : QMessageBox(parent) {
    applyLook(this, kWarningLook);
}

void ZelQWarningBox::setMessageText(const QString& text) {
    setText(messageSpan(text));
}

ZelQInformationBox::ZelQInformationBox(QWidget* parent) : QMessageBox(parent) {
    applyLook(this, kInformationLook);
}

void ZelQInformationBox::setMessageText(const QString& text) {
    setText(messageSpan(text));
}

ZelQConfirmBox::ZelQConfirmBox(QWidget* parent) : QMessageBox(parent) {
    applyLook(this, kConfirmLook);
}

void ZelQConfirmBox::setMessageText(const QString& text) {
    setText(messageSpan(text));
}
