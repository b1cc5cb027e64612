#include "serverun.h"

#include "exitstatus.h"
#include "resultsrun.h"
#include "server.h"
#include "shutdown.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

namespace quorvid::monitor {

int runServe(const Options& options, const std::function<void(const QString&)>& print,
             const std::function<void(const QString&)>& printError)
{
    const std::optional<store::StoreAddress> from = runStore(options, printError);
    if (!from) return kUsage;
    if (from->kind == store::StoreAddress::Kind::None) {
        printError(QStringLiteral("--serve wants a store to read, not none"));
        return kUsage;
    }
    QString token;
    if (!options.serveTokenFile.isEmpty()) {
        QFile f(options.serveTokenFile);
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
            printError(QStringLiteral("--serve-token-file %1: %2").arg(options.serveTokenFile, f.errorString()));
            return kUsage;
        }
        token = QString::fromUtf8(f.readLine()).trimmed();
        if (token.isEmpty()) {
            printError(QStringLiteral("--serve-token-file %1: its first line is empty").arg(options.serveTokenFile));
            return kUsage;
        }
    }
    const bool loopback = options.serveAddress.startsWith(u"127.") || options.serveAddress == u"::1" || options.serveAddress == u"localhost";
    if (token.isEmpty() && !loopback)
        printError(QStringLiteral("warning: serving %1 beyond this machine without --serve-token-file: anyone who can reach "
                                  "port %2 reads the store's figures")
                       .arg(options.serveAddress)
                       .arg(options.servePort));
    if (QString why; !quitOnTerminationRequest(&why))
        printError(QStringLiteral("Ctrl-C and SIGTERM will not end the program cleanly: %1").arg(why));

    line::Snapshotter snapshots(*from);
    line::LineServer server(snapshots, token, [] { return QDateTime::currentMSecsSinceEpoch(); });
    QString why;
    if (!server.start(options.serveAddress, options.servePort, &why)) {
        printError(why);
        return kUsage;
    }
    snapshots.start();
    const QString shown = options.serveAddress.contains(u':') ? u'[' + options.serveAddress + u']' : options.serveAddress;
    print(QStringLiteral("serving %1 on http://%2:%3/ until Ctrl-C").arg(from->display(), shown).arg(server.port()));
    const int status = QCoreApplication::exec();
    server.stop();
    snapshots.stop();
    return status;
}

}  // namespace quorvid::monitor
