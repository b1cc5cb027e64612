// The load figures' trace: the window's first paint, and one values-painted
// line for every values frame the readout refresh shows, even when its
// figures are the ones already on screen.
#include "fakeserialcontrol.h"
#include "form1.h"
#include "frames.h"
#include "trace.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quorvid;

namespace {

QStringList events(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList out;
    qint64 previous = 0;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.isEmpty()) continue;
        const QList<QByteArray> parts = line.split(' ');
        EXPECT_EQ(parts.size(), 2) << line.constData();
        const qint64 ns = parts.value(0).toLongLong();
        EXPECT_GE(ns, previous) << "stamps run forwards";
        previous = ns;
        out << QString::fromLatin1(parts.value(1));
    }
    return out;
}

// Posted repaints, then the stamp queued behind them.
void settle()
{
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

}  // namespace

// One case only: the trace file is chosen once per process, at first use.
TEST(Trace, FirstPaintAndEveryValuesFrameShown)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("trace"));
    qputenv("QUORVID_TRACE", QFile::encodeName(path));
    ASSERT_TRUE(trace::enabled());

    FakeSerialControl comm;
    comm.setOpenablePorts({1});
    Form1 form(comm);
    trace::watch(&form, form.findChild<QObject*>(QStringLiteral("SYS1")));
    form.Form_Load();
    settle();
    EXPECT_TRUE(events(path).isEmpty()) << "nothing before the window is shown";

    form.show();
    settle();
    EXPECT_EQ(events(path), QStringList{"window-exposed"});

    const ByteString values = encodeValues({120, 93, 80, 25, 15, 10, 75});
    for (int frame = 0; frame < 2; ++frame) {  // the same figures twice
        form.framer().FrameValues = values;
        form.Val_Update_Timer();
        settle();
    }
    // Ticks with nothing new and other repaints leave no line.
    form.Val_Update_Timer();
    form.update();
    settle();
    EXPECT_EQ(events(path), (QStringList{"window-exposed", "values-painted", "values-painted"}));
}
