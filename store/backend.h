// One connection to a results store and the one path every statement takes.
// A Backend owns its Qt SQL connection under a name of its own (one per
// Backend, so two threads or two calls never share one), knows whether the
// schema has been checked, and executes each statement with its values bound,
// never written into the text. A failure is told as a lost or refused
// connection (the run waits in the outbox and is tried again) or a statement
// the store refused (said, with the driver's reason); either way the reason
// has any password scrubbed out before anyone sees it.
#pragma once

#include "resultsstore.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <optional>

namespace quorvid::store {

struct Problem {
    enum class Kind { None, Connection, Refused };
    Kind kind = Kind::None;
    QString why;  // scrubbed
    explicit operator bool() const { return kind != Kind::None; }
};

class Backend {
public:
    enum class State { Unavailable, Open, OpenSchemaChecked };

    explicit Backend(StoreAddress address);
    ~Backend();
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    // Opens the connection (a SQLite file's folder is made first); false with
    // problem() saying why.
    bool open();
    // Before open(): a reader that can change nothing, whatever its role may
    // do (SQLite opens the file read-only and makes nothing; PostgreSQL runs
    // every transaction read-only).
    void setReadOnly() { m_readOnly = true; }
    State state() const { return m_state; }
    void setSchemaChecked() { m_state = State::OpenSchemaChecked; }
    const Problem& problem() const { return m_problem; }
    void refuse(const QString& why) { m_problem = {Problem::Kind::Refused, scrubbed(why)}; }
    bool isPostgresql() const { return m_address.kind == StoreAddress::Kind::Postgresql; }
    const StoreAddress& address() const { return m_address; }

    // Prepares sql, binds values in order and executes it; nullopt with
    // problem() set when the statement or the connection failed.
    std::optional<QSqlQuery> exec(const QString& sql, const QVariantList& values = {});
    // A statement prepared once and executed for many rows (execute()).
    std::optional<QSqlQuery> prepare(const QString& sql);
    bool execute(QSqlQuery& query, const QVariantList& values);
    // A write transaction; SQLite takes its write lock at once, so writers
    // queue on the busy timeout rather than fail on a lock upgrade.
    bool begin();
    bool commit();
    void rollback();

    // The text with the password (the address's, PGPASSWORD's) replaced.
    QString scrubbed(const QString& text) const;

private:
    Problem failed(const class QSqlError& error);

    StoreAddress m_address;
    QString m_name;
    QSqlDatabase m_db;
    State m_state = State::Unavailable;
    Problem m_problem;
    bool m_readOnly = false;
};

// Why Qt's PostgreSQL driver cannot be used here, in words that say which
// file is missing (where that can be known) and what to install; empty when
// it loads. The first open of a postgresql:// store asks once for the process.
QString postgresqlDriverProblem();
const QString& postgresqlDriverProblemOnce();

// Text as stored: PostgreSQL's text holds no NUL, so NUL and the escape
// character itself (U+E000) are escaped; any other text is stored as it is,
// so a board ID can be queried as written.
QString storedText(const QString& text);
QString textRead(const QString& stored);

}  // namespace quorvid::store
