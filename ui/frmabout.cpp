#include "frmabout.h"

#include "artwork.h"
#include "controls.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QVersionNumber>

using namespace quorvid;

frmAbout::frmAbout(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    // Fixed dialog border: a close box, nothing to resize, minimise or maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setFixedSize(kClientWidth, kClientHeight);

    auto* picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setPixmap(appIcon().pixmap(32, 32));
    picIcon->setGeometry(twipsToPixels(240), twipsToPixels(240), 32, 32);

    const LabelStyle black{.foreground = 0x000000};
    makeLabel(this, "NBIP", QStringLiteral("IBP Testprogramm"), twipsRect(1050, 480, 3885, 480),
              arialFont(16), black);
    m_version = makeLabel(this, "lblVersion", QString(), twipsRect(1050, 1080, 3885, 225),
                          arialFont(12), LabelStyle{});
    makeLabel(this, "lblDescription",
              QStringLiteral("Test program for evaluation of the Corvane IBP board. "
                             "It shows both channels and sends the board its commands."),
              twipsRect(1050, 1560, 4365, 690), arialFont(12), black);

    // An etched separator: a grey line with a white one just below it.
    auto* shadow = new LineWidget(QColor(0x80, 0x80, 0x80), 1, this);
    shadow->setObjectName(QStringLiteral("Line1"));
    shadow->setProperty("index", 1);
    shadow->setGeometry(twipsToPixels(90), twipsToPixels(2445),
                        twipsToPixels(5654) - twipsToPixels(90) + 1, 1);
    auto* light = new LineWidget(QColor(0xFF, 0xFF, 0xFF), 2, this);
    light->setObjectName(QStringLiteral("Line1"));
    light->setProperty("index", 0);
    light->setGeometry(twipsToPixels(105), twipsToPixels(2460),
                       twipsToPixels(5654) - twipsToPixels(105) + 1, 2);

    auto* cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(twipsRect(4245, 2625, 1260, 345));
    cmdOK->setDefault(true);
    cmdOK->setFocus(Qt::OtherFocusReason);
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);

    Form_Load();
}

QString frmAbout::versionText()
{
    const QVersionNumber v = QVersionNumber::fromString(QCoreApplication::applicationVersion());
    return QStringLiteral("Version %1.%2.%3")
        .arg(v.majorVersion())
        .arg(v.minorVersion())
        .arg(v.microVersion());
}

void frmAbout::Form_Load()
{
    setWindowTitle(QCoreApplication::applicationName());
    m_version->setText(versionText());
}

void frmAbout::cmdOK_Click()
{
    // Esc and the close box reject instead; either way the dialog closes and,
    // deleted on close, is gone until the next opening.
    accept();
}
