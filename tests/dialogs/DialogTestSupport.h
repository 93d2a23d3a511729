#pragma once
// Helpers shared by the dialog tests: keys go where the platform would send
// them (the focused control, else the active window), and a watcher that
// answers the About box whenever it opens, so modal loops in the code under
// test return.
#include "dialogs/About.h"

#include <QApplication>
#include <QEvent>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace hakop::test {

inline void key(QWidget* window, Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QWidget* target = QApplication::focusWidget();
    if (target == nullptr || target->window() != window)
        target = window;
    QTest::keyClick(target, k, mods);
}

// Counts the openings of an About box and runs 'whileOpen' (by default:
// close it) from its event loop each time it opens.
class AboutAnswerer : public QObject {
public:
    explicit AboutAnswerer(TAboutForm& about)
        : m_about(about)
    {
        about.installEventFilter(this);
    }
    int openings = 0;
    std::function<void(TAboutForm&)> whileOpen;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &m_about && event->type() == QEvent::Show && !event->spontaneous()) {
            ++openings;
            QTimer::singleShot(0, &m_about, [this] {
                if (whileOpen)
                    whileOpen(m_about);
                if (m_about.isVisible())
                    m_about.reject();
            });
        }
        return false;
    }

private:
    TAboutForm& m_about;
};

} // namespace hakop::test
