#pragma once
// Where the desktop's word that the user went idle comes from. Each source
// only listens: it wakes the program when the desktop speaks, never on a
// timer of its own.
#include <QObject>
#include <QString>

namespace hakop::idle {

class IdleSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    // The user has touched nothing for the time asked: once per idle spell.
    void idle();
    // The desktop went away; 'why' is the one line to say. Said once; nothing more comes.
    void lost(const QString& why);

protected:
    void loseOnce(const QString& why)
    {
        if (!m_lost)
            emit lost(why);
        m_lost = true;
    }

private:
    bool m_lost = false;
};

} // namespace hakop::idle
