#include "veldra/windows/session_end.h"

#include "common/end_request.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int writeEnd = -1; // written by the handler only

void OnSignal(int number) {
    // At once, for the waits that do not handle events (the telescope's, a command's).
    RequestEnd();
    const int saved = errno; // write may change it under the interrupted code
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t ignored = write(writeEnd, &byte, 1);
    errno = saved;
}
} // namespace

void EndWithTheSession(QObject* context, std::function<void()> end) {
    int pipeEnds[2];
    if (writeEnd >= 0 || pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    writeEnd = pipeEnds[1];
    auto* notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context,
                     [notifier, readEnd = pipeEnds[0], end] {
                         char bytes[16];
                         while (read(readEnd, bytes, sizeof bytes) > 0) {
                         }
                         notifier->setEnabled(false);
                         for (const int number : kSignals)
                             std::signal(number, SIG_DFL);
                         RequestEnd();
                         end();
                     });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kSignals)
        sigaction(number, &action, nullptr);

    // The session manager asks every program to save before the session ends.
    if (auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QObject::connect(application, &QGuiApplication::commitDataRequest, context,
                         [end](QSessionManager&) {
                             RequestEnd();
                             end();
                         });
}
