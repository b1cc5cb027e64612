#include "artwork.h"
#include "commandline.h"
#include "form1.h"
#include "portnames.h"
#include "qtserialcontrol.h"
#include "reviewcommand.h"
#include "reviewwindow.h"
#include "shutdown.h"
#include "trace.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>

namespace {

QStringList argumentList(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

}  // namespace

int main(int argc, char* argv[])
{
    // Read before any application object exists: a GUI application needs a
    // display, and --help, --version and a usage error must answer without one.
    const quorvid::CommandLine line = quorvid::parseCommandLine(argumentList(argc, argv));
    switch (line.action) {
    case quorvid::CommandLine::Action::Help: {
        const QCoreApplication core(argc, argv);  // the help text names the program from it
        std::fputs(qPrintable(quorvid::helpText()), stdout);
        return line.exitStatus();
    }
    case quorvid::CommandLine::Action::Version:
        std::fputs(qPrintable(quorvid::versionText()), stdout);
        return line.exitStatus();
    case quorvid::CommandLine::Action::Error:
        std::fprintf(stderr, "%s\n", qPrintable(line.error));
        return line.exitStatus();
    case quorvid::CommandLine::Action::Run:
        break;
    }

    if (line.reviewWithoutWindow()) {
        // Files and figures for a script: drawn offscreen, so no display is needed.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        const QGuiApplication app(argc, argv);
        return quorvid::runReviewWithoutWindow(line.reviewRequest(), stdout, stderr);
    }

    // Before anything looks a port up: the probe and every open read the map.
    if (!line.port.isEmpty()) quorvid::setExplicitComDevice(1, line.port);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvid"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVID_VERSION));
    QApplication::setWindowIcon(quorvid::appIcon());

    // SIGTERM (run.sh ending, a script) leaves the way File > Exit does, so
    // a recording keeps its last half second.
    QString signalError;
    if (!quorvid::quitOnTerminationRequest(&signalError))
        std::fprintf(stderr, "quorvid: Ctrl-C and SIGTERM will end the program abruptly: %s\n",
                     qPrintable(signalError));

    if (!line.review.isEmpty()) return quorvid::runReviewWindow(line.reviewRequest());

    quorvid::QtSerialControl comm;

    Form1 form(comm);
    quorvid::trace::watch(&form, form.findChild<QObject*>(QStringLiteral("SYS1")));
    form.Form_Load();
    // A quit from outside the window (a termination request) ends it as
    // File > Exit does: recording stopped, port closed.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &form, &Form1::menEnde_Click);
    // The port is open but nothing has been read yet: that happens only once
    // the event loop runs, so the recording has every byte from the first.
    QString why;
    if (!line.record.isEmpty() && !form.startRecording(line.record, &why))
        std::fprintf(stderr, "quorvid: not recording: %s\n", qPrintable(why));
    form.show();
    return app.exec();
}
