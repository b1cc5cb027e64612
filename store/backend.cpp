#include "backend.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QPluginLoader>
#include <QSqlError>

#include <algorithm>
#include <atomic>

namespace quorvid::store {

namespace {

constexpr QChar kEscape(0xE000);

// How long a bench waits for a server before the run goes to the outbox, and
// for another writer's lock on a SQLite file.
constexpr int kConnectSeconds = 5;
constexpr int kBusyMilliseconds = 60000;

QString connectionName()
{
    static std::atomic<quint64> next{0};
    return QStringLiteral("quorvid-store-%1").arg(next++);
}

// Where Qt looks for the PostgreSQL driver plugin first: the programs' own
// sqldrivers folder on Windows (where the installer puts it), Qt's plugin
// folder elsewhere (where the distribution's package does).
QString driverFolder()
{
#ifdef Q_OS_WIN
    if (QCoreApplication::instance())
        return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("sqldrivers"));
#endif
    return QDir(QLibraryInfo::path(QLibraryInfo::PluginsPath)).filePath(QStringLiteral("sqldrivers"));
}

#ifdef Q_OS_WIN
constexpr const char* kPluginFile = "qsqlpsql.dll";
#else
constexpr const char* kPluginFile = "libqsqlpsql.so";
#endif

// The plugin file Qt found, in the first of its plugin folders holding one.
QString pluginPath()
{
    const QString file = QStringLiteral("sqldrivers/") + QString::fromLatin1(kPluginFile);
    for (const QString& folder : QCoreApplication::libraryPaths())
        if (QFileInfo::exists(QDir(folder).filePath(file))) return QDir(folder).filePath(file);
    return QDir(driverFolder()).filePath(QString::fromLatin1(kPluginFile));
}

#ifdef Q_OS_WIN
// The files Windows' loader looks for beside the program, then on the PATH,
// when the plugin loads: libpq and the DLLs it loads, which the installer puts
// beside the programs. Windows' own error names none of them.
QString programFolder()
{
    return QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
}

QStringList missingLibpqFiles()
{
    QStringList folders{programFolder()};
    folders += qEnvironmentVariable("PATH").split(QDir::listSeparator(), Qt::SkipEmptyParts);
    QStringList missing;
    for (const char* name : {"libpq.dll", "libssl-3-x64.dll", "libcrypto-3-x64.dll", "libintl-9.dll", "libiconv-2.dll"}) {
        const QString file = QString::fromLatin1(name);
        if (std::none_of(folders.cbegin(), folders.cend(), [&](const QString& f) { return QFileInfo::exists(QDir(f).filePath(file)); }))
            missing << file;
    }
    return missing;
}
#endif

}  // namespace

QString postgresqlDriverProblem()
{
    const QString folder = QDir::toNativeSeparators(driverFolder());
    const QString plugin = QString::fromLatin1(kPluginFile);
#ifdef Q_OS_WIN
    const QString reinstall = QStringLiteral("reinstall Quorvid, which carries it");
#else
    const QString reinstall = QStringLiteral("install Qt's PostgreSQL driver (Debian: libqt6sql6-psql) and libpq (libpq5)");
#endif
    const QString lead = QStringLiteral("the PostgreSQL driver could not be loaded: ");
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return lead + QStringLiteral("%1 is missing from %2; %3").arg(plugin, folder, reinstall);
    // Listed is not loaded: the plugin is listed by its file alone, and what
    // it loads in turn is looked for only when it is opened. Opened here
    // first, so that the system's reason is the first attempt's (Qt keeps no
    // reason for a second).
    QPluginLoader loader(pluginPath());
    QString said = loader.load() ? QString() : loader.errorString();
    if (said.isEmpty()) {
        const QString name = QStringLiteral("quorvid-probe-QPSQL");
        const bool loads = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name).isValid();
        QSqlDatabase::removeDatabase(name);
        if (loads) return {};
        said = QStringLiteral("it loads, but gives no driver");
    }
#ifdef Q_OS_WIN
    const QStringList missing = missingLibpqFiles();
    if (!missing.isEmpty())
        return lead + QStringLiteral("%1 is there, but %2 %3 missing from %4 (%5); %6")
                          .arg(plugin, missing.join(QStringLiteral(", ")),
                               missing.size() == 1 ? QStringLiteral("is") : QStringLiteral("are"),
                               QDir::toNativeSeparators(programFolder()), said, reinstall);
    return lead + QStringLiteral("%1 and libpq.dll are there, but Windows could not load them (%2); libpq.dll needs the "
                                 "Visual C++ 2015-2022 runtime (VCRUNTIME140.dll): install Microsoft's Visual C++ "
                                 "Redistributable for Visual Studio 2015-2022 (x64), or %3")
                      .arg(plugin, said, reinstall);
#else
    return lead + QStringLiteral("%1 is there, but it does not load (%2); %3").arg(plugin, said, reinstall);
#endif
}

const QString& postgresqlDriverProblemOnce()
{
    static const QString problem = postgresqlDriverProblem();
    return problem;
}

QString storedText(const QString& text)
{
    if (!text.contains(QChar(0)) && !text.contains(kEscape)) return text;
    QString out;
    out.reserve(text.size() + 8);
    for (QChar c : text) {
        if (c == QChar(0)) out += kEscape, out += u'0';
        else if (c == kEscape) out += kEscape, out += kEscape;
        else out += c;
    }
    return out;
}

QString textRead(const QString& stored)
{
    if (!stored.contains(kEscape)) return stored;
    QString out;
    out.reserve(stored.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        if (stored[i] == kEscape && i + 1 < stored.size()) {
            ++i;
            out += stored[i] == u'0' ? QChar(0) : stored[i];
        } else {
            out += stored[i];
        }
    }
    return out;
}

Backend::Backend(StoreAddress address) : m_address(std::move(address)), m_name(connectionName()) {}

Backend::~Backend()
{
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
}

QString Backend::scrubbed(const QString& text) const
{
    QString out = text;
    for (const QString& secret : {m_address.password, qEnvironmentVariable("PGPASSWORD")})
        if (!secret.isEmpty()) out.replace(secret, QStringLiteral("***"));
    return out.simplified();
}

Problem Backend::failed(const QSqlError& error)
{
    // A statement fails for the connection (the server went away, shut down,
    // or never answered) or for itself; the SQLSTATE classes 08 and 57P are
    // the server's, and a closed connection says nothing more.
    const QString code = error.nativeErrorCode();
    const bool lost = error.type() == QSqlError::ConnectionError || code.startsWith(QLatin1String("08")) ||
                      code.startsWith(QLatin1String("57P")) || (isPostgresql() && !m_db.isOpen());
    QString why = error.text().trimmed();
    if (why.isEmpty()) why = QStringLiteral("no reason given");
    m_problem = {lost ? Problem::Kind::Connection : Problem::Kind::Refused, scrubbed(why)};
    return m_problem;
}

bool Backend::open()
{
    if (m_state != State::Unavailable) return true;
    m_problem = {};
    if (m_db.isValid()) {  // a second try of the same connection
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    const QString driver = isPostgresql() ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (isPostgresql()) {
        // Like a server away, the run waits in the outbox; but the line says
        // what to install rather than only Qt's "Driver not loaded".
        const QString& missing = postgresqlDriverProblemOnce();
        if (!missing.isEmpty()) {
            m_problem = {Problem::Kind::Connection, missing};
            return false;
        }
    }
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        m_problem = {Problem::Kind::Connection,
                     QStringLiteral("Qt SQL has no %1 driver here (%2 are available)")
                         .arg(driver, QSqlDatabase::drivers().join(QStringLiteral(", ")))};
        return false;
    }
    m_db = QSqlDatabase::addDatabase(driver, m_name);
    if (isPostgresql()) {
        if (!m_address.host.isEmpty()) m_db.setHostName(m_address.host);
        if (m_address.port > 0) m_db.setPort(m_address.port);
        m_db.setDatabaseName(m_address.database);
        if (!m_address.user.isEmpty()) m_db.setUserName(m_address.user);
        // Without one in the address, libpq finds it itself: PGPASSWORD, the
        // password file, a service file.
        if (!m_address.password.isEmpty()) m_db.setPassword(m_address.password);
        QString options = QStringLiteral("connect_timeout=%1").arg(kConnectSeconds);
        if (m_readOnly) options += QStringLiteral(";options='-c default_transaction_read_only=on'");
        if (!m_address.sslmode.isEmpty()) options += QStringLiteral(";sslmode=") + m_address.sslmode;
        m_db.setConnectOptions(options);
    } else {
        const QFileInfo file(m_address.path);
        if (m_readOnly && !file.exists()) {
            m_problem = {Problem::Kind::Connection, QStringLiteral("no store at %1").arg(QDir::toNativeSeparators(file.absoluteFilePath()))};
            return false;
        }
        if (!m_readOnly && !QDir().mkpath(file.absolutePath())) {
            m_problem = {Problem::Kind::Connection,
                         QStringLiteral("cannot make the folder %1").arg(QDir::toNativeSeparators(file.absolutePath()))};
            return false;
        }
        m_db.setDatabaseName(file.absoluteFilePath());
        m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1%2").arg(kBusyMilliseconds).arg(m_readOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    }
    if (!m_db.open()) {
        failed(m_db.lastError());
        m_problem.kind = Problem::Kind::Connection;
        return false;
    }
    m_state = State::Open;
    if (!isPostgresql() && !m_readOnly) {
        // Readers never wait for a writer, and writers of other benches'
        // processes queue on the busy timeout.
        if (!exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !exec(QStringLiteral("PRAGMA synchronous=NORMAL"))) {
            m_state = State::Unavailable;
            m_problem.kind = Problem::Kind::Connection;
            return false;
        }
    }
    return true;
}

std::optional<QSqlQuery> Backend::exec(const QString& sql, const QVariantList& values)
{
    if (values.isEmpty()) {
        // A statement with no values (the schema's, a transaction's) is sent
        // as it is: PostgreSQL prepares only queries and changes of rows.
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        if (!query.exec(sql)) {
            failed(query.lastError());
            return std::nullopt;
        }
        return query;
    }
    std::optional<QSqlQuery> query = prepare(sql);
    if (!query || !execute(*query, values)) return std::nullopt;
    return query;
}

std::optional<QSqlQuery> Backend::prepare(const QString& sql)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
        failed(query.lastError());
        return std::nullopt;
    }
    return query;
}

bool Backend::execute(QSqlQuery& query, const QVariantList& values)
{
    for (qsizetype i = 0; i < values.size(); ++i) {
        // An empty text is a text, not a missing value.
        const QVariant& v = values[i];
        const bool noText = v.metaType() == QMetaType::fromType<QString>() && v.toString().isNull();
        query.bindValue(int(i), noText ? QVariant(QStringLiteral("")) : v);
    }
    if (!query.exec()) {
        failed(query.lastError());
        return false;
    }
    return true;
}

bool Backend::begin()
{
    return exec(isPostgresql() ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE")).has_value();
}

bool Backend::commit() { return exec(QStringLiteral("COMMIT")).has_value(); }

void Backend::rollback()
{
    const Problem kept = m_problem;
    exec(QStringLiteral("ROLLBACK"));
    m_problem = kept;
}

void loadDrivers()
{
    static const bool loaded = [] {
        postgresqlDriverProblemOnce();  // loads QPSQL, where it loads, as it asks
        if (QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
            const QString name = QStringLiteral("quorvid-load-QSQLITE");
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            QSqlDatabase::removeDatabase(name);
        }
        return true;
    }();
    (void)loaded;
}

}  // namespace quorvid::store
