#include "artwork.h"
#include "form1.h"
#include "qtserialcontrol.h"
#include "trace.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvid"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVID_VERSION));
    QApplication::setWindowIcon(quorvid::appIcon());

    quorvid::QtSerialControl comm;

    Form1 form(comm);
    quorvid::trace::watch(&form, form.findChild<QObject*>(QStringLiteral("SYS1")));
    form.Form_Load();
    form.show();
    return app.exec();
}
