// Renders Evaluate > Run Station... during a run to a PNG: three simulated
// boards (the window's own and two the dialog opens), the second reading 6 %
// high on channel 1, run on simulated time with the operator measuring at
// each instruction, up to the middle of the measurement at 200 mmHg.
//
//   station_shot docs/evaluation-station.png
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise; the same picture
// every time.
#include "boardmodel.h"
#include "fakeserialcontrol.h"
#include "form1.h"
#include "session.h"
#include "stationdialog.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>

using namespace quorvid;
using namespace quorvid::evaluate;
using sim::SimTime;

namespace {

struct Line {
    FakeSerialControl* comm = nullptr;
    std::unique_ptr<sim::BoardModel> model;
    qsizetype heard = 0;
};

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        QTextStream(stderr) << "usage: station_shot station.png\n";
        return 2;
    }
    QTemporaryDir dir;
    SimTime now{0};
    Line lines[3];
    for (int k = 0; k < 3; ++k) lines[k].model = std::make_unique<sim::BoardModel>(sim::BoardOptions{std::uint64_t(k + 1), 0, 0, k + 1, 3});
    (void)lines[1].model->applySetting("ch1 gain 1.06", SimTime{0});

    FakeSerialControl windowComm;
    windowComm.setOpenablePorts({1});
    Form1 form(windowComm);
    form.Form_Load();
    lines[0].comm = &windowComm;
    form.menStation_Click();
    StationDialog& dialog = *form.stationDialog();
    dialog.setWorkFolder(dir.path());
    dialog.setClock({[&now] { return 1'796'000'000'000 + now.count() / 1000; }, [&now] { return now.count(); }});
    dialog.setControlFactory([&](const QString&, int index) {
        auto comm = std::make_unique<FakeSerialControl>();
        comm->setOpenablePorts({index + 1});
        lines[index].comm = comm.get();
        return StationDialog::Control{std::move(comm), index + 1};
    });
    auto* table = dialog.findChild<QTableWidget*>(QStringLiteral("boards"));
    dialog.addBoard(QStringLiteral("COM2"));
    dialog.addBoard(QStringLiteral("COM3"));
    for (int row = 0; row < 3; ++row) table->item(row, StationDialog::IdColumn)->setText(QStringLiteral("SN-0471-%1").arg(row + 1));
    dialog.findChild<QLineEdit*>(QStringLiteral("operatorName"))->setText(QStringLiteral("A. Tester"));
    if (!dialog.start()) return 1;

    auto* measure = dialog.findChild<QPushButton*>(QStringLiteral("measure"));
    auto* instruction = dialog.findChild<QLabel*>(QStringLiteral("instruction"));
    const QRegularExpression staticWords(QStringLiteral("Set both channels to (\\d+) mmHg"));
    const QRegularExpression zeroWords(QStringLiteral("^Open both transducers to air"));
    int ticksAt200 = -1;  // reads since 200 mmHg was set
    while (dialog.running() && now < SimTime{300'000'000} && ticksAt200 < 110) {
        if (ticksAt200 >= 0) ++ticksAt200;
        now += SimTime{40'000};
        for (Line& l : lines) {
            const QByteArray written = l.comm->written();
            l.model->feedCommandBytes(Bytes(reinterpret_cast<const Byte*>(written.constData()) + l.heard, std::size_t(written.size() - l.heard)), now);
            l.heard = written.size();
            QByteArray block;
            for (const sim::DueFrame& f : l.model->takeDue(now)) block.append(reinterpret_cast<const char*>(f.bytes.data()), qsizetype(f.bytes.size()));
            if (!block.isEmpty()) l.comm->deliver(block);
        }
        for (int i = 0; i < 3; ++i) dialog.station()->session(i).poll();
        QApplication::processEvents();
        if (!measure->isEnabled()) continue;
        const QString said = instruction->text();
        QString pressure;
        if (zeroWords.match(said).hasMatch()) pressure = QStringLiteral("0");
        else if (const auto m = staticWords.match(said); m.hasMatch()) pressure = m.captured(1);
        else break;
        if (pressure == u"200") ticksAt200 = 0;
        for (Line& l : lines)
            for (const char* ch : {"ch1", "ch2"}) (void)l.model->applySetting(QStringLiteral("%1 static %2").arg(QLatin1String(ch), pressure).toStdString(), now);
        measure->click();
    }
    dialog.showReadouts();
    dialog.show();
    QApplication::processEvents();
    const bool saved = dialog.grab().save(QString::fromLocal8Bit(argv[1]));
    dialog.abortRun();
    QApplication::processEvents();
    return saved ? 0 : 1;
}
