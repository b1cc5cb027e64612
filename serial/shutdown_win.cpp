#include "shutdown.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <windows.h>

namespace quorvid {

namespace {

// Runs on a thread of its own; a queued call hands the quit to the event loop.
BOOL WINAPI onConsoleEvent(DWORD)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    return TRUE;
}

}  // namespace

bool quitOnTerminationRequest(QString* error)
{
    if (SetConsoleCtrlHandler(onConsoleEvent, TRUE)) return true;
    if (error) *error = QStringLiteral("cannot install the console control handler");
    return false;
}

}  // namespace quorvid
