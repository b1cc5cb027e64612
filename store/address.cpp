// Where results go: the address as given, the default store and its outbox.
#include "resultsstore.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

namespace quorvid::store {

namespace {

QString refusedText(const QString& text, const QString& why)
{
    // The address may hold a password: what is refused is named without it.
    QString shown = text;
    static const QRegularExpression password(QStringLiteral("^([A-Za-z0-9+.-]+://[^:@/]*):.*@"));
    shown.replace(password, QStringLiteral("\\1:***@"));
    return QStringLiteral("--results: \"%1\" %2").arg(shown, why);
}

QString decoded(const QString& s) { return QUrl::fromPercentEncoding(s.toUtf8()); }

// A host that is a socket folder ("/run/postgresql") is written percent-encoded.
QString encodedHost(const QString& host)
{
    return host.startsWith(u'/') ? QString::fromUtf8(QUrl::toPercentEncoding(host)) : host;
}

}  // namespace

QString StoreAddress::display() const
{
    switch (kind) {
    case Kind::None: return QStringLiteral("none");
    case Kind::Sqlite: return QStringLiteral("sqlite:") + QDir::toNativeSeparators(path);
    case Kind::Postgresql: break;
    }
    QString s = QStringLiteral("postgresql://");
    if (!user.isEmpty()) s += QString::fromUtf8(QUrl::toPercentEncoding(user)) + u'@';
    s += encodedHost(host);
    if (port > 0) s += u':' + QString::number(port);
    s += u'/' + QString::fromUtf8(QUrl::toPercentEncoding(database));
    if (!sslmode.isEmpty()) s += QStringLiteral("?sslmode=") + sslmode;
    return s;
}

std::optional<StoreAddress> parseStoreAddress(const QString& given, QString* why)
{
    const QString text = given.trimmed();
    auto refuse = [&](const QString& reason) -> std::optional<StoreAddress> {
        if (why) *why = refusedText(text, reason);
        return std::nullopt;
    };
    StoreAddress a;
    if (text == u"none") return a;
    if (text.startsWith(QLatin1String("sqlite:"))) {
        const QString path = text.mid(7);
        if (path.isEmpty()) return refuse(QStringLiteral("names no file: sqlite:PATH"));
        if (path.contains(QChar(0))) return refuse(QStringLiteral("is not a file name"));
        a.kind = StoreAddress::Kind::Sqlite;
        a.path = QFileInfo(path).absoluteFilePath();
        return a;
    }
    static const QRegularExpression url(QStringLiteral(
        "^postgres(?:ql)?://(?:([^:@/?]*)(?::([^@/?]*))?@)?([^:/?@]*)(?::([0-9]{1,5}))?/([^/?]+)(?:\\?(.*))?$"));
    if (text.startsWith(QLatin1String("postgres"))) {
        const QRegularExpressionMatch m = url.match(text);
        if (!m.hasMatch())
            return refuse(QStringLiteral("is not postgresql://[USER[:PASSWORD]@]HOST[:PORT]/DBNAME[?sslmode=MODE]"));
        a.kind = StoreAddress::Kind::Postgresql;
        a.user = decoded(m.captured(1));
        a.password = decoded(m.captured(2));
        a.host = decoded(m.captured(3));
        a.database = decoded(m.captured(5));
        if (m.capturedLength(4) > 0) {
            a.port = m.captured(4).toInt();
            if (a.port < 1 || a.port > 65535) return refuse(QStringLiteral("has a port outside 1 to 65535"));
        }
        const QString query = m.captured(6);
        if (!query.isEmpty()) {
            static const QRegularExpression ssl(QStringLiteral("^sslmode=(disable|allow|prefer|require|verify-ca|verify-full)$"));
            const QRegularExpressionMatch s = ssl.match(query);
            if (!s.hasMatch())
                return refuse(QStringLiteral("takes only ?sslmode=disable, allow, prefer, require, verify-ca or verify-full"));
            a.sslmode = s.captured(1);
        }
        for (const QString* part : {&a.user, &a.password, &a.host, &a.database})
            if (part->contains(QChar(0))) return refuse(QStringLiteral("holds a NUL character"));
        return a;
    }
    return refuse(QStringLiteral("is not sqlite:PATH, postgresql://... or none"));
}

QString defaultStorePath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("Quorvid/results.sqlite"));
}

QString outboxPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("Quorvid/outbox.sqlite"));
}

std::optional<StoreAddress> chooseStore(const QString& given, QString* why)
{
    if (!given.trimmed().isEmpty()) return parseStoreAddress(given, why);
    const QString fromEnvironment = qEnvironmentVariable("QUORVID_RESULTS");
    if (!fromEnvironment.trimmed().isEmpty()) {
        std::optional<StoreAddress> a = parseStoreAddress(fromEnvironment, why);
        if (!a && why) why->replace(QLatin1String("--results:"), QLatin1String("QUORVID_RESULTS:"));
        return a;
    }
    StoreAddress a;
    a.kind = StoreAddress::Kind::Sqlite;
    a.path = defaultStorePath();
    return a;
}

}  // namespace quorvid::store
