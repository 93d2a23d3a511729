#pragma once
// The About box: banner, name and version, copyright and a dedication, and
// an OK button. Shown modally from the settings dialog; every way of closing
// it returns 2.
#include <QDialog>
#include <QPointer>

class QLabel;
class QPushButton;
class QTextEdit;

namespace hakop {

class WindowPlacement;

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    // The result code of every closing: the OK button is the box's cancel
    // button.
    static constexpr int closedResult = 2;

    explicit TAboutForm(QWidget* parent = nullptr);
    ~TAboutForm() override;

    // Components, in declaration order. Owned by the form.
    QLabel* Image1 = nullptr;
    QPushButton* Button1 = nullptr;
    QTextEdit* Memo1 = nullptr;

    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    WindowPlacement* m_placement = nullptr;
    QPointer<QWidget> m_lastFocus;
};

// The one instance in settings mode (nullptr outside it).
extern TAboutForm* AboutForm;

} // namespace hakop
