// File > Record in the window, against the scripted control: the files a short
// session leaves, the title and the menu item while recording and after, notes
// for port changes, refused and failing files, the save dialog, and the end of
// the program closing the files.
#include "bytesreader.h"
#include "csvrows.h"
#include "fakeserialcontrol.h"
#include "form1.h"
#include "recorder.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "platform.h"
#include "qtprinters.h"

using namespace quorvid;

namespace {

QByteArray bytes(const ByteString& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size())); }

QByteArray waveform(int s1, int s2)
{
    return bytes(encodeWaveform({static_cast<std::int16_t>(s1), static_cast<std::int16_t>(s2)}));
}
const Values kValues{.sys1 = 121, .map1 = 93, .dia1 = 79, .sys2 = 26, .map2 = 15, .dia2 = 9, .pulse = 74};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The CSV's rows below the header, each split into fields (no quoted fields
// in these sessions).
QList<QStringList> csvRows(const QString& path)
{
    const QByteArray text = readAll(path);
    QList<QStringList> rows;
    const QList<QByteArray> lines = text.split('\n');
    EXPECT_TRUE(text.endsWith('\n')) << "whole lines only";
    EXPECT_EQ(lines.value(0).toStdString(), std::string(record::kCsvHeader));
    for (qsizetype i = 1; i + 1 < lines.size(); ++i) rows << QString::fromUtf8(lines[i]).split(u',');
    return rows;
}

QStringList kinds(const QList<QStringList>& rows)
{
    QStringList out;
    for (const QStringList& r : rows) out << r.value(2);
    return out;
}

class Recording : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        comm.setOpenablePorts({1, 2});
        form.Form_Load();
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        QCoreApplication::processEvents();
        ASSERT_EQ(comm.openPort(), 1);
    }
    void TearDown() override
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w)) delete w;
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QString text(const char* label) const { return form.findChild<QLabel*>(QString::fromLatin1(label))->text(); }
    // The message window's text, or empty when none is shown.
    QString message() const
    {
        QMessageBox* box = form.messageWindow();
        if (!box || !box->isVisible()) return {};
        EXPECT_EQ(box->windowModality(), Qt::NonModal);
        return box->text();
    }
    void expectNotRecording()
    {
        EXPECT_FALSE(form.isRecording());
        EXPECT_EQ(form.windowTitle(), QStringLiteral("Quorvid"));
        EXPECT_EQ(form.recordItem()->text(), QStringLiteral("&Record..."));
        EXPECT_EQ(form.framer().frameObserver(), nullptr);
    }

    QTemporaryDir dir;
    FakeSerialControl comm;
    Form1 form{comm};
};

}  // namespace

TEST_F(Recording, ASessionBecomesRowsAndBlocksAndTheWindowShowsWhatItWould)
{
    expectNotRecording();
    EXPECT_EQ(form.recordItem()->objectName(), QStringLiteral("menRecord"));
    ASSERT_TRUE(form.startRecording(path("session.csv")));
    EXPECT_TRUE(form.isRecording());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Quorvid - recording session.csv"));
    EXPECT_EQ(form.recordItem()->text(), QStringLiteral("Stop &Recording"));  // reads "Stop Recording"

    // Junk before the first header, a frame split over two blocks, a values
    // frame completed by the next block's header.
    const QByteArray blocks[] = {
        "\x01\x02" + waveform(180, 110).left(2),
        waveform(180, 110).mid(2) + waveform(181, 111) + bytes(encodeValues(kValues)),
        bytes(encodeStatus({0, 7})) + waveform(182, 112),
    };
    for (const QByteArray& b : blocks) comm.deliver(b);
    form.Val_Update_Timer();
    EXPECT_EQ(text("SYS1"), QStringLiteral("121"));
    EXPECT_EQ(text("PULSE"), QStringLiteral("74"));

    form.stopRecording();
    expectNotRecording();
    comm.deliver(waveform(183, 113) + waveform(184, 114));  // after the stop: in no file

    const QList<QStringList> rows = csvRows(path("session.csv"));
    EXPECT_EQ(kinds(rows), (QStringList{"waveform", "waveform", "values", "status"}));
    for (const QStringList& r : rows) EXPECT_EQ(r.size(), 15);
    EXPECT_EQ(rows.value(0).mid(3, 2), (QStringList{"80", "10"}));
    EXPECT_EQ(rows.value(2).mid(5, 7), (QStringList{"121", "93", "79", "26", "15", "9", "74"}));

    QString error;
    const auto recorded = record::readBytesFile(path("session.bytes"), &error);
    ASSERT_TRUE(recorded) << error.toStdString();
    ASSERT_EQ(recorded->blocks.size(), std::size(blocks));
    for (std::size_t i = 0; i < std::size(blocks); ++i) EXPECT_EQ(recorded->blocks[i].bytes, blocks[i]) << i;
    const QString comments = recorded->comments.join(u'\n');
    EXPECT_TRUE(comments.contains(QStringLiteral("port COM1 (fake1)"))) << comments.toStdString();
    EXPECT_TRUE(comments.contains(QStringLiteral("program quorvid " QUORVID_VERSION))) << comments.toStdString();
}

TEST_F(Recording, GoesOnAcrossPortSwitchesAndLossesWithANoteForEach)
{
    ASSERT_TRUE(form.startRecording(path("ports.csv")));
    comm.deliver(waveform(150, 120) + waveform(151, 121));
    form.portItem(2)->trigger();
    ASSERT_EQ(comm.openPort(), 2);
    comm.deliver(waveform(152, 122) + waveform(153, 123));
    comm.lose(QStringLiteral("the device was removed"));
    form.setCOM3_Click();  // refused: nothing behind it (its menu item is disabled)
    EXPECT_TRUE(form.isRecording());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Quorvid - recording ports.csv"));
    form.stopRecording();

    QString error;
    const auto recorded = record::readBytesFile(path("ports.bytes"), &error);
    ASSERT_TRUE(recorded) << error.toStdString();
    QStringList notes;  // the comments after the start's, without their times
    for (const QString& c : recorded->comments.mid(3)) notes << c.section(u' ', 1);
    ASSERT_EQ(notes.size(), 3) << recorded->comments.join(u'\n').toStdString();
    EXPECT_EQ(notes[0], QStringLiteral("port COM2 (fake2)"));
    EXPECT_EQ(notes[1], QStringLiteral("port lost: the device was removed"));
    EXPECT_TRUE(notes[2].startsWith(QStringLiteral("port COM3 (fake3) not opened: "))) << notes[2].toStdString();
    EXPECT_EQ(kinds(csvRows(path("ports.csv"))), (QStringList{"waveform", "waveform", "waveform"}));
}

TEST_F(Recording, AFolderThatIsNotThereIsRefusedWithTheReason)
{
    QString error;
    EXPECT_FALSE(form.startRecording(path("missing/x.csv"), &error));
    expectNotRecording();
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(path("missing/x.csv")))) << error.toStdString();
    EXPECT_TRUE(error.contains(test::noSuchFolderText())) << error.toStdString();
    EXPECT_TRUE(message().contains(error)) << message().toStdString();
    EXPECT_FALSE(QFile::exists(path("missing")));
}

TEST_F(Recording, AFileThatRefusesWritesEndsTheRecordingWithAMessage)
{
    if (!QFile::exists(QStringLiteral("/dev/full"))) GTEST_SKIP() << "no /dev/full here";
    // Refused at the periodic write, and at the write of a stop.
    for (const bool byStop : {false, true}) {
        SCOPED_TRACE(byStop ? "stop" : "periodic write");
        const QString csv = path(byStop ? "b.csv" : "a.csv");
        ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), csv));
        ASSERT_TRUE(form.startRecording(csv));
        comm.deliver(waveform(150, 120) + waveform(151, 121));
        if (byStop) form.stopRecording();
        else form.recorder()->flush();
        expectNotRecording();
        EXPECT_TRUE(message().contains(csv)) << message().toStdString();
        EXPECT_TRUE(message().contains(QStringLiteral("No space left on device"))) << message().toStdString();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        // The window goes on showing the board.
        comm.deliver(bytes(encodeValues(kValues)) + waveform(152, 122));
        form.Val_Update_Timer();
        EXPECT_EQ(text("SYS1"), QStringLiteral("121"));
        form.findChild<QLabel*>(QStringLiteral("SYS1"))->setText(QStringLiteral("0"));
    }
}

TEST_F(Recording, TheMenuAsksForAFileProposingTheTimeAndTheLastFolder)
{
    // The user's Documents folder, as the desktop's user-dirs.dirs names it
    // (on Windows the known folder itself).
    const test::DocumentsFolder documentsFolder(dir.filePath(QStringLiteral("Documents")));
    const QString documents = documentsFolder.path();
    ASSERT_TRUE(QDir(documents).exists()) << documents.toStdString();
    ASSERT_EQ(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), documents);

    EXPECT_EQ(Form1::proposedRecordingName(QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3))),
              QStringLiteral("quorvid-20261207-090503.csv"));

    form.recordItem()->trigger();
    QFileDialog* dialog = form.recordDialog();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_NE(dialog->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->directory().absolutePath(), QDir(documents).absolutePath());
    const QStringList proposed = dialog->selectedFiles();
    ASSERT_EQ(proposed.size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^quorvid-\\d{8}-\\d{6}\\.csv$"))
                    .match(QFileInfo(proposed[0]).fileName())
                    .hasMatch())
        << proposed[0].toStdString();

    // While it asks, what arrives is still shown.
    comm.deliver(bytes(encodeValues(kValues)) + waveform(150, 120));
    EXPECT_TRUE(QTest::qWaitFor([&] { return text("SYS1") == QStringLiteral("121"); }, 2000));

    // As a user does: go to the folder and type the name.
    dialog->setDirectory(dir.path());
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_TRUE(name);
    name->setText(QStringLiteral("menu.csv"));
    static_cast<QDialog*>(dialog)->accept();  // as its Save button does
    EXPECT_TRUE(form.isRecording());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Quorvid - recording menu.csv"));
    form.recordItem()->trigger();  // Stop Recording
    expectNotRecording();
    EXPECT_TRUE(QFile::exists(path("menu.bytes")));

    // The next recording is proposed in the folder used last.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    form.recordItem()->trigger();
    ASSERT_TRUE(form.recordDialog());
    EXPECT_EQ(form.recordDialog()->directory().absolutePath(), QDir(dir.path()).absolutePath());
    form.recordDialog()->reject();
    EXPECT_FALSE(form.isRecording());
}

// Either file of a recording already there: asked once, naming both; nothing
// is replaced before the answer.
TEST_F(Recording, ReplacingAnEarlierRecordingIsAskedOnceNamingBothFiles)
{
    for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
        QFile earlier(path("again.bytes"));
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        earlier.write("# earlier\n");
        earlier.close();
        form.recordItem()->trigger();
        QFileDialog* dialog = form.recordDialog();
        ASSERT_TRUE(dialog);
        dialog->setDirectory(dir.path());
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("again.csv"));
        static_cast<QDialog*>(dialog)->accept();
        auto* ask = form.findChild<QMessageBox*>(QStringLiteral("replaceRecording"));
        ASSERT_TRUE(ask) << "not asked";
        EXPECT_TRUE(ask->text().contains(QLatin1String("again.csv or again.bytes"))) << ask->text().toStdString();
        EXPECT_FALSE(form.isRecording());
        ask->button(answer)->click();
        EXPECT_EQ(form.isRecording(), answer == QMessageBox::Yes);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        form.stopRecording();
        EXPECT_EQ(readAll(path("again.bytes")).startsWith("# earlier"), answer == QMessageBox::No);
    }
}

TEST_F(Recording, EndingTheProgramClosesTheFilesWithEverythingInThem)
{
    ASSERT_TRUE(form.startRecording(path("end.csv")));
    comm.deliver(waveform(150, 120) + waveform(151, 121) + waveform(152, 122));
    form.menEnde_Click();
    EXPECT_FALSE(form.isRecording());
    EXPECT_EQ(kinds(csvRows(path("end.csv"))), (QStringList{"waveform", "waveform"}));
}
