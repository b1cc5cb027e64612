#include "options.h"

#include "commands.h"
#include "evaluaterun.h"

#include "resultsstore.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvid::monitor {

std::optional<std::string_view> commandNamed(QStringView text)
{
    const QString wanted = text.trimmed().toString().toUpper();
    for (const Command& c : kCommands)
        if (wanted == QLatin1String(c.text.data(), qsizetype(c.text.size()))) return c.text;
    return std::nullopt;
}

QString commandList()
{
    QStringList names;
    for (const Command& c : kCommands) {
        const QString name = QString::fromLatin1(c.text.data(), qsizetype(c.text.size()));
        if (!names.contains(name)) names << name;
    }
    return names.join(QStringLiteral(", "));
}

bool namesStore(const QString& source)
{
    // A scheme of two letters or more: "C:\\runs" stays a folder.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(source).hasMatch();
}

namespace {

// Which board each --board-id is for: the --port before it, or the one board
// when no --port names any. ids gets one entry a board, "" where none is
// given; the reason they do not pair up, or empty.
QString pairBoardIds(const QStringList& args, const QStringList& valued, qsizetype ports, QStringList* ids)
{
    ids->clear();
    QStringList portNames;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& token = args[i];
        if (token == u"--") break;
        if (!token.startsWith(u'-')) continue;
        QString name = token.mid(token.startsWith(QLatin1String("--")) ? 2 : 1);
        QString value;
        if (const qsizetype eq = name.indexOf(u'='); eq >= 0) {
            value = name.mid(eq + 1);
            name.truncate(eq);
        } else if (valued.contains(name)) {
            value = args.value(++i);
        }
        if (name == u"port") {
            portNames << value;
            ids->append(QString());
        } else if (name == u"board-id") {
            if (ports == 0 && ids->isEmpty()) ids->append(QString()), portNames << QString();
            if (ids->isEmpty())
                return QStringLiteral("--board-id %1 comes before any --port: give each board's ID after its --port").arg(value);
            if (!ids->last().isEmpty())
                return ports == 0 ? QStringLiteral("--board-id given more than once for one board")
                                  : QStringLiteral("--port %1 has two board IDs").arg(portNames.last());
            if (value.trimmed().isEmpty()) return QStringLiteral("--board-id wants an ID, e.g. --board-id SN-0042");
            ids->last() = value.trimmed();
        }
    }
    return {};
}

}  // namespace

ParsedOptions parseOptions(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption portOpt(QStringLiteral("port"), {}, QStringLiteral("DEVICE"));
    const QCommandLineOption comOpt(QStringLiteral("com"), {}, QStringLiteral("N"));
    const QCommandLineOption noSetupOpt(QStringLiteral("no-setup"));
    const QCommandLineOption sendOpt(QStringLiteral("send"), {}, QStringLiteral("CMD"));
    const QCommandLineOption formatOpt(QStringLiteral("format"), {}, QStringLiteral("FORMAT"));
    const QCommandLineOption waveformOpt(QStringLiteral("waveform"));
    const QCommandLineOption recordOpt(QStringLiteral("record"), {}, QStringLiteral("NAME"));
    const QCommandLineOption secondsOpt(QStringLiteral("seconds"), {}, QStringLiteral("N"));
    const QCommandLineOption evaluateOpt(QStringLiteral("evaluate"));
    const QCommandLineOption reportOpt(QStringLiteral("report"), {}, QStringLiteral("NAME"));
    const QCommandLineOption referenceOpt(QStringLiteral("reference-command"), {}, QStringLiteral("CMD"));
    const QCommandLineOption operatorOpt(QStringLiteral("operator"), {}, QStringLiteral("TEXT"));
    const QCommandLineOption boardIdOpt(QStringLiteral("board-id"), {}, QStringLiteral("ID"));
    const QCommandLineOption printPlanOpt(QStringLiteral("print-plan"));
    const QCommandLineOption equipmentOpt(QStringLiteral("reference-equipment"), {}, QStringLiteral("TEXT"));
    const QCommandLineOption historyOpt(QStringLiteral("history"), {}, QStringLiteral("DIR"));
    const QCommandLineOption summaryOpt(QStringLiteral("summary"), {}, QStringLiteral("NAME"));
    const QCommandLineOption sinceOpt(QStringLiteral("since"), {}, QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption rescoreOpt(QStringLiteral("rescore"), {}, QStringLiteral("REPORT"));
    const QCommandLineOption resultsOpt(QStringLiteral("results"), {}, QStringLiteral("STORE"));
    const QCommandLineOption resultsInitOpt(QStringLiteral("results-init"));
    const QCommandLineOption syncOpt(QStringLiteral("sync"));
    const QCommandLineOption importOpt(QStringLiteral("import"), {}, QStringLiteral("DIR"));
    const QCommandLineOption benchOpt(QStringLiteral("bench"), {}, QStringLiteral("NAME"));
    const QCommandLineOption serveOpt(QStringLiteral("serve"), {}, QStringLiteral("[ADDRESS:]PORT"));
    const QCommandLineOption serveTokenOpt(QStringLiteral("serve-token-file"), {}, QStringLiteral("FILE"));
    const QCommandLineOption helpOpt(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOpt(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({portOpt, comOpt, noSetupOpt, sendOpt, formatOpt, waveformOpt, recordOpt, secondsOpt,
                       helpOpt, versionOpt, evaluateOpt, reportOpt, referenceOpt, operatorOpt, printPlanOpt});
    parser.addOptions({boardIdOpt, equipmentOpt, historyOpt, summaryOpt, sinceOpt, rescoreOpt});
    parser.addOptions({resultsOpt, resultsInitOpt, syncOpt, importOpt});
    parser.addOptions({benchOpt, serveOpt, serveTokenOpt});
    const QCommandLineOption ambientOpt(QStringLiteral("ambient"), {}, QStringLiteral("TEXT"));
    const QCommandLineOption certificateOpt(QStringLiteral("certificate"), {}, QStringLiteral("REPORT"));
    const QCommandLineOption outOpt(QStringLiteral("out"), {}, QStringLiteral("FILE"));
    parser.addOptions({ambientOpt, certificateOpt, outOpt});

    // --evaluate takes the plan's file when one follows it.
    QStringList given = args;
    QString planFile;
    if (const qsizetype at = given.indexOf(QStringLiteral("--evaluate")); at >= 0 && at + 1 < given.size()
        && !given[at + 1].startsWith(u'-')) {
        planFile = given.takeAt(at + 1);
    }
    // --rescore takes the plan's file when one follows the report.
    QString rescorePlan;
    if (const qsizetype at = given.indexOf(QStringLiteral("--rescore")); at >= 0 && at + 2 < given.size()
        && !given[at + 2].startsWith(u'-')) {
        rescorePlan = given.takeAt(at + 2);
    }

    auto refuse = [](const QString& why) { return ParsedOptions{std::nullopt, why}; };
    if (!parser.parse(QStringList{QString::fromLatin1(kProgramName.data(), qsizetype(kProgramName.size()))} + given))
        return refuse(parser.errorText());

    Options o;
    o.help = parser.isSet(helpOpt);
    o.version = parser.isSet(versionOpt);
    o.printPlan = parser.isSet(printPlanOpt);
    if (o.help || o.version || o.printPlan) return {o, {}};

    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    // An option given twice where only one value makes sense is a mistake
    // the user should hear about, not a silent choice of the last.
    for (const auto* opt : {&comOpt, &formatOpt, &recordOpt, &secondsOpt, &reportOpt, &referenceOpt, &operatorOpt})
        if (parser.values(*opt).size() > 1)
            return refuse(QStringLiteral("--%1 given more than once").arg(opt->names().first()));
    for (const auto* opt : {&equipmentOpt, &historyOpt, &summaryOpt, &sinceOpt, &rescoreOpt, &resultsOpt, &importOpt, &benchOpt,
                            &serveOpt, &serveTokenOpt, &ambientOpt, &certificateOpt, &outOpt})
        if (parser.values(*opt).size() > 1)
            return refuse(QStringLiteral("--%1 given more than once").arg(opt->names().first()));

    if (parser.isSet(resultsOpt)) {
        o.results = parser.value(resultsOpt).trimmed();
        QString why;
        if (o.results.isEmpty()) return refuse(QStringLiteral("--results wants a store: sqlite:PATH, postgresql://HOST/DBNAME or none"));
        if (!store::parseStoreAddress(o.results, &why)) return refuse(why);
    }

    // Reading reports and working on the store open no port: nothing of a
    // run goes with them. Each of these is a program of its own, with the
    // options it takes.
    struct Mode {
        const QCommandLineOption* opt;
        QStringList takes;
    };
    const Mode modes[] = {
        {&historyOpt, {QStringLiteral("summary"), QStringLiteral("board-id"), QStringLiteral("since")}},
        {&rescoreOpt, {QStringLiteral("report")}},
        {&importOpt, {QStringLiteral("results")}},
        {&syncOpt, {QStringLiteral("results")}},
        {&resultsInitOpt, {QStringLiteral("results")}},
        {&serveOpt, {QStringLiteral("results"), QStringLiteral("serve-token-file")}},
        {&certificateOpt, {QStringLiteral("out")}},
    };
    const Mode* mode = nullptr;
    for (const Mode& m : modes) {
        if (!parser.isSet(*m.opt)) continue;
        if (mode)
            return refuse(QStringLiteral("--%1 and --%2 exclude each other").arg(mode->opt->names().first(), m.opt->names().first()));
        mode = &m;
    }
    if (mode) {
        const QString modeName = mode->opt->names().first();
        for (const QString& name : parser.optionNames()) {
            if (name == modeName || mode->takes.contains(name)) continue;
            if (name == u"results" && mode->opt == &rescoreOpt) continue;  // the new report's run is stored
            if (name == u"results" && mode->opt == &historyOpt)
                return refuse(QStringLiteral("--results does not go with --history: name the store as its source, "
                                             "e.g. --history sqlite:results.sqlite"));
            return refuse(QStringLiteral("--%1 does not go with --%2 (which takes %3)")
                              .arg(name, modeName, QStringLiteral("--") + mode->takes.join(QStringLiteral(", --"))));
        }
    }
    if (mode && mode->opt == &importOpt) {
        o.importDir = parser.value(importOpt);
        if (o.importDir.isEmpty()) return refuse(QStringLiteral("--import wants a folder of reports, e.g. --import evaluations"));
        return {o, {}};
    }
    if (mode && mode->opt == &serveOpt) {
        // [ADDRESS:]PORT; an IPv6 address in brackets, as in a URL.
        static const QRegularExpression form(QStringLiteral(R"(^(?:(\[[0-9A-Fa-f:.]+\]|[^:\[\]]+):)?(\d{1,5})$)"));
        const QRegularExpressionMatch m = form.match(parser.value(serveOpt).trimmed());
        const int port = m.hasMatch() ? m.captured(2).toInt() : 0;
        if (port < 1 || port > 65535)
            return refuse(QStringLiteral("--serve wants [ADDRESS:]PORT with a port from 1 to 65535, e.g. --serve 8080 or "
                                         "--serve 0.0.0.0:8080, not \"%1\"").arg(parser.value(serveOpt)));
        o.servePort = port;
        o.serveAddress = m.captured(1).isEmpty() ? QStringLiteral("127.0.0.1") : m.captured(1).remove(u'[').remove(u']');
        o.serveTokenFile = parser.value(serveTokenOpt);
        if (parser.isSet(serveTokenOpt) && o.serveTokenFile.isEmpty())
            return refuse(QStringLiteral("--serve-token-file wants a file whose first line is the token"));
        return {o, {}};
    }
    if (parser.isSet(serveTokenOpt)) return refuse(QStringLiteral("--serve-token-file goes with --serve"));
    if (mode && mode->opt == &certificateOpt) {
        o.certificate = parser.value(certificateOpt);
        o.certificateOut = parser.value(outOpt);
        if (o.certificate.isEmpty()) return refuse(QStringLiteral("--certificate wants a report, e.g. --certificate r.json"));
        return {o, {}};
    }
    if (parser.isSet(outOpt)) return refuse(QStringLiteral("--out goes with --certificate"));
    if (mode && (mode->opt == &syncOpt || mode->opt == &resultsInitOpt)) {
        o.sync = mode->opt == &syncOpt;
        o.resultsInit = mode->opt == &resultsInitOpt;
        return {o, {}};
    }
    if (mode) {
        const bool history = mode->opt == &historyOpt;
        if (history) {
            o.history = parser.value(historyOpt);
            o.summary = parser.value(summaryOpt);
            // One board's runs: a station's several IDs belong to --evaluate.
            if (parser.values(boardIdOpt).size() > 1)
                return refuse(QStringLiteral("--board-id given more than once: --history takes one board's runs"));
            o.historyBoardId = parser.value(boardIdOpt).trimmed();
            if (parser.isSet(boardIdOpt) && o.historyBoardId.isEmpty())
                return refuse(QStringLiteral("--board-id wants an ID, e.g. --board-id SN-0042"));
            if (o.history.isEmpty())
                return refuse(QStringLiteral("--history wants a folder or a store, e.g. --history evaluations"));
            if (namesStore(o.history)) {
                QString why;
                const auto source = store::parseStoreAddress(o.history, &why);
                // The store's reason names --results, the usual way in.
                if (!source) return refuse(QStringLiteral("--history: %1").arg(why.remove(QRegularExpression(QStringLiteral("^--results: ")))));
                if (source->kind == store::StoreAddress::Kind::None)
                    return refuse(QStringLiteral("--history wants a folder or a store, not none"));
            }
            if (o.summary.isEmpty()) return refuse(QStringLiteral("--history wants --summary NAME, e.g. --summary batch-12"));
            if (parser.isSet(sinceOpt)) {
                const QDate since = QDate::fromString(parser.value(sinceOpt), Qt::ISODate);
                if (!since.isValid() || parser.value(sinceOpt).size() != 10)
                    return refuse(QStringLiteral("--since wants a day as YYYY-MM-DD, not \"%1\"").arg(parser.value(sinceOpt)));
                o.since = since;
            }
        } else {
            o.rescore = parser.value(rescoreOpt);
            o.rescorePlan = rescorePlan;
            o.report = parser.value(reportOpt);
            if (o.rescore.isEmpty()) return refuse(QStringLiteral("--rescore wants a report, e.g. --rescore r.json"));
            if (o.report.isEmpty()) return refuse(QStringLiteral("--rescore wants --report NAME for the new report"));
        }
        return {o, {}};
    }
    if (!rescorePlan.isEmpty()) return refuse(QStringLiteral("unexpected argument \"%1\"").arg(rescorePlan));
    for (const auto* opt : {&summaryOpt, &sinceOpt})
        if (parser.isSet(*opt)) return refuse(QStringLiteral("--%1 goes with --history").arg(opt->names().first()));
    // Several ports are a station's boards, each with its own ID.
    o.ports = parser.values(portOpt);
    if (o.ports.size() > 1 && !parser.isSet(evaluateOpt))
        return refuse(QStringLiteral("--port given more than once: several ports go with --evaluate, a board on each"));
    if (o.ports.size() > 8) return refuse(QStringLiteral("--port given %1 times: a station takes at most 8 boards").arg(o.ports.size()));
    for (qsizetype i = 0; i < o.ports.size(); ++i)
        if (o.ports.indexOf(o.ports[i]) != i) return refuse(QStringLiteral("--port %1 given twice").arg(o.ports[i]));
    if (parser.isSet(boardIdOpt)) {
        if (!parser.isSet(evaluateOpt))
            return refuse(QStringLiteral("--board-id goes with --evaluate (a board's ID, after its --port) "
                                         "or with --history (only that board's runs)"));
        QStringList valued;
        for (const QCommandLineOption& opt : {portOpt, comOpt, sendOpt, formatOpt, recordOpt, secondsOpt, reportOpt,
                                              referenceOpt, operatorOpt, boardIdOpt, resultsOpt})
            valued << opt.names();
        if (const QString why = pairBoardIds(given, valued, o.ports.size(), &o.boardIds); !why.isEmpty()) return refuse(why);
    }
    while (o.boardIds.size() < std::max<qsizetype>(1, o.ports.size())) o.boardIds << QString();

    if (parser.isSet(portOpt) && parser.isSet(comOpt)) return refuse(QStringLiteral("--port and --com exclude each other"));
    if (parser.isSet(portOpt)) {
        o.port = Options::Port::Device;
        o.device = o.ports.first();
        if (o.ports.contains(QString())) return refuse(QStringLiteral("--port wants a device, e.g. --port /dev/ttyUSB0"));
    } else if (parser.isSet(comOpt)) {
        bool ok = false;
        o.com = parser.value(comOpt).toInt(&ok);
        if (!ok || o.com < 1 || o.com > 8)
            return refuse(QStringLiteral("--com wants a port number from 1 to 8, not \"%1\"").arg(parser.value(comOpt)));
        o.port = Options::Port::Com;
    }

    o.setup = !parser.isSet(noSetupOpt);
    for (const QString& text : parser.values(sendOpt)) {
        const auto command = commandNamed(text);
        if (!command)
            return refuse(QStringLiteral("--send \"%1\" is not a command of the board (%2)").arg(text, commandList()));
        o.sends.push_back(*command);
    }

    if (parser.isSet(formatOpt)) {
        const QString format = parser.value(formatOpt);
        if (format == u"text") o.format = Format::Text;
        else if (format == u"csv") o.format = Format::Csv;
        else return refuse(QStringLiteral("--format wants text or csv, not \"%1\"").arg(format));
    }
    o.waveform = parser.isSet(waveformOpt);
    if (o.waveform && o.format != Format::Csv)
        return refuse(QStringLiteral("--waveform goes with --format csv (text lines have no waveform)"));

    if (parser.isSet(recordOpt)) {
        o.record = parser.value(recordOpt);
        if (o.record.isEmpty()) return refuse(QStringLiteral("--record wants a file name, e.g. --record run.csv"));
    }

    if (parser.isSet(secondsOpt)) {
        bool ok = false;
        const double seconds = parser.value(secondsOpt).toDouble(&ok);
        // A timer counts milliseconds in an int.
        const double most = std::numeric_limits<int>::max() / 1000.0;
        if (!ok || !(seconds > 0) || seconds > most)
            return refuse(QStringLiteral("--seconds wants a number of seconds above 0 and at most %1, not \"%2\"")
                              .arg(static_cast<qint64>(most))
                              .arg(parser.value(secondsOpt)));
        o.milliseconds = std::max<qint64>(1, std::llround(seconds * 1000.0));
    }
    if (const QString why = evaluateOptions(parser.isSet(evaluateOpt), planFile, parser.value(reportOpt),
                                            parser.value(referenceOpt), parser.value(operatorOpt), &o);
        !why.isEmpty())
        return refuse(why);
    if (parser.isSet(equipmentOpt)) {
        if (!o.evaluate) return refuse(QStringLiteral("--reference-equipment goes with --evaluate"));
        o.referenceEquipment = parser.value(equipmentOpt);
    }
    if (parser.isSet(benchOpt)) {
        if (!o.evaluate) return refuse(QStringLiteral("--bench goes with --evaluate"));
        o.bench = parser.value(benchOpt).trimmed();
        if (o.bench.isEmpty()) return refuse(QStringLiteral("--bench wants a name, e.g. --bench bench-3"));
    }
    if (parser.isSet(ambientOpt)) {
        if (!o.evaluate) return refuse(QStringLiteral("--ambient goes with --evaluate"));
        o.ambient = parser.value(ambientOpt).trimmed();
    }
    if (!o.results.isEmpty() && !o.evaluate)
        return refuse(QStringLiteral("--results goes with --evaluate, --rescore, --import, --sync, --results-init or --serve"));
    return {o, {}};
}

QString helpText()
{
    return QStringLiteral(R"(Usage: quorvid-monitor [OPTIONS]

Opens one serial port, puts the IBP board into the state the Quorvid window
starts with, and prints what the board sends, one line per event, until
Ctrl-C, SIGTERM or --seconds; then closes the port and exits.

The port (one of):
  --port DEVICE   open DEVICE as it stands (a path such as /dev/ttyUSB0 or a
                  pseudo-terminal; on Windows a COM name such as COM5); up to
                  8 times with --evaluate, a board on each (a station)
  --com N         port COM1 to COM8 by its number N, through the same map
                  as the window: the device in QUORVID_COM<N> if any of
                  QUORVID_COM1..8 is set, else the N-th serial port the
                  system reports (USB adapters first)
  (neither)       the first of COM1 to COM8 that opens, as the window's
                  start-up probe finds it

Commands to the board:
  --no-setup      do not send the start-up state (S1, O, 5: speed 100, normal
                  operation, 50 Hz filter), which is otherwise sent first
  --send CMD      send CMD after that; repeatable, sent in order 10 ms apart.
                  CMD is one of I, O, M, 5, 6, Z1, Z2, Z3, S0, S1, S2
  Lines typed on standard input while it runs are sent the same way when
  they are one of these commands (lower case is taken too); anything else
  gets a line on standard error and is not sent. The end of standard input
  ends nothing. A line longer than 256 bytes is refused; input that is not
  text (a NUL byte) is read no more; nothing is read while the monitor runs
  in the background of its terminal.

Output:
  --format text   (the default) lines for people, local time first:
                    09:56:02.123  ch1 120/80 (93)  ch2 25/10 (15)  pulse 75
                    09:56:03.001  status  Normal Operation | Zeroing...
                    09:56:03.500  identification  <text>
                  a values line per values frame (systolic/diastolic (mean)
                  in mmHg, pulse per minute), a status line when either
                  channel's status changes, an identification line per
                  identification frame; every 10 s and at the end a line of
                  link figures:
                    09:56:12.000  link  960 B/s  100 waveform/s  frames: 1000
                    waveform, 13 values, 10 status, 0 identification  outside
                    frames 0 B  too short 0
                  (one line; rates over the last 10 s, over the whole run on
                  the last line; frame counts and bytes outside any frame
                  since the start; frames too short for their kind are not
                  shown, only counted)
  --format csv    the recording's CSV: its header, then a row per values,
                  status and identification frame the window would show, as
                  the frames come
  --waveform      with --format csv: waveform rows too (100 or 150 a second)
  --record NAME.csv
                  also write a recording, as the window's File > Record does:
                  NAME.csv and NAME.bytes side by side, whatever is printed
  --seconds N     end after N seconds (decimals allowed)

Evaluation (see the README's evaluation section):
  --evaluate [PLAN.toml]
                  run the plan's checks (the default plan without a file)
                  instead of printing lines: progress lines as it goes, a
                  summary at the end; records NAME.csv and NAME.bytes and
                  reports in NAME.json, NAME.html and NAME.xml (JUnit)
  --report NAME   the name of those files; needed with --evaluate
  --reference-command CMD
                  sets each reference by running CMD through the shell, with
                  {ch1}, {ch2} and {rate} replaced (e.g. "static 100",
                  "arterial 120/80", 60); without it each reference is asked
                  for on standard error and Enter measures ("s" Enter skips,
                  "a" Enter aborts)
  --operator TEXT the operator's name for the report
  --reference-equipment TEXT
                  what set the references (e.g. the calibrator, its serial
                  number and calibration due date), for the report's header;
                  a station's boards share it, and its summary names it
  --bench NAME    the bench that runs it, for the report and the store
                  (bench); without it QUORVID_BENCH, else the host name
  --board-id ID   the board's serial number or asset tag for its report
                  (board_id; without it the port's name stands in); after
                  each --port when there are several
  A station: --port A --board-id SN1 --port B --board-id SN2 ... runs the
  plan on every board in step, each reference set once for all and every
  board measuring over the same interval; a board whose port does not
  open, that does not identify itself or whose port goes away fails alone.
  Each board's files are NAME-ID.csv, .bytes, .json, .html and .xml (the ID
  with every character but letters, digits, '.', '_' and '-' made '_');
  NAME.json, NAME.html and NAME.xml sum the station up. Result lines start
  with the board's ID; the summary ends with a line per board and the
  station's verdict
  --ambient TEXT  the ambient conditions of the run ("23 °C, 45 %RH"), for
                  its certificate
  --print-plan    print the default plan as commented TOML and exit

History and judging again (no port is opened):
  --history SOURCE
                  read every evaluation report under SOURCE, a folder (its
                  folders too), or every run of a store (sqlite:PATH,
                  postgresql://...), and write a summary: the runs oldest
                  first, and for each result across runs its mean, SD,
                  smallest and largest error, the worst board, the share
                  passed, the MARGINAL ones and the Cpk; files that are not
                  readable reports are listed as skipped, with why
  --summary NAME  the summary's files: NAME.json, NAME.csv and NAME.html;
                  needed with --history
  --board-id ID   with --history: only that board's runs (a report without
                  a board ID counts as its port's)
  --since YYYY-MM-DD
                  with --history: only runs started that day (UTC) or after
  --rescore REPORT.json [PLAN.toml] --report NAME
                  judge a past run again: its recording's .bytes must have
                  the SHA-256 its report names; every figure is computed again
                  from it over each result's interval and judged against the
                  limits of PLAN (default: the plan stored in the report),
                  which may change limits, tolerances, marginal_percent and
                  sources but asks for nothing the run did not measure; the
                  new report is NAME.json, NAME.html, NAME.xml

The results database (see the README's results database section):
  --results STORE where --evaluate, a station and --rescore store each run
                  once its report files are written, and what the three
                  options below work on: sqlite:PATH, postgresql://[USER[:
                  PASSWORD]@]HOST[:PORT]/DBNAME[?sslmode=MODE] or none (no
                  store, no outbox). Without it, the store QUORVID_RESULTS
                  names, else the bench's own Quorvid/results.sqlite in the
                  data folder, which the window shares. A run the store
                  cannot take waits in the outbox (one line on standard
                  error says so) and goes with the next run or --sync; the
                  exit status stays the run's. A password is best left to
                  PGPASSWORD or the password file; it is never printed
  --results-init  create the store's tables, or upgrade older ones, and say
                  which; safe to run again
  --sync          send the runs waiting in the outbox for the store, each
                  once, and say how many went
  --certificate REPORT.json [--out FILE.pdf]
                  the certificate of a stored report as a PDF (A4, PDF/A-1b),
                  its figures as the report has them (an older report's
                  uncertainties "not stated"); FILE defaults to the report's
                  NAME.pdf. --evaluate and --rescore write NAME.pdf themselves
  --import DIR    store every report under DIR (read as --history DIR reads
                  them) and say how many were stored, already present and
                  skipped

The line's view (see the README's section of that name):
  --serve [ADDRESS:]PORT
                  serve a live page and a JSON API (/api/v1/) over the store
                  (--results, as above) until Ctrl-C or SIGTERM; read-only,
                  looking at most every 5 s whether the store changed. It
                  listens on 127.0.0.1 unless ADDRESS is given; beyond the
                  loopback without a token it warns once
  --serve-token-file FILE
                  with --serve: every API request needs "Authorization:
                  Bearer TOKEN", TOKEN the file's first line, trimmed
  -h, --help      this text
  -v, --version   the program's version

Exit status:
  0  ended as asked: Ctrl-C, SIGTERM or --seconds, or standard output was
     closed (as by | head); a second Ctrl-C ends at once
  1  the port was lost while running (the reason is on standard error)
  2  usage error, or a recording file that cannot be created
  3  no port could be opened (the port, its device and the system's reason
     are on standard error)
  4  recording failed: a write was refused (disk full, file too large);
     printing went on, both files end with their last whole line
  5  --evaluate, --rescore: a check failed, or the evaluation ended early;
     with several ports: any board failed
  With --history: 0 written, 1 the folder or the store cannot be read, 2
  usage or a summary file that cannot be written. With --rescore: 0 or 5 as a run, 1 the report or
  its recording cannot be read, the recording is not the report's, or the
  plan asks for what the run did not measure (nothing is written), 2 usage,
  a plan file refused or a report file that cannot be written. A run that
  went to the outbox keeps its own status. With --results-init, --sync and
  --import: 0 done (--sync: nothing left waiting; --import: every report
  stored or already there, files that are not reports skipped), 1 the store
  cannot be reached or refused it (--sync: runs left waiting; --import: DIR
  cannot be read), 2 usage.
)");
}

}  // namespace quorvid::monitor
