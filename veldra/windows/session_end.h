#pragma once
// The end of the desktop session: SIGTERM (a logout, `systemctl --user stop`), SIGINT,
// SIGHUP and the session manager's end request run the same end as closing the main
// window, then the program exits.  The signal handler only raises the end request
// (end_request.h), which every wait looks at between its polls, and writes the signal's
// number into a pipe; everything else runs on the user-interface thread, from the event
// loop (also from the events a wait handles, inside an image's run).
#include <functional>

class QObject;

// Installs the handlers once, early in main (after the QApplication exists).  end runs on
// the user-interface thread at the first of these events; context owns the listening
// side.  After the first signal the handlers are the system's again, so a second signal
// ends a program that hangs in its end at once.
void EndWithTheSession(QObject* context, std::function<void()> end);
