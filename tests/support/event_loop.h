#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

namespace pimsel::testing {

inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && !timer.hasExpired(timeoutMs))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

inline void spin(int ms) {
    waitUntil([] { return false; }, ms);
}

} // namespace pimsel::testing
