// The terminal monitor's command line: what it asks for, or the one-line
// reason it cannot be done.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>
#include <string_view>
#include <vector>

namespace quorvid::monitor {

inline constexpr std::string_view kProgramName = "quorvid-monitor";

// Commands queued for the line go out this far apart: one sample period at
// the speed the board starts with (100 a second), so that the board takes each
// as a command of its own even where a two-letter command arrives split.
inline constexpr int kCommandGapMs = 10;

enum class Format { Text, Csv };

struct Options {
    enum class Port { Probe, Device, Com };
    Port port = Port::Probe;
    QString device;  // with Port::Device: the first --port
    // Every --port in order: with --evaluate, up to 8 boards evaluated at
    // once (a station); and each board's --board-id, "" where none was given.
    QStringList ports;
    QStringList boardIds;
    int com = 0;     // with Port::Com, 1..8

    bool setup = true;                     // S1, O, 5 at start
    std::vector<std::string_view> sends;   // from the command table, in order
    Format format = Format::Text;
    bool waveform = false;                 // waveform rows in CSV
    QString record;                        // the recording's chosen name, empty for none
    std::optional<qint64> milliseconds;    // --seconds
    // --evaluate [PLAN.toml]: runs the plan (the default one without a file)
    // and writes the report instead of printing lines; see evaluaterun.h.
    bool evaluate = false;
    QString plan;
    QString report;            // NAME: NAME.csv, .bytes, .json, .html, .xml
    QString referenceCommand;  // empty: the operator sets each reference
    QString operatorName;
    QString referenceEquipment;  // --reference-equipment, for the report
    QString bench;               // --bench, as given (evaluate::benchName chooses)
    QString ambient;             // --ambient, for the certificate
    // --certificate REPORT.json [--out FILE.pdf]: a stored report's certificate.
    QString certificate, certificateOut;
    // --history SOURCE --summary NAME [--board-id ID] [--since YYYY-MM-DD]:
    // the reports under a folder, or the runs of a store (sqlite:PATH,
    // postgresql://...), summarised; see historyrun.h.
    QString history, summary, historyBoardId;
    std::optional<QDate> since;
    // --rescore REPORT.json [PLAN] --report NAME: a run judged again.
    QString rescore, rescorePlan;
    // --results STORE: where --evaluate, a station and --rescore store their
    // runs, and what --results-init, --sync and --import work on; empty: the
    // store QUORVID_RESULTS names, else the default one (see resultsrun.h).
    QString results;
    bool resultsInit = false;  // --results-init: the store's tables made or upgraded
    bool sync = false;         // --sync: the outbox's runs for the store sent
    QString importDir;         // --import DIR: every report under DIR stored
    // --serve [ADDRESS:]PORT [--results STORE] [--serve-token-file FILE]:
    // the line's page and API over the store (see line/README.md).
    QString serveAddress;  // 127.0.0.1 unless given
    int servePort = 0;     // 0: not serving
    QString serveTokenFile;
    bool printPlan = false;
    bool help = false;
    bool version = false;
};

struct ParsedOptions {
    std::optional<Options> options;
    QString error;  // one line naming the problem, when options is empty
};

// args without the program's name.
ParsedOptions parseOptions(const QStringList& args);

// The command of the board's command table that the text names, exactly or in
// lower case, with blanks around it ignored; nullopt for anything else.
std::optional<std::string_view> commandNamed(QStringView text);

// "I, O, M, 5, 6, Z1, Z2, Z3, S0, S1, S2"
QString commandList();

// Whether --history's SOURCE names a store (sqlite:, postgresql:) rather
// than a folder.
bool namesStore(const QString& source);

QString helpText();

}  // namespace quorvid::monitor
