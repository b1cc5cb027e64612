#include "artwork.h"
#include "fakeserialcontrol.h"
#include "form1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvid"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVID_VERSION));
    QApplication::setWindowIcon(quorvid::appIcon());

    // Stands in until the Qt SerialPort control exists: a control on which no
    // port opens, so the window comes up with nothing connected.
    quorvid::FakeSerialControl comm;

    Form1 form(comm);
    form.Form_Load();
    form.show();
    return app.exec();
}
