// Runs a function on the thread this object lives in whenever any thread
// asks. The request carries nothing: what the function is to do goes
// through the callers' own lock. ThreadSanitizer sees that lock but cannot
// see into Qt's event queue, so a queued functor made on one thread and run
// on another would look to it like a race.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <functional>
#include <utility>

#include "QelThreadSanitizer.h"

class TQelWakeUp : public QObject {
public:
    // Construct on the thread that is to run OnWake.
    explicit TQelWakeUp(std::function<void()> OnWake) : FOnWake(std::move(OnWake)) {}

    // Any thread. Requests still pending when the object goes are dropped.
    void Wake() {
        QCoreApplication::postEvent(this, QelSanitizerUntracked([] { return new QEvent(QEvent::User); }));
    }

protected:
    void customEvent(QEvent*) override { FOnWake(); }

private:
    std::function<void()> FOnWake;
};
