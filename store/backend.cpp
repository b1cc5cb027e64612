#include "backend.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>

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

}  // namespace

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
        for (const QString& driver : {QStringLiteral("QSQLITE"), QStringLiteral("QPSQL")}) {
            if (!QSqlDatabase::isDriverAvailable(driver)) continue;
            const QString name = QStringLiteral("quorvid-load-") + driver;
            QSqlDatabase::addDatabase(driver, name);
            QSqlDatabase::removeDatabase(name);
        }
        return true;
    }();
    (void)loaded;
}

}  // namespace quorvid::store
