// The program's command line as a table: arguments in, action, port, recording
// file, the one line of a usage error and the exit status out.
#include "commandline.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "qtprinters.h"

using quorvid::CommandLine;
using quorvid::parseCommandLine;
using Action = CommandLine::Action;

namespace {

struct Case {
    QStringList args;  // after the program's name
    Action action;
    QString port;
    QString record;
    QString error;  // the whole line for an error
};

const QString kSeeHelp = QStringLiteral(" (see quorvid --help)");

QString err(const char* what) { return QStringLiteral("quorvid: ") + QString::fromUtf8(what) + kSeeHelp; }

const Case kCases[] = {
    {{}, Action::Run, {}, {}, {}},
    {{"--port", "/dev/pts/3"}, Action::Run, "/dev/pts/3", {}, {}},
    {{"--port=/dev/ttyUSB0"}, Action::Run, "/dev/ttyUSB0", {}, {}},
    {{"--record", "run 1.csv"}, Action::Run, {}, "run 1.csv", {}},
    {{"--record=x.csv", "--port", "/tmp/board"}, Action::Run, "/tmp/board", "x.csv", {}},
    // Qt's own options are QApplication's, with one dash or two, value apart or after "=".
    {{"-platform", "offscreen", "--port", "/dev/pts/1"}, Action::Run, "/dev/pts/1", {}, {}},
    {{"--platform", "offscreen", "-style=fusion", "-reverse"}, Action::Run, {}, {}, {}},
    {{"-qmljsdebugger=port:5555", "-style", "fusion", "--record", "a.csv"}, Action::Run, {}, "a.csv", {}},
    // Qt reads "-platform" only with its value apart.
    {{"--platform=offscreen"}, Action::Error, {}, {}, err("Unknown option 'platform'")},
    {{"-display", ":1", "-geometry", "+10+10", "-stylesheet", "x.qss"}, Action::Run, {}, {}, {}},
    // A Qt option's value is not read as one of ours.
    {{"-title", "--record"}, Action::Run, {}, {}, {}},
    {{"--help"}, Action::Help, {}, {}, {}},
    {{"-h"}, Action::Help, {}, {}, {}},
    {{"-platform", "offscreen", "--help"}, Action::Help, {}, {}, {}},
    {{"--port", "/dev/x", "--help"}, Action::Help, {}, {}, {}},
    {{"--version"}, Action::Version, {}, {}, {}},
    {{"-v"}, Action::Version, {}, {}, {}},
    {{"-platform", "offscreen", "--version", "--record", "a.csv"}, Action::Version, {}, {}, {}},
    // Usage errors: one line naming what is wrong.
    {{"--bogus"}, Action::Error, {}, {}, err("Unknown option 'bogus'")},
    {{"--bogus", "--help"}, Action::Error, {}, {}, err("Unknown option 'bogus'")},
    {{"-x"}, Action::Error, {}, {}, err("Unknown option 'x'")},
    {{"--port"}, Action::Error, {}, {}, err("Missing value after '--port'")},
    {{"--record"}, Action::Error, {}, {}, err("Missing value after '--record'")},
    {{"--port", ""}, Action::Error, {}, {}, err("Empty value after '--port'")},
    {{"--record="}, Action::Error, {}, {}, err("Empty value after '--record'")},
    {{"--port", "a", "--port", "b"}, Action::Error, {}, {}, err("'--port' given more than once")},
    {{"/dev/ttyUSB0"}, Action::Error, {}, {}, err("unexpected argument '/dev/ttyUSB0'")},
    {{"--", "--port"}, Action::Error, {}, {}, err("unexpected argument '--port'")},
    // A Qt option that wants a value and has none is not Qt's to take quietly.
    {{"-platform"}, Action::Run, {}, {}, {}},
};

}  // namespace

TEST(CommandLine, EachOptionAndEachError)
{
    for (const Case& c : kCases) {
        const QStringList args = QStringList{QStringLiteral("quorvid")} + c.args;
        SCOPED_TRACE(args.join(u' ').toStdString());
        const CommandLine got = parseCommandLine(args);
        EXPECT_EQ(got.action, c.action);
        EXPECT_EQ(got.port, c.port);
        EXPECT_EQ(got.record, c.record);
        EXPECT_EQ(got.error, c.error);
        EXPECT_FALSE(got.error.contains(u'\n'));
        EXPECT_EQ(got.exitStatus(), c.action == Action::Error ? 2 : 0);
    }
}

TEST(CommandLine, HelpNamesEveryOptionAndVersionTheProgram)
{
    const QString help = quorvid::helpText();
    for (const char* option : {"--help", "--version", "--port <device>", "--record <file>", "-platform"})
        EXPECT_TRUE(help.contains(QString::fromLatin1(option))) << option;
    EXPECT_TRUE(help.endsWith(u'\n'));
    EXPECT_EQ(quorvid::versionText(), QStringLiteral("quorvid " QUORVID_VERSION "\n"));
}
