#include "quit_signal.h"

#include "shell.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

namespace {

bool quitRequested = false;
bool quitTaken = false;

QEvent::Type QuitSignalType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

class QuitSignalTaker : public QObject {
public:
    using QObject::QObject;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() != QuitSignalType())
            return QObject::event(event);
        quitTaken = true;
        // Before the event loop runs this stops nothing; the loop looks at QuitTaken instead.
        QCoreApplication::exit(0);
        return true;
    }
};

QObject *Taker()
{
    static QPointer<QObject> taker;
    if (!taker)
        taker = new QuitSignalTaker(QCoreApplication::instance());
    return taker;
}

} // namespace

void ResetQuit()
{
    quitRequested = false;
    quitTaken = false;
    QCoreApplication::removePostedEvents(Taker(), QuitSignalType());
}

bool QuitTaken()
{
    return quitTaken;
}

void PostQuitSignal()
{
    // Low priority: every other posted event is delivered first.
    QCoreApplication::postEvent(Taker(), new QEvent(QuitSignalType()), Qt::LowEventPriority);
}

void RequestQuit()
{
    if (quitRequested)
        return;
    quitRequested = true;
    PostQuitSignal();
}

bool QuitRequested()
{
    return quitRequested;
}
