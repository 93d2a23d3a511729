#pragma once
// The settings dialog: there is nothing to set, and it says so. A two-scene
// joke — a puzzled figure asks "設定？", two seconds later it admits having
// forgotten again and offers Close and Version buttons.
#include <QWidget>

class QLabel;
class QPushButton;
class QTimer;

namespace hakop {

class WindowPlacement;

class TSetupForm : public QWidget {
    Q_OBJECT
public:
    // Builds the dialog from its layout and starts Timer1; throws
    // SetupFailure when no timer can be had. Not shown until show().
    explicit TSetupForm(QWidget* parent = nullptr);
    ~TSetupForm() override;

    // Components, in declaration order. Owned by the form.
    QWidget* Panel1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QWidget* Panel2 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QTimer* Timer1 = nullptr;

    // Handlers.
    void Timer1Timer();
    void Button1Click();
    void Button2Click();

signals:
    // The dialog was closed by any means; being the main window of settings
    // mode, this ends the program.
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool buttonKeyPress(QPushButton* button, QKeyEvent* event);

    WindowPlacement* m_placement = nullptr;
};

// The one instance in settings mode (nullptr outside it).
extern TSetupForm* SetupForm;

} // namespace hakop
