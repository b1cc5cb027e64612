#include "shutdown.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>

#include <windows.h>

namespace quorvid {

namespace {

// Windows ends the process once the handler returns from a close, log-off or
// shut-down event, and gives it about five seconds in all.
constexpr DWORD kCleanShutdownWaitMs = 4000;

HANDLE g_cleanedUp = nullptr;  // set when the QCoreApplication is gone
std::atomic<bool> g_asked{false};

// Runs on a thread of its own; a queued call hands the quit to the event loop.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    // A second Ctrl+C: the system's own handler ends the program at once.
    if (g_asked.exchange(true) && (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)) return FALSE;
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Returning ends the process: first let the recording's last lines
        // be written and the port be closed.
        WaitForSingleObject(g_cleanedUp, kCleanShutdownWaitMs);
    }
    return TRUE;
}

}  // namespace

bool quitOnTerminationRequest(QString* error)
{
    g_cleanedUp = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_cleanedUp == nullptr) {
        if (error) *error = QStringLiteral("cannot create the shutdown event");
        return false;
    }
    // Post routines run as the QCoreApplication is destroyed, the last thing
    // main does after closing the port and the recording.
    qAddPostRoutine([] { SetEvent(g_cleanedUp); });
    if (SetConsoleCtrlHandler(onConsoleEvent, TRUE)) return true;
    if (error) *error = QStringLiteral("cannot install the console control handler");
    return false;
}

}  // namespace quorvid
