// Evaluate > Run Station...: several boards evaluated at once against one
// reference, the window's front end over evaluate/'s Station. A non-modal
// dialog with a row per board (its port, chosen among those the Port menu
// maps or typed as a device, and its board ID), the plan, the operator, an
// optional reference command and the reference equipment; while it runs, each row shows the board's live
// readouts (both channels' systolic/diastolic (mean) and status), the step it
// is in and its verdict, above one instruction line with Measure / Skip /
// Abort for all boards; at the end the station's verdict and Save Report....
//
// The dialog knows the window only by its serial control and what its board
// was last told. When the window's own port is one of the station's, the
// station runs that board on the window's control (the port is opened once,
// not twice) and the window hears of it through RunDialog's signals, as it
// does from the single-board dialog, and goes on showing that board.
#pragma once

#include "boardstate.h"
#include "plan.h"
#include "rundialog.h"
#include "station.h"

#include <functional>
#include <memory>
#include <vector>

class QPushButton;
class QTableWidget;
class QTimer;

namespace quorvid {
class SerialControl;
}

class StationDialog : public quorvid::RunDialog {
    Q_OBJECT

public:
    // The table's columns.
    enum Column { PortColumn, IdColumn, Ch1Column, Status1Column, Ch2Column, Status2Column, StepColumn, VerdictColumn, ColumnCount };

    // A serial control, closed, for a board on the port as the operator named
    // it ("COM3", "/dev/ttyUSB2"), and the port number to open it as; the
    // station opens and closes it. Tests hand out scripted controls.
    struct Control {
        std::unique_ptr<quorvid::SerialControl> comm;
        int port = 1;
    };
    using ControlFactory = std::function<Control(const QString& port, int index)>;

    // windowBoard is what the window's board was last told; both must
    // outlive the dialog.
    StationDialog(quorvid::SerialControl& windowComm, const quorvid::BoardState& windowBoard, QWidget* parent = nullptr);
    ~StationDialog() override;

    // A row for a board (up to eight), its port and ID as given; its index.
    int addBoard(const QString& port = {}, const QString& id = {});
    int boardRows() const;

    // On every row's board; refused when no port opens or IDs clash.
    bool start() override;
    void abortRun() override;
    void endForExit() override;
    bool running() const override;
    // NAME.json, .html, .xml and each board's NAME-ID.*.
    bool saveReport(const QString& name, QString* error = nullptr) override;

    quorvid::evaluate::Station* station() const { return m_station.get(); }
    void setControlFactory(ControlFactory factory) { m_factory = std::move(factory); }
    // Why the window's port cannot be evaluated now (a run of the
    // single-board dialog holds it), or empty; asked when a run starts.
    void setWindowPortCheck(std::function<QString()> check) { m_windowPortCheck = std::move(check); }
    // Updates the rows' readouts now (a timer does it four times a second).
    void showReadouts();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void finished(const QString& error);
    void boardFinished(int board);
    void askSave() override;
    void setEditable(bool editable);
    // The row's port as typed or chosen.
    QString portOf(int row) const;
    bool isWindowPort(const QString& port) const;
    void setCell(int row, int column, const QString& text);

    quorvid::SerialControl& m_windowComm;
    const quorvid::BoardState& m_windowBoard;
    ControlFactory m_factory;
    std::function<QString()> m_windowPortCheck;
    quorvid::evaluate::ReferenceChoice m_reference;
    std::vector<std::unique_ptr<quorvid::SerialControl>> m_comms;  // the station's own ports
    std::unique_ptr<quorvid::evaluate::Station> m_station;
    int m_windowBoardIndex = -1;  // the station's board on the window's port

    QTableWidget* m_table = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_remove = nullptr;
    QTimer* m_readouts = nullptr;
};
