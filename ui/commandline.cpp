#include "commandline.h"

#include "csvtable.h"
#include "reviewcommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace quorvid {

namespace {

const QCommandLineOption kHelp({QStringLiteral("h"), QStringLiteral("help")},
                               QStringLiteral("Show this help and exit."));
const QCommandLineOption kVersion({QStringLiteral("v"), QStringLiteral("version")},
                                  QStringLiteral("Show the program's version and exit."));
const QCommandLineOption kPort(
    QStringLiteral("port"),
    QStringLiteral("Make <device> COM1, opened as it stands, as QUORVID_COM1=<device> does; "
                   "COM2 to COM8 then name nothing unless their QUORVID_COMn is set."),
    QStringLiteral("device"));
const QCommandLineOption kRecord(
    QStringLiteral("record"),
    QStringLiteral("Record from start-up into <file>.csv and the .bytes file beside it, as "
                   "File > Record does."),
    QStringLiteral("file"));

const QCommandLineOption kReview(
    QStringLiteral("review"),
    QStringLiteral("Open the recording <file> (.bytes, or a .csv without its .bytes) in a review window; "
                   "with --export-csv, --export-png or --stats, write those and open no window."),
    QStringLiteral("file"));
const QCommandLineOption kRange(QStringLiteral("range"),
                                QStringLiteral("The review's range, in seconds from the start (both ends included)."),
                                QStringLiteral("from:to"));
const QCommandLineOption kExportCsv(QStringLiteral("export-csv"),
                                    QStringLiteral("Write the recording's CSV rows in the range to <file>."),
                                    QStringLiteral("file"));
const QCommandLineOption kExportPng(QStringLiteral("export-png"),
                                    QStringLiteral("Draw the range as the review window does into <file>."),
                                    QStringLiteral("file"));
const QCommandLineOption kStats(QStringLiteral("stats"),
                                QStringLiteral("Print the range's statistics as JSON on standard output."));

void describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Shows what a two-channel IBP board sends on a serial port (9600 8N1) and drives it.\n"
        "Qt's own options (-platform NAME, -style NAME, -reverse, ...) are accepted too."));
    parser.addOption(kHelp);
    parser.addOption(kVersion);
    parser.addOption(kPort);
    parser.addOption(kRecord);
    for (const auto* option : {&kReview, &kRange, &kExportCsv, &kExportPng, &kStats}) parser.addOption(*option);
}

// The option's name without its dashes and any "=value", or empty for an
// argument that is not an option.
QString optionName(const QString& argument)
{
    if (!argument.startsWith(u'-') || argument == QStringLiteral("-")) return {};
    QString name = argument.mid(argument.startsWith(QStringLiteral("--")) ? 2 : 1);
    return name.left(name.indexOf(u'='));
}

// The arguments less Qt's own options and their values, as QApplication will
// leave them.
QStringList withoutQtOptions(const QStringList& arguments)
{
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (i == 0) {
            kept << argument;
            continue;
        }
        if (argument == QStringLiteral("--")) {
            kept << arguments.mid(i);
            break;
        }
        const QString name = optionName(argument);
        const bool joined = argument.contains(u'=');
        if (!name.isEmpty() && qtFlagOptions().contains(name) && (!joined || name == u"qmljsdebugger")) continue;
        if (!name.isEmpty() && qtOptionsWithValue().contains(name)) {
            // Qt takes "-style=fusion" and "-stylesheet=x.qss" only; any other
            // "-name=value" is not its option, and is an error here too.
            if (!joined) {
                ++i;  // its value is the next argument
                continue;
            }
            if (name == u"style" || name == u"stylesheet") continue;
        }
        kept << argument;
    }
    return kept;
}

}  // namespace

const QStringList& qtOptionsWithValue()
{
    // QGuiApplication's and the X11 platform's ("-display", "-geometry", ...),
    // then QApplication's.
    static const QStringList names = {
        QStringLiteral("platform"),  QStringLiteral("platformpluginpath"),
        QStringLiteral("platformtheme"), QStringLiteral("plugin"),
        QStringLiteral("qwindowgeometry"), QStringLiteral("geometry"),
        QStringLiteral("qwindowtitle"), QStringLiteral("title"),
        QStringLiteral("qwindowicon"), QStringLiteral("icon"),
        QStringLiteral("session"), QStringLiteral("display"),
        QStringLiteral("name"), QStringLiteral("style"), QStringLiteral("stylesheet"),
    };
    return names;
}

const QStringList& qtFlagOptions()
{
    static const QStringList names = {
        QStringLiteral("reverse"), QStringLiteral("testability"), QStringLiteral("nograb"),
        QStringLiteral("dograb"), QStringLiteral("sync"), QStringLiteral("widgetcount"),
        QStringLiteral("qdevel"), QStringLiteral("qmljsdebugger"),
    };
    return names;
}

CommandLine parseCommandLine(const QStringList& arguments)
{
    CommandLine result;
    auto refuse = [&result](const QString& what) {
        result.action = CommandLine::Action::Error;
        result.error = QStringLiteral("quorvid: %1 (see quorvid --help)").arg(what);
        return result;
    };

    QCommandLineParser parser;
    describe(parser);
    const QStringList ours = withoutQtOptions(arguments.isEmpty() ? QStringList{QStringLiteral("quorvid")}
                                                                  : arguments);
    if (!parser.parse(ours)) {
        // Qt's text ends in a full stop: "Unknown option 'x'.", "Missing value after '--port'."
        QString text = parser.errorText();
        if (text.endsWith(u'.')) text.chop(1);
        return refuse(text);
    }
    // Help first: "quorvid --bogus --help" has already failed above, but
    // "quorvid --port --help" takes "--help" as the device, as Qt reads it.
    if (parser.isSet(kHelp)) {
        result.action = CommandLine::Action::Help;
        return result;
    }
    if (parser.isSet(kVersion)) {
        result.action = CommandLine::Action::Version;
        return result;
    }
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    for (const auto* option : {&kPort, &kRecord, &kReview, &kRange, &kExportCsv, &kExportPng}) {
        const QString name = option->names().first();
        if (parser.values(*option).size() > 1)
            return refuse(QStringLiteral("'--%1' given more than once").arg(name));
        if (parser.isSet(*option) && parser.value(*option).isEmpty())
            return refuse(QStringLiteral("Empty value after '--%1'").arg(name));
    }
    result.port = parser.value(kPort);
    result.record = parser.value(kRecord);
    result.review = parser.value(kReview);
    result.range = parser.value(kRange);
    result.exportCsv = parser.value(kExportCsv);
    result.exportPng = parser.value(kExportPng);
    result.stats = parser.isSet(kStats);
    if (result.review.isEmpty()) {
        for (const auto* option : {&kRange, &kExportCsv, &kExportPng, &kStats})
            if (parser.isSet(*option)) return refuse(QStringLiteral("'--%1' needs '--review'").arg(option->names().first()));
    } else if (!result.record.isEmpty()) {
        return refuse(QStringLiteral("'--review' and '--record' cannot go together"));
    } else if (!result.range.isEmpty() && !review::parseRange(result.range)) {
        return refuse(QStringLiteral("'--range' takes FROM:TO in seconds, FROM not after TO, not '%1'").arg(result.range));
    }
    return result;
}

QString helpText()
{
    QCommandLineParser parser;
    describe(parser);
    return parser.helpText();
}

QString versionText()
{
    return QStringLiteral("quorvid %1\n").arg(QStringLiteral(QUORVID_VERSION));
}

ReviewRequest CommandLine::reviewRequest() const
{
    return {review, range, exportCsv, exportPng, stats};
}

}  // namespace quorvid
