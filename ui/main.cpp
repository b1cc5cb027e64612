#include <QApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvid"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVID_VERSION));
    QTextStream(stdout) << "Quorvid " << QApplication::applicationVersion()
                        << ": the main window is not built yet; run ./test.sh for the receive path.\n";
    return 0;
}
