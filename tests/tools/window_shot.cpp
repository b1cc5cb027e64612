// Renders the main window to a PNG, as a user would see it a few seconds after
// the board started talking: readouts, statuses, the identification and a
// sweep of both traces. Optionally renders the About window too.
//
//   window_shot docs/window.png [about.png]
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise. The clock shows a fixed
// time so that the picture does not change from run to run.
#include "artwork.h"
#include "controls.h"
#include "fakeserialcontrol.h"
#include "form1.h"
#include "frames.h"
#include "frmabout.h"

#include <QApplication>
#include <QTextStream>

#include <cmath>

using namespace quorvid;

namespace {

QByteArray wire(const ByteString& frame)
{
    return QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size()));
}

// Samples are drawn at the height labelled (sample - 100) mmHg.
Samples beatSamples(int frame)
{
    constexpr double kFramesPerBeat = 56.0;  // 72 bpm at the board's pace
    const double phase = frame / kFramesPerBeat;
    const double arterial = 80 + 40 * pulseShape(phase);          // 120/80
    const double pulmonary = 10 + 18 * pulseShape(phase - 0.04);  // 28/10
    return {std::int16_t(std::lround(arterial + 100)), std::int16_t(std::lround(pulmonary + 100))};
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvid"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVID_VERSION));
    QApplication::setWindowIcon(appIcon());
    if (argc < 2) {
        QTextStream(stderr) << "usage: window_shot window.png [about.png]\n";
        return 2;
    }

    FakeSerialControl comm;
    Form1 form(comm);
    form.Form_Load();
    form.show();

    QByteArray stream;
    stream += wire(encodeIdentification("QX 04100 IBP OEM board  fw 2.31  serial 0471-2209-18"));
    stream += wire(encodeStatus({0, 8}));
    stream += wire(encodeValues({.sys1 = 120, .map1 = 93, .dia1 = 80, .sys2 = 28, .map2 = 17,
                                 .dia2 = 10, .pulse = 72}));
    for (int i = 0; i < 470; ++i) stream += wire(encodeWaveform(beatSamples(i)));
    stream += char(0x80 | 0x40);  // a header closes the last frame
    comm.queue(stream);
    comm.raise(CommEvent::Receive);
    form.Val_Update_Timer();
    form.statusBar1().setSimpleText(clockText(QTime(14, 5, 9), QLocale::system()));
    QApplication::processEvents();

    if (!form.grab().save(QString::fromLocal8Bit(argv[1]))) {
        QTextStream(stderr) << "cannot write " << argv[1] << "\n";
        return 1;
    }
    if (argc > 2) {
        form.menAbout_Click();
        QApplication::processEvents();
        if (!form.aboutWindow()->grab().save(QString::fromLocal8Bit(argv[2]))) return 1;
    }
    return 0;
}
