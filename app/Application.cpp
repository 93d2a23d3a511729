#include "Application.h"

#include "Failure.h"

#include <exception>
#include <stdexcept>

namespace hakop {

Application::Application(int& argc, char** argv)
    : QApplication(argc, argv)
{
    // What the windows survive and hand on is shown here, in the same box.
    setFailureReporter([](const std::exception& failure) { reportHandlerFailure(failure); });
}

Application::~Application()
{
    setFailureReporter(nullptr);
}

bool Application::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& failure) {
        reportHandlerFailure(failure);
    } catch (...) {
        reportHandlerFailure(std::runtime_error("Unknown failure"));
    }
    return false;
}

} // namespace hakop
