#pragma once
// Asks for the fixed maintenance password before a protected operation. exec() returns
// Accepted when the right password was entered; a wrong one shows a warning and keeps the
// dialog open. While open, clicks and wheel turns in the desktop's top band are swallowed.
#include <QDialog>
#include <QPoint>
#include <memory>
#include <optional>

namespace Ui {
class PassWord;
}
class TopBandMouseFilter;

class PassWord : public QDialog {
    Q_OBJECT
public:
    // pos: where the pointer is (QCursor::pos()), or none to leave the placement to the system.
    explicit PassWord(std::optional<QPoint> pos, QWidget* parent = nullptr);
    ~PassWord() override;

    // Whether text matches the password (blanks at both ends and letter case ignored).
    static bool matchesPassword(const QString& text);
    // True while the top-band mouse filter is installed.
    bool mouseGuardActive() const;

private slots:
    void on_btnSave_clicked();
    void on_btnCancel_clicked();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void showWrongPassword();
    void removeMouseGuard();

    Ui::PassWord* ui;
    std::unique_ptr<TopBandMouseFilter> m_mouseGuard;
};
