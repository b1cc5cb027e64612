#include "form1.h"

#include "evaluatedialog.h"
#include "historyaction.h"
#include "stationdialog.h"
#include "session.h"

#include "artwork.h"
#include "commands.h"
#include "controls.h"
#include "frmabout.h"
#include "graph.h"
#include "portlink.h"
#include "portmessages.h"
#include "portnames.h"
#include "receiver.h"
#include "recorder.h"
#include "reviewwindow.h"
#include "serialcontrol.h"
#include "sweepchart.h"
#include "syscolors.h"
#include "trace.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QStandardPaths>
#include <QTimer>

using namespace quorvid;

namespace quorvid {

QString timeFormatWithoutZone(const QString& format)
{
    // Brackets and separators that only belong to the zone go with it:
    // "HH:mm:ss (t)", "h:mm:ss AP, t", "APh:mm:ss [t]", "t HH:mm:ss".
    auto isSeparator = [](QChar c) { return c.isSpace() || c == u','; };
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format.at(i);
        if (c == u'\'') {
            quoted = !quoted;
            out += c;
            ++i;
            continue;
        }
        if (quoted || c != u't') {
            out += c;
            ++i;
            continue;
        }
        while (i < format.size() && format.at(i) == u't') ++i;
        if (i < format.size() && (format.at(i) == u')' || format.at(i) == u']')) {
            ++i;
            if (!out.isEmpty() && (out.back() == u'(' || out.back() == u'[')) out.chop(1);
        }
        while (!out.isEmpty() && isSeparator(out.back())) out.chop(1);
        if (out.isEmpty())
            while (i < format.size() && isSeparator(format.at(i))) ++i;
    }
    return out.trimmed();
}

QString clockText(QTime time, const QLocale& locale)
{
    QString format = timeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat));
    // A long format without seconds is not known to exist; should one turn up,
    // the clock still ticks visibly.
    bool seconds = false, quoted = false;
    for (const QChar c : format) {
        if (c == u'\'') quoted = !quoted;
        else if (!quoted && c == u's') seconds = true;
    }
    if (!seconds) format = QStringLiteral("HH:mm:ss");
    return locale.toString(time, format);
}

}  // namespace quorvid

namespace {

constexpr int kWindowFontPx = 13;  // Arial 9.75 pt

// System colours by value, as the design names them.
constexpr OleColor kWindowBg = systemColorValue(SysColor::WindowBackground);
constexpr OleColor kCaptionText = systemColorValue(SysColor::CaptionText);
constexpr OleColor kWorkspace = systemColorValue(SysColor::AppWorkspace);

struct LabelRow {
    const char* name;
    const char* caption;
    int left, top, width, height;  // twips
    int fontPx;
    bool bold;
    LabelStyle style;
    bool pulseRateTip;  // these carry the tooltip "Pulse Rate"
};

const LabelStyle kReadout{.foreground = kRed, .background = kWindowBg, .border = true,
                          .alignment = Qt::AlignRight};
LabelStyle readout(OleColor foreground)
{
    LabelStyle s = kReadout;
    s.foreground = foreground;
    return s;
}
const LabelStyle kUnit{.foreground = kWorkspace, .alignment = Qt::AlignLeft};
LabelStyle statusStyle(OleColor foreground)
{
    return {.foreground = foreground, .background = kWindowBg, .border = true,
            .alignment = Qt::AlignHCenter};
}
LabelStyle plain(OleColor foreground, Qt::Alignment alignment = Qt::AlignLeft)
{
    LabelStyle s;
    s.foreground = foreground;
    s.alignment = alignment;
    return s;
}

// The labels of the readout panel and beside the chart, in design order.
const std::array kLabels = {
    LabelRow{"Label11", "IBP OEM  -  QX 04100  -  Evaluation Software", 120, 0, 9132, 372, 17, true,
             plain(0x404040, Qt::AlignHCenter), false},
    LabelRow{"SYS1", "0", 240, 480, 852, 360, 18, true, readout(kRed), true},
    LabelRow{"MAP1", "0", 1440, 480, 852, 360, 18, true, readout(kRed), true},
    LabelRow{"DIA1", "0", 2640, 480, 852, 360, 18, true, readout(kRed), true},
    LabelRow{"SYS2", "0", 4080, 480, 852, 360, 18, true, readout(kBlue), true},
    LabelRow{"MAP2", "0", 5280, 480, 852, 360, 18, true, readout(kBlue), true},
    LabelRow{"DIA2", "0", 6480, 480, 852, 360, 18, true, readout(kBlue), true},
    LabelRow{"PULSE", "0", 7920, 480, 852, 360, 18, true, readout(kGreen), true},
    LabelRow{"Label6", "SYS [mmHg]", 240, 960, 1092, 252, 10, false, kUnit, false},
    LabelRow{"Label13", "MAP [mmHg]", 1440, 960, 1092, 252, 10, false, kUnit, false},
    LabelRow{"Label5", "DIA  [mmHg]", 2640, 960, 1092, 252, 10, false, kUnit, false},
    LabelRow{"Label12", "SYS [mmHg]", 4080, 960, 1092, 252, 10, false, kUnit, false},
    LabelRow{"Label10", "MAP [mmHg]", 5280, 960, 1092, 252, 10, false, kUnit, false},
    LabelRow{"Label15", "DIA  [mmHg]", 6480, 960, 1092, 252, 10, false, kUnit, false},
    LabelRow{"Label14", "Pulse [bpm]", 7920, 960, 972, 252, 10, false, kUnit, false},
    LabelRow{"Label19", "Channel 1", 240, 1320, 1092, 252, 10, true, plain(kRed), false},
    LabelRow{"Stat1", "Status", 1440, 1320, 2052, 240, 12, false, statusStyle(kRed), true},
    LabelRow{"Label20", "Channel 2", 4080, 1320, 1092, 252, 10, true, plain(kBlue), false},
    LabelRow{"Stat2", "Status", 5280, 1320, 2052, 240, 12, false, statusStyle(kBlue), true},
    LabelRow{"Label1", "300", 9120, 1920, 252, 252, 8, true, plain(kWorkspace), false},
    LabelRow{"Label4", "200", 9120, 2880, 252, 252, 8, true, plain(kWorkspace), false},
    LabelRow{"Label25", "100", 9120, 3840, 252, 252, 8, true, plain(kWorkspace), false},
    LabelRow{"Label26", "000", 9120, 4800, 252, 252, 8, true, plain(kWorkspace), false},
    LabelRow{"Label2", "Hz", 9120, 5400, 252, 252, 8, true, plain(kWorkspace), false},
    LabelRow{"Identify", "Press Identify", 4920, 5280, 1452, 852, 10, false,
             LabelStyle{.background = kCaptionText, .border = true, .alignment = Qt::AlignHCenter},
             false},
    LabelRow{"Speed", "100", 7560, 5280, 1452, 360, 14, false,
             LabelStyle{.foreground = 0x000000, .background = kWindowBg, .border = true,
                        .alignment = Qt::AlignHCenter},
             true},
};

struct ShapeRow {
    const char* name;
    int left, top, width, height;
    OleColor colour;
};
const std::array kShapes = {
    ShapeRow{"Shape3", 120, 360, 3492, 1332, kRed},
    ShapeRow{"Shape4", 3960, 360, 3492, 1332, kBlue},
    ShapeRow{"Shape1", 7800, 360, 1212, 1332, kGreen},
};

struct ButtonRow {
    const char* name;
    const char* caption;
    int left, top, width, height;
    const char* tooltip;
    void (Form1::*click)();
};
const std::array kButtons = {
    ButtonRow{"SelectSpeed", "Set Speed", 7560, 5760, 1452, 252, "Set Initial Cuff Pump Up Value",
              &Form1::SelectSpeed_Click},
    ButtonRow{"Zero1", "Zero Ch. 1", 240, 6240, 1332, 252, "Reset the Board", &Form1::Zero1_Click},
    ButtonRow{"Zero2", "Zero Ch. 2", 1800, 6240, 1332, 252, "Reset the Board", &Form1::Zero2_Click},
    ButtonRow{"Zeroall", "Zero All", 3360, 6240, 1332, 252, "Reset the Board", &Form1::Zeroall_Click},
    ButtonRow{"GetInfo", "Identify", 4920, 6240, 1452, 252,
              "Set Cycle Time for Automated Measurements", &Form1::GetInfo_Click},
};

struct OptionRow {
    const char* name;
    const char* caption;
    int left, top, width, height;  // within the frame
    bool selected;
    void (Form1::*click)();
};
struct FrameRow {
    const char* name;
    const char* caption;
    int left, top, width, height;
    std::array<OptionRow, 2> options;
};
const std::array kFrames = {
    FrameRow{"Frame1", "Mode", 240, 5160, 1332, 972,
             {{{"Option1", "Normal", 120, 240, 1092, 252, true, &Form1::Option1_Click},
               {"Option2", "Simulate", 120, 600, 1092, 252, false, &Form1::Option2_Click}}}},
    FrameRow{"Filter", "Filter", 1800, 5160, 1332, 972,
             {{{"Option3", "50 Hz", 240, 240, 972, 252, true, &Form1::Option3_Click},
               {"Option4", "60 Hz", 240, 600, 972, 252, false, &Form1::Option4_Click}}}},
};

}  // namespace

Form1::Form1(SerialControl& comm, QWidget* parent)
    : QMainWindow(parent)
    , m_comm(comm)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quorvid"));
    setWindowIcon(appIcon());
    // Fixed border: minimise and close, no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setFont(arialFont(kWindowFontPx));

    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));
    m_client->setFixedSize(kClientWidth, kClientHeight);
    QPalette palette = m_client->palette();
    palette.setColor(QPalette::Window, systemColor(SysColor::ButtonFace));
    m_client->setPalette(palette);
    m_client->setAutoFillBackground(true);
    setCentralWidget(m_client);

    buildMenus();
    buildReadouts();
    buildChart();
    buildControlArea();
    buildTabOrder();

    // The menu bar's height is the platform's; the client area below it is not.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    m_valUpdate = new QTimer(this);
    m_valUpdate->setObjectName(QStringLiteral("Val_Update"));
    m_valUpdate->setInterval(1);
    // Armed by each frame that lands in a slot rather than left free-running:
    // a tick with nothing new would only test three lengths, and an idle
    // program should not wake a thousand times a second for that.
    m_valUpdate->setSingleShot(true);
    connect(m_valUpdate, &QTimer::timeout, this, &Form1::Val_Update_Timer);

    m_rtcTimer = new QTimer(this);
    m_rtcTimer->setObjectName(QStringLiteral("RTC_Timer"));
    m_rtcTimer->setInterval(350);
    connect(m_rtcTimer, &QTimer::timeout, this, &Form1::RTC_Timer_Timer);
    m_rtcTimer->start();

    connect(&m_comm, &SerialControl::onComm, this, &Form1::MSComm1_OnComm);
    connect(&m_comm, &SerialControl::portLost, this, &Form1::portLost);
}

Form1::~Form1()
{
    // The files are closed before the framer that feeds them goes.
    if (m_evaluateDialog) delete m_evaluateDialog;
    if (m_stationDialog) delete m_stationDialog;
    m_framer.setFrameObserver(nullptr);
    m_recorder.reset();
    // The framer outlives the chart by member order; make sure nothing plots
    // into a chart that is gone.
    m_framer.setWaveformSink(nullptr);
}

void Form1::buildMenus()
{
    QMenuBar* bar = menuBar();

    auto* menDatei = bar->addMenu(QStringLiteral("&File"));
    menDatei->setObjectName(QStringLiteral("menDatei"));
    QAction* menOpenRecording = menDatei->addAction(QStringLiteral("&Open Recording..."));
    menOpenRecording->setObjectName(QStringLiteral("menOpenRecording"));
    menOpenRecording->setShortcut(QKeySequence::Open);
    connect(menOpenRecording, &QAction::triggered, this, &Form1::menOpenRecording_Click);
    m_menRecord = menDatei->addAction(QStringLiteral("&Record..."));
    m_menRecord->setObjectName(QStringLiteral("menRecord"));
    connect(m_menRecord, &QAction::triggered, this, &Form1::menRecord_Click);
    QAction* menEnde = menDatei->addAction(QStringLiteral("&Exit"));
    menEnde->setObjectName(QStringLiteral("menEnde"));
    connect(menEnde, &QAction::triggered, this, &Form1::menEnde_Click);

    auto* menPort = bar->addMenu(QStringLiteral("&Port"));
    menPort->setObjectName(QStringLiteral("menPort"));
    // Each item's tooltip names the device its COM name stands for.
    menPort->setToolTipsVisible(true);
    connect(menPort, &QMenu::aboutToShow, this, &Form1::refreshPortTips);
    using Handler = void (Form1::*)();
    const std::array<Handler, 8> handlers = {&Form1::setCOM1_Click, &Form1::setCOM2_Click,
                                             &Form1::setCOM3_Click, &Form1::setCOM4_Click,
                                             &Form1::setCOM5_Click, &Form1::setCOM6_Click,
                                             &Form1::setCOM7_Click, &Form1::setCOM8_Click};
    for (int port = 1; port <= 8; ++port) {
        QAction* item = menPort->addAction(QStringLiteral("COM%1").arg(port));
        item->setObjectName(QStringLiteral("setCOM%1").arg(port));
        item->setCheckable(true);
        // The check mark follows the open port, never the click itself.
        connect(item, &QAction::triggered, this, [this, item, port, handler = handlers[port - 1]] {
            item->setChecked(m_comm.portOpen() && m_comm.commPort() == port);
            (this->*handler)();
        });
        m_portItems[port - 1] = item;
    }

    auto* menEvaluate = bar->addMenu(QStringLiteral("&Evaluate"));
    menEvaluate->setObjectName(QStringLiteral("menEvaluate"));
    QAction* menRunEvaluation = menEvaluate->addAction(QStringLiteral("Run &Evaluation..."));
    menRunEvaluation->setObjectName(QStringLiteral("menRunEvaluation"));
    connect(menRunEvaluation, &QAction::triggered, this, &Form1::menEvaluate_Click);
    QAction* menRunStation = menEvaluate->addAction(QStringLiteral("Run &Station..."));
    menRunStation->setObjectName(QStringLiteral("menRunStation"));
    connect(menRunStation, &QAction::triggered, this, &Form1::menStation_Click);
    // Runs first, then what reads the runs' reports.
    menEvaluate->addSeparator();
    QAction* menHistory = menEvaluate->addAction(QStringLiteral("&History..."));
    menHistory->setObjectName(QStringLiteral("menHistory"));
    connect(menHistory, &QAction::triggered, this, &Form1::menHistory_Click);

    QAction* menAbout = bar->addAction(QStringLiteral("&About"));
    menAbout->setObjectName(QStringLiteral("menAbout"));
    connect(menAbout, &QAction::triggered, this, &Form1::menAbout_Click);
}

void Form1::buildReadouts()
{
    for (const LabelRow& row : kLabels) {
        QLabel* label = makeLabel(m_client, row.name, QString::fromLatin1(row.caption),
                                  twipsRect(row.left, row.top, row.width, row.height),
                                  arialFont(row.fontPx, row.bold), row.style);
        if (row.pulseRateTip) label->setToolTip(QStringLiteral("Pulse Rate"));
    }
    auto label = [this](const char* name) {
        return m_client->findChild<QLabel*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    };
    m_identify = label("Identify");
    m_stat1 = label("Stat1");
    m_stat2 = label("Stat2");
    m_speed = label("Speed");
    m_values = {label("SYS1"), label("MAP1"), label("DIA1"), label("SYS2"),
                label("MAP2"), label("DIA2"), label("PULSE")};

    // The outlines lie above the labels: the title's box reaches one pixel
    // into the top edge of the shapes, and a shape only paints its edge.
    for (const ShapeRow& row : kShapes) {
        auto* shape = new ShapeWidget(oleColor(row.colour), m_client);
        shape->setObjectName(QString::fromLatin1(row.name));
        shape->setGeometry(twipsRect(row.left, row.top, row.width, row.height));
        shape->raise();
    }
}

void Form1::buildChart()
{
    m_graph = new Graph(m_client);
    m_graph->setObjectName(QStringLiteral("Graph"));
    m_graph->move(twipsToPixels(120), twipsToPixels(1800));
    m_chart = std::make_unique<SweepChart>(*m_graph);
    m_framer.setWaveformSink(m_chart.get());
}

void Form1::buildControlArea()
{
    for (const FrameRow& frame : kFrames) {
        auto* box = new FrameBox(QString::fromLatin1(frame.caption), m_client);
        box->setObjectName(QString::fromLatin1(frame.name));
        box->setGeometry(twipsRect(frame.left, frame.top, frame.width, frame.height));
        // One choice per frame: each group is exclusive on its own.
        auto* group = new QButtonGroup(box);
        group->setObjectName(QString::fromLatin1(frame.name) + QStringLiteral("Group"));
        for (const OptionRow& option : frame.options) {
            auto* button = new QRadioButton(QString::fromLatin1(option.caption), box);
            button->setObjectName(QString::fromLatin1(option.name));
            button->setGeometry(twipsRect(option.left, option.top, option.width, option.height));
            button->setChecked(option.selected);
            group->addButton(button);
            connect(button, &QRadioButton::clicked, this, option.click);
        }
    }

    for (const ButtonRow& row : kButtons) {
        auto* button = new QPushButton(QString::fromLatin1(row.caption), m_client);
        button->setObjectName(QString::fromLatin1(row.name));
        button->setGeometry(twipsRect(row.left, row.top, row.width, row.height));
        button->setToolTip(QString::fromLatin1(row.tooltip));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, row.click);
    }

    auto* image = new QLabel(m_client);
    image->setObjectName(QStringLiteral("Image1"));
    image->setGeometry(twipsRect(6720, 6120, 3300, 750));
    image->setPixmap(QPixmap::fromImage(pictureImage(devicePixelRatioF())));

    m_stsBar1 = new SimpleStatusBar(m_client);
    m_stsBar1->setObjectName(QStringLiteral("StsBar1"));
    m_stsBar1->setGeometry(twipsRect(0, 6930, 10125, 375));
}

void Form1::buildTabOrder()
{
    auto find = [this](const char* name) {
        return m_client->findChild<QWidget*>(QString::fromLatin1(name));
    };
    const std::array order = {"GetInfo", "Zero1", "SelectSpeed", "Zero2", "Zeroall", "Graph",
                              "Option1", "Option2", "Option3", "Option4"};
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(find(order[i - 1]), find(order[i]));
    // The window opens with the focus on Identify.
    find("GetInfo")->setFocus(Qt::OtherFocusReason);
}

void Form1::Form_Load()
{
    for (std::size_t code = 0; code < StatusText.size(); ++code)
        StatusText[code] = QString::fromLatin1(kStatusTexts[code]);

    for (int port = 1; port <= 8; ++port) setPortEnabled(port, true);
    refreshPortTips();

    ActivePort = FindPort(m_comm, *this);
    if (ActivePort != 0) {
        if (const CommResult opened = OpenPort(m_comm, *this, ActivePort); !opened)
            tell(comName(ActivePort),
                 QStringLiteral("%1\n\n%2").arg(openRefusedText(ActivePort), opened.reason));
    } else {
        // Nothing to open and nothing to send to: the window still comes up,
        // and says why it stays quiet.
        tell(QStringLiteral("no port"), QStringLiteral("%1%2\n\nAttach the board and start Quorvid again.")
                                            .arg(noPortOpenedText(), triedDevices()));
    }

    m_chart->drawStartupGrid();
    m_board = kStartUpState;
    showBoardState();

    // Put the board into the state the window shows: speed 100, normal
    // operation, 50 Hz filter.
    if (m_comm.portOpen()) {
        for (std::string_view command : m_board.commands()) send(command);
    }
}

void Form1::showEvent(QShowEvent* event)
{
    if (!m_placed && !event->spontaneous()) {
        m_placed = true;
        if (const QScreen* s = screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(s->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QMainWindow::showEvent(event);
    if (!m_pendingText.isEmpty())
        QTimer::singleShot(0, this, &Form1::showPendingMessage);
}

void Form1::closeEvent(QCloseEvent* event)
{
    shutDown();
    event->accept();
}

QAction* Form1::portItem(int port) const
{
    return port >= 1 && port <= 8 ? m_portItems[std::size_t(port - 1)] : nullptr;
}

void Form1::setPortChecked(int port, bool checked)
{
    if (QAction* item = portItem(port)) item->setChecked(checked);
}

void Form1::setPortEnabled(int port, bool enabled)
{
    if (QAction* item = portItem(port)) item->setEnabled(enabled);
}

void Form1::refreshPortTips()
{
    for (int port = 1; port <= 8; ++port) {
        const QString device = m_comm.deviceName(port);
        m_portItems[std::size_t(port - 1)]->setToolTip(
            device.isEmpty() ? QStringLiteral("%1: no device").arg(comName(port)) : device);
    }
}

QString Form1::triedDevices() const
{
    const QString tried = triedDevicesText(m_comm);
    return tried.isEmpty() ? tried : QStringLiteral("\n\n") + tried;
}

void Form1::portChosen(std::uint8_t port)
{
    const CommResult opened = OpenPort(m_comm, *this, port);
    if (!opened) {
        noteInRecording(record::portNotOpenedNote(portWithDevice(m_comm, port), opened.reason));
        tell(comName(port), QStringLiteral("%1\n\n%2").arg(openRefusedText(port), opened.reason));
        return;
    }
    noteInRecording(record::portNote(portWithDevice(m_comm, port)));
}

void Form1::setCOM1_Click() { portChosen(1); }
void Form1::setCOM2_Click() { portChosen(2); }
void Form1::setCOM3_Click() { portChosen(3); }
void Form1::setCOM4_Click() { portChosen(4); }
void Form1::setCOM5_Click() { portChosen(5); }
void Form1::setCOM6_Click() { portChosen(6); }
void Form1::setCOM7_Click() { portChosen(7); }
void Form1::setCOM8_Click() { portChosen(8); }

void Form1::portLost(const CommResult& reason)
{
    // The control has closed the port already; the menu follows it, and the
    // program stays idle until the user picks a port again.
    UncheckPorts(*this);
    noteInRecording(record::portLostNote(reason.reason));
    const int port = m_comm.commPort();
    tell(comName(port), QStringLiteral("%1\n\n%2\n\nChoose a port in the Port menu once the device is back.")
                            .arg(portLostText(port), reason.reason));
}

void Form1::tell(const QString& subject, const QString& text)
{
    m_pendingSubject = subject;
    m_pendingText = text;
    if (isVisible()) showPendingMessage();
}

void Form1::showPendingMessage()
{
    if (m_pendingText.isEmpty() || m_ended) return;
    // One message window at a time: a newer message replaces the older one.
    if (!m_message) {
        m_message = new QMessageBox(this);
        m_message->setObjectName(QStringLiteral("message"));
        m_message->setIcon(QMessageBox::Warning);
        m_message->setStandardButtons(QMessageBox::Ok);
        m_message->setWindowModality(Qt::NonModal);
        m_message->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_message->setWindowTitle(QStringLiteral("Quorvid: %1").arg(m_pendingSubject));
    m_message->setText(m_pendingText);
    m_pendingSubject.clear();
    m_pendingText.clear();
    m_message->show();
    m_message->raise();
}

QMessageBox* Form1::messageWindow() const
{
    return m_message;
}

void Form1::shutDown()
{
    if (m_ended) return;
    m_ended = true;
    // A run under way puts the board back and writes its report first: both
    // need the port, and the report would otherwise wait for an event loop
    // that has gone.
    if (m_evaluateDialog) m_evaluateDialog->endForExit();
    if (m_stationDialog) m_stationDialog->endForExit();
    stopRecording();
    if (m_recordDialog) m_recordDialog->close();
    // A close the system refuses at this point has nobody left to tell: the
    // program ends and the system releases the port with it.
    if (m_comm.portOpen()) (void)m_comm.setPortOpen(false);
    // Nothing of the program runs after this: no tick, no receive event.
    m_valUpdate->stop();
    m_rtcTimer->stop();
    disconnect(&m_comm, nullptr, this, nullptr);
    if (m_about) m_about->close();
    if (m_message) m_message->close();
    hide();
    QCoreApplication::exit(0);
}

void Form1::MSComm1_OnComm()
{
    if (quorvid::MSComm1_OnComm(m_comm, m_framer) && !m_valUpdate->isActive()) m_valUpdate->start();
}

QString Form1::statusCaption(Byte code) const
{
    // A 7-bit code can name entries the table does not have; they read as blank.
    return code < StatusText.size() ? StatusText[code] : QString();
}

void Form1::Val_Update_Timer()
{
    if (m_framer.FrameInfo.size() > kIdentificationShownAbove) {
        m_identify->setText(QString::fromStdU16String(decodeIdentification(m_framer.FrameInfo)));
        m_framer.FrameInfo.clear();
    }

    if (m_framer.FrameStatus.size() > kStatusShownAbove) {
        if (const auto codes = decodeStatus(m_framer.FrameStatus)) {
            m_stat1->setText(statusCaption(codes->ch1));
            m_stat2->setText(statusCaption(codes->ch2));
        }
        m_framer.FrameStatus.clear();
    }

    if (m_framer.FrameValues.size() > kValuesShownAbove) {
        if (const auto v = decodeValues(m_framer.FrameValues)) {
            const std::array<std::int16_t, 7> shown = {v->sys1, v->map1, v->dia1, v->sys2,
                                                        v->map2, v->dia2, v->pulse};
            for (std::size_t i = 0; i < shown.size(); ++i)
                m_values[i]->setText(QString::number(shown[i]));
            trace::valuesShown();
        }
        m_framer.FrameValues.clear();
    }
}

void Form1::RTC_Timer_Timer()
{
    ClockTime = QTime::currentTime();
    m_stsBar1->setSimpleText(clockText(ClockTime, QLocale::system()));
}

void Form1::send(std::string_view command)
{
    const CommResult result = SendCommand(m_comm, command);
    if (result) return;
    // A closed control names the port it was last set to, which after a start
    // without any port is the probe's last, COM8: the user never chose that.
    const QString reason = result.error == CommError::NotOpen ? QStringLiteral("no port is open")
                           : result.reason.isEmpty()          ? commErrorName(result.error)
                                                              : result.reason;
    m_stsBar1->showNotice(QStringLiteral("Not sent: %1 (%2)")
                              .arg(QString::fromLatin1(command.data(), qsizetype(command.size())),
                                   reason),
                          kNoticeMilliseconds);
}

void Form1::sendCommandOf(std::string_view control)
{
    // The state follows the option buttons, which the click has set, even
    // when the command cannot go out; the notice says so.
    const std::string_view command = commandFor(control);
    m_board = m_board.after(command);
    send(command);
}

void Form1::GetInfo_Click() { sendCommandOf("GetInfo"); }
void Form1::Option1_Click() { sendCommandOf("Option1"); }
void Form1::Option2_Click() { sendCommandOf("Option2"); }
void Form1::Option3_Click() { sendCommandOf("Option3"); }
void Form1::Option4_Click() { sendCommandOf("Option4"); }
void Form1::Zero1_Click() { sendCommandOf("Zero1"); }
void Form1::Zero2_Click() { sendCommandOf("Zero2"); }
void Form1::Zeroall_Click() { sendCommandOf("Zeroall"); }

void Form1::SelectSpeed_Click()
{
    // The speed changes even when the command cannot go out; the notice says
    // so.
    m_board.speed = nextSpeed(m_board.speed);
    showBoardState();
    send(commandOf(m_board.speed));
}

void Form1::menAbout_Click()
{
    if (!m_about) m_about = new frmAbout(this);
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void Form1::menEnde_Click()
{
    shutDown();
}

frmAbout* Form1::aboutWindow() const
{
    return m_about;
}

QString Form1::proposedRecordingName(const QDateTime& time)
{
    return time.toString(QStringLiteral("'quorvid-'yyyyMMdd-HHmmss'.csv'"));
}

QFileDialog* Form1::recordDialog() const
{
    return m_recordDialog;
}

void Form1::menOpenRecording_Click()
{
    // Not modal: the window goes on monitoring while the file is chosen, and
    // the review opens in a window of its own.
    auto* dialog = new QFileDialog(this, QStringLiteral("Open Recording"), m_recordFolder,
                                   QStringLiteral("Recordings (*.bytes *.csv);;All files (*)"));
    dialog->setObjectName(QStringLiteral("openRecordingDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    connect(dialog, &QFileDialog::fileSelected, this, [](const QString& path) { quorvid::ReviewWindow::openFile(path); });
    dialog->open();
}

void Form1::menRecord_Click()
{
    if (isRecording()) {
        stopRecording();
        return;
    }
    if (m_recordDialog) {
        m_recordDialog->raise();
        m_recordDialog->activateWindow();
        return;
    }
    if (m_recordFolder.isEmpty())
        m_recordFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    // Window-modal and opened, not run: the receive events go on arriving
    // while the user picks a name, so the chart and readouts keep moving.
    m_recordDialog = new QFileDialog(this, QStringLiteral("Record"), m_recordFolder,
                                     QStringLiteral("CSV files (*.csv);;All files (*)"));
    m_recordDialog->setObjectName(QStringLiteral("recordDialog"));
    m_recordDialog->setAttribute(Qt::WA_DeleteOnClose);
    m_recordDialog->setOption(QFileDialog::DontUseNativeDialog);
    // A recording is two files: the question below names both, once.
    m_recordDialog->setOption(QFileDialog::DontConfirmOverwrite);
    m_recordDialog->setAcceptMode(QFileDialog::AcceptSave);
    m_recordDialog->setFileMode(QFileDialog::AnyFile);
    m_recordDialog->setDefaultSuffix(QStringLiteral("csv"));
    m_recordDialog->selectFile(proposedRecordingName(QDateTime::currentDateTime()));
    connect(m_recordDialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        if (path.isEmpty() || m_ended) return;
        m_recordFolder = QFileInfo(path).absolutePath();
        const QString csv = record::Recorder::csvPathFor(path);
        const QString bytes = record::Recorder::bytesPathFor(path);
        if (!QFileInfo::exists(csv) && !QFileInfo::exists(bytes)) {
            startRecording(path);
            return;
        }
        // Asked, not run: the receive events go on arriving meanwhile.
        auto* ask = new QMessageBox(QMessageBox::Question, QStringLiteral("Record"),
                                    QStringLiteral("%1 or %2 already exists.\n\nReplace both with the new recording?")
                                        .arg(QFileInfo(csv).fileName(), QFileInfo(bytes).fileName()),
                                    QMessageBox::Yes | QMessageBox::No, this);
        ask->setObjectName(QStringLiteral("replaceRecording"));
        ask->setDefaultButton(QMessageBox::No);
        ask->setAttribute(Qt::WA_DeleteOnClose);
        ask->setWindowModality(Qt::WindowModal);
        connect(ask, &QMessageBox::finished, this, [this, path](int answer) {
            if (answer == QMessageBox::Yes && !m_ended && !isRecording()) startRecording(path);
        });
        ask->open();
    });
    m_recordDialog->open();
}

bool Form1::startRecording(const QString& path, QString* error)
{
    stopRecording();
    record::RecordingStart where;
    if (m_comm.portOpen()) {
        where.port = comName(m_comm.commPort());
        where.device = m_comm.deviceName(m_comm.commPort());
    }
    where.program = QStringLiteral("quorvid %1").arg(QStringLiteral(QUORVID_VERSION));
    QString why;
    m_recorder = record::Recorder::start(path, where, &why);
    if (!m_recorder) {
        if (error) *error = why;
        tell(QStringLiteral("recording"), QStringLiteral("Recording could not start.\n\n%1").arg(why));
        return false;
    }
    connect(m_recorder.get(), &record::Recorder::failed, this, &Form1::recordingFailed);
    observeFrames(m_recorder.get());
    showRecordingState();
    return true;
}

void Form1::stopRecording()
{
    if (!m_recorder) return;
    // Written out while a refusal can still be told: the last rows are as
    // worth a message as any others.
    m_recorder->flush();
    if (!m_recorder) return;  // it failed, and recordingFailed has ended it
    observeFrames(nullptr);
    m_recorder.reset();  // closes both files
    showRecordingState();
}

void Form1::recordingFailed(const QString& message)
{
    if (!m_recorder) return;
    // The recorder is the sender of this signal: it goes once it has
    // returned (or with the window), and nothing more reaches it meanwhile.
    observeFrames(nullptr);
    m_recorder->disconnect(this);
    record::Recorder* failed = m_recorder.release();
    failed->setParent(this);
    failed->deleteLater();
    showRecordingState();
    tell(QStringLiteral("recording"),
         QStringLiteral("Recording has stopped: the file could not be written.\n\n%1\n\n"
                        "What was written before is kept.")
             .arg(message));
}

void Form1::observeFrames(FrameObserver* recording)
{
    if (m_evaluation) m_evaluation->setNext(recording);
    else m_framer.setFrameObserver(recording);
}

void Form1::menEvaluate_Click()
{
    if (!m_evaluateDialog) {
        m_evaluateDialog = new EvaluateDialog(m_comm, m_board, this);
        connect(m_evaluateDialog, &EvaluateDialog::runStarted, this, &Form1::setEvaluation);
        connect(m_evaluateDialog, &EvaluateDialog::boardStateChanged, this, &Form1::followBoard);
        connect(m_evaluateDialog, &EvaluateDialog::runEnded, this, [this] { setEvaluation(nullptr); });
        m_evaluateDialog->setPortCheck([this] { return windowPortInUse(); });
    }
    m_evaluateDialog->show();
    m_evaluateDialog->raise();
    m_evaluateDialog->activateWindow();
}

EvaluateDialog* Form1::evaluateDialog() const { return m_evaluateDialog; }

HistoryAction* Form1::historyAction()
{
    if (!m_history) m_history = new HistoryAction(this);
    return m_history;
}

void Form1::menHistory_Click()
{
    // The store the run dialogs name, when they name one; else their folder.
    historyAction()->run(m_evaluateDialog ? m_evaluateDialog->workFolder() : EvaluateDialog::defaultWorkFolder(),
                         HistoryAction::windowStore());
}

QString Form1::windowPortInUse() const
{
    // One run at a time on the window's port: the other dialog's holds it.
    return m_evaluation ? QStringLiteral("The window's board is being evaluated already: wait for that run to end.") : QString();
}

void Form1::menStation_Click()
{
    if (!m_stationDialog) {
        m_stationDialog = new StationDialog(m_comm, m_board, this);
        connect(m_stationDialog, &StationDialog::runStarted, this, &Form1::setEvaluation);
        connect(m_stationDialog, &StationDialog::boardStateChanged, this, &Form1::followBoard);
        connect(m_stationDialog, &StationDialog::runEnded, this, [this] { setEvaluation(nullptr); });
        m_stationDialog->setWindowPortCheck([this] { return windowPortInUse(); });
    }
    m_stationDialog->show();
    m_stationDialog->raise();
    m_stationDialog->activateWindow();
}

StationDialog* Form1::stationDialog() const { return m_stationDialog; }

void Form1::setEvaluation(evaluate::Session* session)
{
    if (session == m_evaluation) return;
    if (m_evaluation) m_evaluation->setNext(nullptr);
    m_evaluation = session;
    if (session) {
        session->setNext(m_recorder.get());
        m_framer.setFrameObserver(session);
    } else {
        m_framer.setFrameObserver(m_recorder.get());
    }
    for (const char* name : {"GetInfo", "Zero1", "Zero2", "Zeroall", "SelectSpeed", "Option1", "Option2", "Option3", "Option4"})
        if (QWidget* w = m_client->findChild<QWidget*>(QString::fromLatin1(name))) w->setEnabled(!session);
    if (auto* menPort = menuBar()->findChild<QMenu*>(QStringLiteral("menPort"))) menPort->menuAction()->setEnabled(!session);
    m_menRecord->setEnabled(!session);
}

void Form1::followBoard(const BoardState& state)
{
    m_board = state;
    showBoardState();
}

void Form1::showBoardState()
{
    m_speed->setText(QString::number(framesPerSecond(m_board.speed)));
    const std::array<std::pair<const char*, bool>, 4> selected = {{
        {"Option1", m_board.mode == Mode::Normal},
        {"Option2", m_board.mode == Mode::Simulated},
        {"Option3", m_board.filter == Filter::Hz50},
        {"Option4", m_board.filter == Filter::Hz60},
    }};
    for (const auto& [name, on] : selected)
        if (on)
            if (auto* button = m_client->findChild<QRadioButton*>(QString::fromLatin1(name))) button->setChecked(true);
}

void Form1::noteInRecording(const QString& text)
{
    if (m_recorder) m_recorder->note(text);
}

void Form1::showRecordingState()
{
    if (m_recorder) {
        // The same key stops what it started: Alt+F, R.
        m_menRecord->setText(QStringLiteral("Stop &Recording"));
        setWindowTitle(QStringLiteral("Quorvid - recording %1").arg(QFileInfo(m_recorder->csvPath()).fileName()));
    } else {
        m_menRecord->setText(QStringLiteral("&Record..."));
        setWindowTitle(QStringLiteral("Quorvid"));
    }
}
