#include "SettingsMode.h"

#include "About.h"
#include "FormDescription.h"
#include "Setup.h"

#include <QApplication>

#include <memory>

namespace hakop {

int runSettingsMode()
{
    form::registerFontSubstitutions();

    std::unique_ptr<TSetupForm> setup;
    std::unique_ptr<TAboutForm> about;
    // Goes first, so the globals never point at a window being destroyed,
    // also when building one throws.
    struct ClearGlobals {
        ~ClearGlobals()
        {
            AboutForm = nullptr;
            SetupForm = nullptr;
        }
    } clearGlobals;
    // The settings dialog first: it is the main window. The About box waits
    // hidden until Button2 asks for it. A window that cannot be built throws
    // to the caller, which reports it.
    setup = std::make_unique<TSetupForm>();
    SetupForm = setup.get();
    about = std::make_unique<TAboutForm>();
    AboutForm = about.get();

    QObject::connect(setup.get(), &TSetupForm::closed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    setup->show();
    QApplication::exec();
    return 0;
}

} // namespace hakop
