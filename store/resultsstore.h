// The results store: every run's report gathered into one database that many
// benches write at once, through Qt SQL and bound values only. SQLite is the
// bench's own store (a file, made on first use); PostgreSQL is shared by a
// line of benches. The report files stay the record of truth: a run is stored
// from its NAME.json once that is written, so the store holds exactly what the
// file says. A run that cannot be stored waits in the outbox (a SQLite file
// beside the default store) until the next run or --sync sends it.
//
// This is the interface the front ends (the window's dialogs and
// quorvid-monitor) call; every procedure here is blocking, and a front end
// with an event loop calls it off its own thread, never while a run measures.
#pragma once

#include "history.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace quorvid::store {

// Where results go, as given: "sqlite:PATH",
// "postgresql://[USER[:PASSWORD]@]HOST[:PORT]/DBNAME[?sslmode=MODE]" or "none".
struct StoreAddress {
    enum class Kind { None, Sqlite, Postgresql };
    Kind kind = Kind::None;
    QString path;  // Sqlite: the file
    // Postgresql: empty fields are left to libpq (PGUSER, PGPASSWORD, the
    // password file, a service file).
    QString host, database, user, password, sslmode;
    int port = 0;  // 0: libpq's default
    // For messages and reports: "sqlite:/home/a/.local/share/Quorvid/results.sqlite",
    // "postgresql://bench@db1:5432/quorvid"; never the password.
    QString display() const;
};

// nullopt with *why ("--results: ... is not sqlite:PATH, postgresql://... or none")
// for anything else.
std::optional<StoreAddress> parseStoreAddress(const QString& text, QString* why);

// Quorvid/results.sqlite and Quorvid/outbox.sqlite in the platform's data
// folder (QStandardPaths::GenericDataLocation), whichever program runs.
QString defaultStorePath();
QString outboxPath();

// The store a run goes to: given (--results, or the dialog's field) when not
// empty, else QUORVID_RESULTS when set, else sqlite: the default store.
std::optional<StoreAddress> chooseStore(const QString& given, QString* why);

// What became of a run handed to the store; line says it in one line,
// naming the store (never its password).
struct Delivery {
    enum class Outcome {
        Stored,         // its rows are in the store
        AlreadyStored,  // its run_id was there: nothing added
        Queued,         // the store could not be reached or refused it: in the outbox
        NotStored,      // the store is none
        Lost,           // neither the store nor the outbox took it (line says why)
    };
    Outcome outcome = Outcome::NotStored;
    int sentFromOutbox = 0;  // runs waiting in the outbox that went first
    QString line;
};

// Stores the run whose report is reportJsonPath (its NAME.json, already
// written); stationName is the station summary's NAME, empty for a run of its
// own. Sends what waits in the outbox for the same store first. One run is one
// transaction; a run_id already stored adds nothing.
Delivery deliverRun(const StoreAddress& store, const QString& reportJsonPath, const QString& stationName = {});
// The runs of a station's boards, in order: the store is tried once for all
// of them, so a server that is away is waited for once.
std::vector<Delivery> deliverRuns(const StoreAddress& store, const QStringList& reportJsonPaths, const QString& stationName = {});

// --results-init: creates the schema or upgrades an older one; *said tells
// which ("created", "upgraded from version 1 to 2", "already at version 2").
bool initSchema(const StoreAddress& store, QString* said, QString* error);

// --sync: sends the outbox's runs for this store, each once.
struct SyncOutcome {
    int sent = 0, left = 0;
    bool reached = false;
    QString line;
};
SyncOutcome syncOutbox(const StoreAddress& store);

// --import DIR: every report under DIR, read as --history DIR reads them.
struct ImportOutcome {
    int stored = 0, present = 0;
    std::vector<evaluate::HistorySkip> skipped;
    bool ok = false;
    QString line;  // "stored 12, already present 3, skipped 1"
};
ImportOutcome importReports(const StoreAddress& store, const QString& dir,
                            const std::function<void(int, int)>& progress = {});

// A recording stored under several reports (saved again, or judged again)
// counts once. kRecordingSql is what tells a run's recording in a statement
// over runs: its bytes' hash, else (none recorded) the run itself.
// countedBefore: of two reports of one recording, whether the first is the
// one counted: its own report before a judgement of it again, then the first
// path as stored.
inline constexpr const char* kRecordingSql = "CASE WHEN bytes_sha256 = '' THEN run_id ELSE bytes_sha256 END";
bool countedBefore(bool judgedAgain, const QString& path, bool otherJudgedAgain, const QString& otherPath);

// --history STORE: the same summary as from a folder, for the same runs.
std::optional<evaluate::History> readStoreHistory(const StoreAddress& store, const evaluate::HistoryRequest& request,
                                                  QString* error);

// Qt SQL's drivers loaded once, on the calling thread, without a connection.
// A program with a window calls it on the window's thread before any thread of
// its own stores or reads a run: a driver plugin first loaded by such a thread
// keeps the program from ending on Windows (its exit hangs, as seen under Wine).
void loadDrivers();

}  // namespace quorvid::store
