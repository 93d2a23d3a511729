#pragma once
// The program's QApplication: an exception thrown by an event handler is shown
// in the "HAKOP" error box and the program goes on with the next event.
#include <QApplication>

namespace hakop {

class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    ~Application() override;
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace hakop
