#include "stationdialog.h"

#include "commands.h"
#include "frames.h"
#include "portlink.h"
#include "portmenu.h"
#include "portnames.h"
#include "qtserialcontrol.h"
#include "runsetupform.h"
#include "serialcontrol.h"
#include "stepanswers.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace quorvid;
using namespace quorvid::evaluate;

namespace {

// The station's own ports are read as often as the terminal monitor reads
// its one: the rows' readouts change four times a second.
constexpr int kReceiveIntervalMs = 40;
constexpr int kReadoutIntervalMs = 250;

// 3 for "COM3"; 0 for a device typed as a path.
int comNumber(const QString& port)
{
    static const QRegularExpression com(QStringLiteral("^COM([1-8])$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = com.match(port.trimmed());
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

StationDialog::Control realControl(const QString& port, int index)
{
    auto comm = std::make_unique<QtSerialControl>();
    comm->setReceiveInterval(kReceiveIntervalMs);
    int number = comNumber(port);
    if (number == 0) {
        // A device typed in is opened as it stands, numbered by its row.
        comm->setDevicePath(port.trimmed());
        number = index + 1;
    }
    return {std::move(comm), number};
}

QString channelText(const std::optional<Values>& v, int ch)
{
    if (!v) return {};
    return ch == 1 ? QStringLiteral("%1/%2 (%3)").arg(v->sys1).arg(v->dia1).arg(v->map1)
                   : QStringLiteral("%1/%2 (%3)").arg(v->sys2).arg(v->dia2).arg(v->map2);
}

QString statusText(const std::optional<StatusCodes>& s, int ch)
{
    if (!s) return {};
    const std::string_view t = statusTextFor(ch == 1 ? s->ch1 : s->ch2);
    return QString::fromLatin1(t.data(), qsizetype(t.size()));
}

}  // namespace

StationDialog::StationDialog(SerialControl& windowComm, const BoardState& windowBoard, QWidget* parent)
    : RunDialog(parent)
    , m_windowComm(windowComm)
    , m_windowBoard(windowBoard)
    , m_factory(realControl)
{
    setObjectName(QStringLiteral("stationDialog"));
    setWindowTitle(QStringLiteral("Run Station"));

    auto* layout = new QVBoxLayout(this);
    addSetupForm(layout);

    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setObjectName(QStringLiteral("boards"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("Port"), QStringLiteral("Board ID"), QStringLiteral("Ch 1"),
                                        QStringLiteral("Status 1"), QStringLiteral("Ch 2"), QStringLiteral("Status 2"),
                                        QStringLiteral("Step"), QStringLiteral("Verdict")});
    m_table->verticalHeader()->setVisible(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);
    m_table->horizontalHeader()->setSectionResizeMode(StepColumn, QHeaderView::Stretch);
    m_table->setColumnWidth(PortColumn, 95);
    m_table->setColumnWidth(IdColumn, 120);
    for (int c : {Ch1Column, Ch2Column}) m_table->setColumnWidth(c, 105);
    for (int c : {Status1Column, Status2Column}) m_table->setColumnWidth(c, 140);
    m_table->setColumnWidth(VerdictColumn, 160);
    layout->addWidget(m_table, 1);

    auto* buttons = new QHBoxLayout;
    m_add = new QPushButton(QStringLiteral("A&dd Board"), this);
    m_add->setObjectName(QStringLiteral("addBoard"));
    connect(m_add, &QPushButton::clicked, this, [this] { addBoard(); });
    m_remove = new QPushButton(QStringLiteral("Re&move Board"), this);
    m_remove->setObjectName(QStringLiteral("removeBoard"));
    connect(m_remove, &QPushButton::clicked, this, [this] {
        const int row = m_table->currentRow() >= 0 ? m_table->currentRow() : m_table->rowCount() - 1;
        if (row >= 0) m_table->removeRow(row);
        m_add->setEnabled(m_table->rowCount() < kMaxStationBoards);
    });
    makeRunButtons(QStringLiteral("Station"));
    for (QPushButton* b : {m_add, m_remove}) buttons->addWidget(b);
    buttons->addStretch();
    for (QPushButton* b : {m_start, m_abort}) buttons->addWidget(b);
    layout->addLayout(buttons);

    addStepAnswers(layout);
    addProgress(layout);
    addVerdictLine(layout);

    m_readouts = new QTimer(this);
    m_readouts->setInterval(kReadoutIntervalMs);
    connect(m_readouts, &QTimer::timeout, this, &StationDialog::showReadouts);

    resize(1120, 460);
    // The window's board first, when it has one.
    if (m_windowComm.portOpen()) addBoard(comName(m_windowComm.commPort()));
}

StationDialog::~StationDialog()
{
    endRouting();
    // The sessions go before the ports they were told to use.
    m_station.reset();
    m_comms.clear();
}

bool StationDialog::running() const { return m_station && m_station->running(); }

void StationDialog::showEvent(QShowEvent* event)
{
    // The command comes from the person who starts a run, each time.
    if (!running()) m_form->clearCommand();
    QDialog::showEvent(event);
}

int StationDialog::boardRows() const { return m_table->rowCount(); }

int StationDialog::addBoard(const QString& port, const QString& id)
{
    if (m_table->rowCount() >= kMaxStationBoards || running()) return -1;
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    // The ports the Port menu maps, and any device typed in.
    auto* ports = new QComboBox(m_table);
    ports->setObjectName(QStringLiteral("port%1").arg(row));
    ports->setEditable(true);
    ports->setInsertPolicy(QComboBox::NoInsert);
    for (int n = 1; n <= kMenuPorts; ++n) {
        const QString device = m_windowComm.deviceName(n);
        if (device.isEmpty()) continue;
        ports->addItem(comName(n));
        ports->setItemData(ports->count() - 1, device, Qt::ToolTipRole);
    }
    ports->setEditText(port);
    m_table->setCellWidget(row, PortColumn, ports);
    m_table->setItem(row, IdColumn, new QTableWidgetItem(id));
    for (int c = Ch1Column; c < ColumnCount; ++c) {
        auto* item = new QTableWidgetItem;
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        m_table->setItem(row, c, item);
    }
    m_add->setEnabled(m_table->rowCount() < kMaxStationBoards);
    return row;
}

QString StationDialog::portOf(int row) const
{
    auto* ports = qobject_cast<QComboBox*>(m_table->cellWidget(row, PortColumn));
    return ports ? ports->currentText().trimmed() : QString();
}

bool StationDialog::isWindowPort(const QString& port) const
{
    if (!m_windowComm.portOpen()) return false;
    const int open = m_windowComm.commPort();
    return port.compare(comName(open), Qt::CaseInsensitive) == 0 || port == m_windowComm.deviceName(open);
}

void StationDialog::setCell(int row, int column, const QString& text)
{
    if (QTableWidgetItem* item = m_table->item(row, column)) item->setText(text);
}

void StationDialog::setEditable(bool editable)
{
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (QWidget* w = m_table->cellWidget(row, PortColumn)) w->setEnabled(editable);
        if (QTableWidgetItem* item = m_table->item(row, IdColumn))
            item->setFlags(editable ? item->flags() | Qt::ItemIsEditable : item->flags() & ~Qt::ItemIsEditable);
    }
    m_add->setEnabled(editable && m_table->rowCount() < kMaxStationBoards);
    m_remove->setEnabled(editable);
    showRunning(!editable);
}

bool StationDialog::start()
{
    if (running()) return false;
    const int rows = m_table->rowCount();
    if (rows == 0) {
        m_answers->say(QStringLiteral("Add a board for each port of the station."));
        return false;
    }
    QStringList ports, ids, devices;
    for (int row = 0; row < rows; ++row) {
        const QString port = portOf(row);
        if (port.isEmpty()) {
            m_answers->say(QStringLiteral("Board %1 has no port: choose one or type its device.").arg(row + 1));
            return false;
        }
        // "COM1" and the device it stands for are one port.
        const int number = comNumber(port);
        const QString device = number ? m_windowComm.deviceName(number) : port;
        if (const qsizetype twice = devices.indexOf(device.isEmpty() ? port : device); twice >= 0) {
            m_answers->say(QStringLiteral("Boards %1 and %2 are on the same port, %3.").arg(twice + 1).arg(row + 1).arg(port));
            return false;
        }
        devices << (device.isEmpty() ? port : device);
        ports << port;
        ids << (m_table->item(row, IdColumn) ? m_table->item(row, IdColumn)->text().trimmed() : QString());
    }
    if (const QString why = stationIdsProblem(ids, ports); !why.isEmpty()) {
        m_answers->say(why.left(1).toUpper() + why.mid(1) + u'.');
        return false;
    }
    int windowRow = -1;
    for (int row = 0; row < rows; ++row)
        if (isWindowPort(ports[row])) windowRow = row;
    if (windowRow >= 0 && m_windowPortCheck && refused(m_windowPortCheck())) return false;
    if (refused(makeWorkFolder()) || !chooseRunStore()) return false;

    // The last run's sessions go before the ports they used.
    if (m_station) {
        endRouting();
        m_station.reset();
    }
    m_comms.clear();
    m_windowBoardIndex = -1;

    NoPortMenu menu;
    std::vector<StationBoard> boards;
    QStringList refused;
    for (int row = 0; row < rows; ++row) {
        StationBoard b;
        b.port = ports[row];
        b.boardId = ids[row];
        if (row == windowRow) {
            b.comm = &m_windowComm;
            b.state = m_windowBoard;
            b.framedOutside = true;
            m_windowBoardIndex = row;
        } else {
            Control control = m_factory(ports[row], row);
            b.comm = control.comm.get();
            b.state = kStartUpState;
            if (const CommResult r = OpenPort(*b.comm, menu, std::uint8_t(control.port)); !r) {
                b.openError = r.reason;
                refused << QStringLiteral("%1: %2").arg(ports[row], r.reason);
            } else {
                // The state the window starts a board in, as the monitor does.
                for (std::string_view command : kStartUpCommands) (void)SendCommand(*b.comm, command);
            }
            m_comms.push_back(std::move(control.comm));
        }
        boards.push_back(b);
    }
    if (refused.size() == rows) {
        m_comms.clear();
        m_answers->say(QStringLiteral("No port of the station could be opened: %1").arg(refused.join(QStringLiteral("; "))));
        return false;
    }

    m_reference = m_form->chooseReference();
    if (OperatorReferenceSetter* person = m_reference.person)
        m_answers->follow(person, [](const QString& text) { return QStringLiteral("%1 (all boards)").arg(text); });

    const RunRequest run = m_form->runRequest(newRunName(QStringLiteral("station")));
    QString why;
    m_station = Station::create(std::move(boards), *m_reference.setter, m_form->plan(), run, &why,
                                m_clock.monotonicMicroseconds ? m_clock : record::Recorder::systemClock());
    if (!m_station) {
        m_comms.clear();
        m_answers->say(why);
        return false;
    }

    for (int i = 0; i < m_station->boardCount(); ++i) {
        Evaluation& e = m_station->session(i).evaluation();
        connect(&e, &Evaluation::checkStarted, this, [this, i](int, const QString& name) { setCell(i, StepColumn, name); });
        connect(&e, &Evaluation::activity, this, [this, i, &e](const QString& text) {
            const int check = int(e.outcomes().size()) - 1;
            setCell(i, StepColumn, check >= 0 ? QStringLiteral("%1: %2").arg(e.outcomes().back().name, text) : text);
        });
        // The checks a board has failed so far, before its verdict.
        connect(&e, &Evaluation::checkFinished, this, [this, i, &e](int, Verdict v) {
            if (v == Verdict::Pass) return;
            QStringList failed;
            for (const CheckOutcome& o : e.outcomes())
                if (o.verdict != Verdict::Pass) failed << o.name;
            setCell(i, VerdictColumn, QStringLiteral("%1 failed").arg(failed.join(QStringLiteral(", "))));
        });
        if (i == m_windowBoardIndex)
            connect(&e, &Evaluation::commandSent, this, [this, &e] { emit boardStateChanged(e.boardState()); });
        connect(&e, &Evaluation::progress, this, [this, i](int secondsLeft, int percent) {
            // The first board still running speaks for all: they go in step.
            for (int j = 0; j < i; ++j)
                if (m_station->session(j).evaluation().running()) return;
            showProgress(secondsLeft, percent);
        });
    }
    connect(m_station.get(), &Station::boardFinished, this, [this](int board, const QString&) { boardFinished(board); });
    connect(m_station.get(), &Station::finished, this, &StationDialog::finished);

    for (int row = 0; row < rows; ++row)
        for (int c = Ch1Column; c < ColumnCount; ++c) setCell(row, c, QString());
    m_verdict->clear();
    m_save->setEnabled(false);
    setEditable(false);
    m_answers->say(refused.isEmpty() ? QString() : QStringLiteral("Not opened: %1").arg(refused.join(QStringLiteral("; "))));
    if (m_windowBoardIndex >= 0) startRouting(&m_station->session(m_windowBoardIndex));
    m_readouts->start();
    m_station->start();
    return true;
}

void StationDialog::abortRun()
{
    if (running()) m_station->abort(QStringLiteral("aborted by the operator"));
}

void StationDialog::endForExit()
{
    if (running()) m_station->endNow(QStringLiteral("the program was closed"));
}

void StationDialog::showReadouts()
{
    if (!m_station) return;
    for (int i = 0; i < m_station->boardCount() && i < m_table->rowCount(); ++i) {
        const Session::Readouts& r = m_station->session(i).readouts();
        setCell(i, Ch1Column, channelText(r.values, 1));
        setCell(i, Ch2Column, channelText(r.values, 2));
        setCell(i, Status1Column, statusText(r.status, 1));
        setCell(i, Status2Column, statusText(r.status, 2));
    }
}

void StationDialog::boardFinished(int board)
{
    const Session& s = m_station->session(board);
    const bool pass = s.report().verdict == Verdict::Pass;
    setCell(board, VerdictColumn, stationBoardVerdict(s.report()));
    setCell(board, StepColumn, s.report().aborted.isEmpty() ? QStringLiteral("done")
                                                            : QStringLiteral("ended early: %1").arg(s.report().aborted));
    if (QTableWidgetItem* item = m_table->item(board, VerdictColumn)) item->setForeground(pass ? QColor(0x1e7b34) : QColor(0xb3261e));
    // The window has its port back as soon as its board is done.
    if (board == m_windowBoardIndex) endRouting();
}

void StationDialog::finished(const QString& error)
{
    endRouting();
    m_readouts->stop();
    showReadouts();
    // The station's own ports go back to the system; the window keeps its own.
    for (const std::unique_ptr<SerialControl>& comm : m_comms)
        if (comm->portOpen()) (void)comm->setPortOpen(false);
    m_answers->stopAsking();
    setEditable(true);
    showProgress(0, 100);
    const StationReport& report = m_station->report();
    showVerdict(stationVerdictSentence(report), report.verdict == Verdict::Pass);
    m_answers->say(error.isEmpty() ? QStringLiteral("Done: %1.html").arg(QDir::toNativeSeparators(m_station->name()))
                                   : QStringLiteral("%1 Save Report... writes it elsewhere.").arg(error));
    // Also when the summary could not be written where it ran: it is in memory.
    m_save->setEnabled(true);
    // Each board's run on its own, once every report is written.
    if (error.isEmpty()) {
        QStringList reports;
        for (int i = 0; i < m_station->boardCount(); ++i) reports << m_station->session(i).setup().name + QStringLiteral(".json");
        deliverRuns(reports, m_station->name());
    }
}

bool StationDialog::saveReport(const QString& chosen, QString* error)
{
    if (!m_station || !m_station->reportDone()) return false;
    return saveStationAs(*m_station, chosen, error);
}

void StationDialog::askSave()
{
    askReportName(QFileInfo(m_station->name()).fileName(), [this](const QString& path) {
        QString why;
        m_answers->say(saveReport(path, &why) ? QStringLiteral("Saved %1.html, .json, .xml and each board's files").arg(QDir::toNativeSeparators(path)) : why);
    });
}
