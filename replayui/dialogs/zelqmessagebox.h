#pragma once
// The console's modal notices with one fixed look: Chinese caption, blank-padded Chinese button
// texts and the message set in a 10-point black span. Run them with exec().
#include <QMessageBox>

class ZelQWarningBox : public QMessageBox {
    Q_OBJECT
public:
    explicit ZelQWarningBox(QWidget* parent = nullptr);
    void setMessageText(const QString& text);
};

class ZelQInformationBox : public QMessageBox {
    Q_OBJECT
public:
    explicit ZelQInformationBox(QWidget* parent = nullptr);
    void setMessageText(const QString& text);
};

// Ok and Cancel; shows the Information icon on purpose (the notices share one look).
class ZelQConfirmBox : public QMessageBox {
    Q_OBJECT
public:
    explicit ZelQConfirmBox(QWidget* parent = nullptr);
    void setMessageText(const QString& text);
};
