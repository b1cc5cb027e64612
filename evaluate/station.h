// A station: several boards evaluated at once against one reference, as a
// manifold feeds one calibrator's pressure to a transducer on each board.
// Every board runs the same plan in its own session (its own commands, its
// own recording and report), in step with the others: each reference is set
// once for all of them, and each measurement starts when every board still
// running has come to it, so that all boards measure over the same interval
// of one shared clock. A board that fails (its port would not open or went
// away, it never identified) is no longer waited for; the others go on. A
// reference that fails, or an abort, ends the run of every board.
//
// When all boards are done the station writes its summary beside their
// reports: NAME.json, NAME.html (one self-contained page) and NAME.xml
// (JUnit, a suite per board); each board's own files are NAME-ID.* with the
// board's ID made file-safe.
#pragma once

#include "frontend.h"
#include "plan.h"
#include "recorder.h"
#include "reference.h"
#include "session.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

namespace quorvid {
class SerialControl;
}

namespace quorvid::evaluate {

// The most boards a station runs at once.
inline constexpr int kMaxStationBoards = 8;

// A board's ID as a part of a file name: every character other than an ASCII
// letter, a digit, '.', '_' and '-' becomes '_', so that NAME-ID stays in
// NAME's folder whatever the ID holds.
QString fileSafeId(const QString& id);

// Why these IDs cannot go together (two of them the same file name, one too
// long), or empty. An empty ID stands for its port, given beside it.
QString stationIdsProblem(const QStringList& ids, const QStringList& ports);

// One board of a station as its front end hands it over.
struct StationBoard {
    SerialControl* comm = nullptr;  // open, unless openError says why not; not owned
    QString port;                   // as the operator named it: "COM3", "/dev/ttyUSB0"
    QString boardId;                // serial number or asset tag; empty: the port stands in
    BoardState state;               // what the board was told before the run
    QString openError;              // why the port did not open: the board fails with it
    // The front end's own framer feeds this board's session (the window's
    // port): the station does not read the port itself.
    bool framedOutside = false;
};

// What a board came to, for the summary.
struct StationBoardReport {
    QString boardId, port, identification;
    Verdict verdict = Verdict::Fail;
    int failed = 0;        // results
    int marginal = 0;      // results passed close to their limit
    QString aborted;       // why it ended early; empty when it did not
    QString report;        // its JSON's file name, "NAME-ID.json"
    std::vector<CheckOutcome> checks;
};

struct StationReport {
    QString startedUtc, version, operatorName;
    QString referenceEquipment;  // what set the references, for every board alike
    QString bench;
    Plan plan;
    Verdict verdict = Verdict::Fail;
    std::vector<StationBoardReport> boards;  // in port order
};

QJsonObject stationJson(const StationReport& report);
QString stationHtml(const StationReport& report);
QByteArray stationJUnit(const StationReport& report);
// NAME.json, NAME.html and NAME.xml, all three or none; false with *error
// naming the file and the system's reason.
bool writeStationReport(const StationReport& report, const QString& name, QString* error);

class Station : public QObject {
    Q_OBJECT

public:
    // Starts every board's recording (NAME-ID.csv, NAME-ID.bytes); null with
    // *error when a file cannot be made or two boards' IDs make the same file
    // name. Nothing is sent before start(). The reference setter is the
    // station's one, asked once per reference for all boards; not owned.
    static std::unique_ptr<Station> create(std::vector<StationBoard> boards, ReferenceSetter& reference, Plan plan,
                                           const RunRequest& run, QString* error,
                                           record::Recorder::Clock clock = record::Recorder::systemClock());
    ~Station() override;

    void start();
    // Ends every board's run: each board put back as it was and its report
    // written, then the summary.
    void abort(const QString& why);
    // The same at once, before this returns, while the ports are still open
    // and the event loop still runs or not (Ctrl-C, closing the program).
    void endNow(const QString& why);

    int boardCount() const { return static_cast<int>(m_boards.size()); }
    Session& session(int board) { return *m_boards[std::size_t(board)].session; }
    const Session& session(int board) const { return *m_boards[std::size_t(board)].session; }
    const StationBoard& board(int board) const { return m_boards[std::size_t(board)].given; }
    // The ID the reports carry: the one given, else the port.
    QString boardId(int board) const;
    QString name() const { return m_name; }

    // True until every board's run has ended.
    bool running() const;
    // Every board's report and the summary are written (or could not be).
    bool reportDone() const { return m_reportDone; }
    const StationReport& report() const { return m_report; }
    QString reportError() const { return m_reportError; }
    qint64 reportMilliseconds() const { return m_reportMs; }
    // How often the station's reference was asked for: once per reference
    // the plan sets, whatever the number of boards.
    int referenceRequests() const { return m_requests; }

signals:
    // A board's run has ended and its report is written (or error says why not).
    void boardFinished(int board, const QString& error);
    // The summary is written, or error says why not.
    void finished(const QString& error);

private:
    class StandIn;
    struct Board {
        StationBoard given;
        QString id;  // boardId()
        std::unique_ptr<StandIn> reference;
        std::unique_ptr<Framer> framer;
        std::unique_ptr<Session> session;
        bool ended = false;
        bool asked = false;  // waiting for the reference
        ReferenceRequest request;
    };

    Station(ReferenceSetter& reference, QString name);
    void asked(int board, const ReferenceRequest& request);
    void cancelled(int board);
    void referenceFinished(ReferenceOutcome outcome, const QString& message);
    void boardEnded(int board);
    // Lets on whatever every board still running waits for.
    void meet();
    qint64 nowMs() const;
    void summarize();

    ReferenceSetter& m_reference;
    QString m_name;
    record::Recorder::Clock m_clock;
    SessionSetup::Origin m_origin;
    std::vector<Board> m_boards;
    bool m_started = false;
    bool m_starting = false;
    bool m_closing = false;  // being destroyed
    bool m_inFlight = false;  // the one request to the real setter
    int m_requests = 0;
    int m_reportsLeft = 0;
    bool m_reportDone = false;
    StationReport m_report;
    QString m_reportError;
    qint64 m_reportMs = 0;
};

// A result line of one board: "SN2      FAIL     ch1 100 mmHg: read 106.0, ...".
QString stationResultLine(const QString& boardId, const Result& r, const QString& check = {});

// The verdict of a finished station in a few words: "PASS", "FAIL: 1 of 3
// boards failed".
QString stationVerdictSentence(const StationReport& report);

// A board's verdict in a few words, with its marginal results counted:
// "PASS, 2 MARGINAL", "FAIL: 6 results failed".
QString stationBoardVerdict(const ReportInfo& report);

// The lines that close a station's run: each board's failed results, its
// marginal ones and why it ended early, where the reports were written, then
// one line per board (with its failed and marginal counts) and the station's
// verdict.
QStringList stationSummaryLines(const Station& station);

// Writes a finished station's files again under NAME: the summary as
// NAME.json, .html, .xml and each board's report and recording as NAME-ID.*.
// False with *error naming the file and the reason.
bool saveStationAs(const Station& station, const QString& name, QString* error);

}  // namespace quorvid::evaluate
