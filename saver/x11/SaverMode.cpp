#include "SaverMode.h"

#include "engine/ImageList.h"
#include "Main.h"
#include "saver/VerifierProcess.h"

#include <QApplication>

#include <memory>

namespace hakop {

int runSaverMode()
{
    // The saver window first (it takes the snapshot while nothing of ours is
    // on screen), then the frame store; the first window is the main window.
    // What guards the screen lives as long as the window.
    std::unique_ptr<Verifier> verifier;
    auto form = std::make_unique<THAKOPForm>();
    verifier = std::make_unique<VerifierProcess>();
    form->setVerifier(verifier.get());
    auto frames = std::make_unique<TIForm>();
    form->setFrameStore(frames.get());
    // Closing the main window ends the program, whatever other windows exist.
    QObject::connect(form.get(), &THAKOPForm::formClosed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    form->show();
    QApplication::exec();

    // The window goes before the pictures its scene points into.
    form.reset();
    frames.reset();
    return 0;
}

} // namespace hakop
