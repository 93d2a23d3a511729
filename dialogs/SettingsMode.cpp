#include "SettingsMode.h"

#include "About.h"
#include "FormDescription.h"
#include "Setup.h"
#include "app/Failure.h"

#include <QApplication>

#include <memory>

namespace hakop {

int runSettingsMode()
{
    form::registerFontSubstitutions();

    std::unique_ptr<TSetupForm> setup;
    std::unique_ptr<TAboutForm> about;
    try {
        // The settings dialog first: it is the main window. The About box
        // waits hidden until Button2 asks for it.
        setup = std::make_unique<TSetupForm>();
        SetupForm = setup.get();
        about = std::make_unique<TAboutForm>();
        AboutForm = about.get();
    } catch (const SetupFailure& failure) {
        failWindowSetup(failure);
    }

    QObject::connect(setup.get(), &TSetupForm::closed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    setup->show();
    QApplication::exec();

    AboutForm = nullptr;
    SetupForm = nullptr;
    return 0;
}

} // namespace hakop
