#pragma once
// The console's own modal notice: picture, word-wrapped text, one or two buttons, placed on the
// screen column under the pointer. Escape does not dismiss it, and while it is open mouse clicks
// and wheel turns in the top band of the desktop are swallowed (left clicks pass while the
// pointer was last seen over one of its visible buttons).
#include <QDialog>
#include <QPoint>
#include <QString>
#include <memory>
#include <optional>

namespace Ui {
class CMyMessageDlg;
}
class TopBandMouseFilter;

class CMyMessageDlg : public QDialog {
    Q_OBJECT
public:
    // pos: where the pointer is (QCursor::pos()), or none to leave the placement to the system.
    // If parent declares closeMessageDlgSignal(), emitting it closes the dialog without an answer.
    CMyMessageDlg(std::optional<QPoint> pos, QWidget* parent, const QString& title,
                  const QString& text);
    ~CMyMessageDlg() override;

    // Information picture, only the "确定" button; runs modally and returns the exec() result.
    int showInformation();
    // Question picture, both buttons; runs modally and returns the exec() result.
    int showQuestion();

    // True while the pointer was last seen over a visible button of the dialog.
    bool pointerOverButton() const { return m_pointerOverButton; }
    // True while the top-band mouse filter is installed.
    bool mouseGuardActive() const;

signals:
    // 1: btnYes pressed; 0: btnNo pressed or closed by the title bar.
    void btnClickedSignal(int);

private slots:
    void on_btnYes_clicked();
    void on_btnNo_clicked();
    void on_closeDlg();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void connectParentClose(QWidget* parent);
    void installMouseGuard();
    void removeMouseGuard();
    bool insideVisibleButton(const QPoint& pos) const;

    Ui::CMyMessageDlg* ui;
    std::unique_ptr<TopBandMouseFilter> m_mouseGuard;
    bool m_pointerOverButton = false;
};
