// The main window: the readouts of both channels, the sweep chart, the
// command buttons, the Port menu and the status bar with the clock.
//
// Every control is placed at its designed twips figure inside a 675 x 487
// client area below the menu bar; the window cannot be resized, so nothing
// ever moves. Controls carry their design names as object names.
#pragma once

#include "boardstate.h"
#include "framer.h"
#include "frames.h"
#include "portmenu.h"
#include "serialcontrol.h"

#include <QDateTime>
#include <QLocale>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QTime>

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

class QAction;
class QFileDialog;
class QLabel;
class QMessageBox;
class QTimer;
class frmAbout;
class EvaluateDialog;
class HistoryAction;
class StationDialog;

namespace quorvid {
namespace evaluate {
class Session;
}
namespace record {
class Recorder;
}
class Graph;
class SerialControl;
class SimpleStatusBar;
class SweepChart;

// The locale's long time format without its time-zone part, seconds kept:
// "HH:mm:ss t" gives "HH:mm:ss", "h:mm:ss AP, t" gives "h:mm:ss AP".
// Quoted literal text is left alone.
QString timeFormatWithoutZone(const QString& format);

// The clock's text for a time of day in the locale's own format, with seconds.
QString clockText(QTime time, const QLocale& locale);
}  // namespace quorvid

class Form1 : public QMainWindow, public quorvid::PortMenu {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 675;
    static constexpr int kClientHeight = 487;
    // How long a refused command is named in the status bar before the clock returns.
    static constexpr int kNoticeMilliseconds = 4000;

    explicit Form1(quorvid::SerialControl& comm, QWidget* parent = nullptr);
    ~Form1() override;

    // Runs once, before the window is first shown: status texts, Port menu,
    // probe, open, grid, speed label, and the board put into the state the
    // window shows.
    void Form_Load();

    // The port found at start-up; 0 when none opened. The Port menu does not
    // change it.
    std::uint8_t ActivePort = 0;

    // The Port menu as the serial link sees it.
    void setPortChecked(int port, bool checked) override;
    void setPortEnabled(int port, bool enabled) override;
    QAction* portItem(int port) const;

    // The message window currently shown (no port, a refused open, a lost
    // port), else null. It never blocks the window.
    QMessageBox* messageWindow() const;
    // True once File > Exit or closing the window has ended the program.
    bool hasEnded() const { return m_ended; }

    // Records what arrives into path (the CSV file) and the .bytes file
    // beside it, from the next byte read on, until stopRecording, a refused
    // write, or the end of the program. Files that cannot be made are named
    // in the message window, with the system's reason also in *error, and
    // nothing is recorded. Recording does not change what the window shows.
    bool startRecording(const QString& path, QString* error = nullptr);
    // Writes out and closes both files; nothing when not recording.
    void stopRecording();
    bool isRecording() const { return m_recorder != nullptr; }
    quorvid::record::Recorder* recorder() const { return m_recorder.get(); }
    // File > Record... / Stop Recording.
    QAction* recordItem() const { return m_menRecord; }
    // The save dialog of File > Record... while it is open, else null.
    QFileDialog* recordDialog() const;
    // The CSV name File > Record... proposes for a recording begun at time.
    static QString proposedRecordingName(const QDateTime& time);

    // Evaluate > Run Evaluation...: the evaluation's dialog, non-modal.
    void menEvaluate_Click();
    EvaluateDialog* evaluateDialog() const;
    // Evaluate > History...: the evaluations folder summarised beside it and
    // the page opened.
    void menHistory_Click();
    HistoryAction* historyAction();
    // Evaluate > Run Station...: several boards at once, non-modal; the
    // window's own board among them when its port is one of the station's.
    void menStation_Click();
    StationDialog* stationDialog() const;
    // The evaluation under way, or null when none: it takes the frames before
    // any recording does; the board's command controls, the Port menu and
    // File > Record are disabled while it runs.
    void setEvaluation(quorvid::evaluate::Session* session);
    quorvid::SerialControl& serialControl() { return m_comm; }
    // What the board was last told: the speed the Speed label shows, the
    // mode and filter the option buttons show.
    const quorvid::BoardState& boardState() const { return m_board; }
    // The board was told something by someone else (the evaluation): the
    // Speed label and the option buttons follow, so the window never
    // contradicts the board.
    void followBoard(const quorvid::BoardState& state);

    // Channel status texts by code; filled by Form_Load, never written after.
    std::array<QString, quorvid::kStatusTextCount> StatusText;
    // The time of day last written to the status bar.
    QTime ClockTime;

    quorvid::Framer& framer() { return m_framer; }
    quorvid::SweepChart& chart() { return *m_chart; }
    quorvid::SimpleStatusBar& statusBar1() { return *m_stsBar1; }
    // The area below the menu bar that every control is placed in.
    QWidget* clientArea() const { return m_client; }
    // The About window while it is open, else null.
    frmAbout* aboutWindow() const;

public slots:
    // The serial control's event: drains it into the framer and, when a frame
    // landed in a slot, arms the readout refresh.
    void MSComm1_OnComm();
    // Takes the identification, status and values slots into the labels.
    void Val_Update_Timer();
    // Writes the time of day into the status bar.
    void RTC_Timer_Timer();

    void GetInfo_Click();
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Option4_Click();
    void Zero1_Click();
    void Zero2_Click();
    void Zeroall_Click();
    void SelectSpeed_Click();
    void menAbout_Click();
    void menEnde_Click();
    // Asks for a file and starts recording, or stops the recording under way.
    void menRecord_Click();
    // Asks for a recording and opens it in a review window of its own.
    void menOpenRecording_Click();
    void setCOM1_Click();
    void setCOM2_Click();
    void setCOM3_Click();
    void setCOM4_Click();
    void setCOM5_Click();
    void setCOM6_Click();
    void setCOM7_Click();
    void setCOM8_Click();

protected:
    void showEvent(QShowEvent* event) override;
    // Closing the window ends the program as File > Exit does.
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void buildReadouts();
    void buildChart();
    void buildControlArea();
    void buildTabOrder();
    // Sends through the serial control; a refusal is named in the status bar.
    void send(std::string_view command);
    // Sends the command of a button or option button; the board state
    // follows it.
    void sendCommandOf(std::string_view control);
    // The Speed label and the option buttons as m_board has them.
    void showBoardState();
    QString statusCaption(quorvid::Byte code) const;
    void portChosen(std::uint8_t port);
    void portLost(const quorvid::CommResult& reason);
    void refreshPortTips();
    // The devices that COM1 .. COM8 stand for, for the message of a start-up
    // that found no port.
    QString triedDevices() const;
    // Close the port if open, then end the program at once.
    void shutDown();
    // A message window titled after its subject; shown at once when the
    // window is up, otherwise as soon as it is.
    void tell(const QString& subject, const QString& text);
    void showPendingMessage();
    // The window title and the File menu's item follow the recording.
    void showRecordingState();
    void recordingFailed(const QString& message);
    // A comment in the .bytes file, when recording.
    void noteInRecording(const QString& text);

    // Why a dialog cannot start a run on the window's port now, or empty.
    QString windowPortInUse() const;
    // The recording's observer, behind the evaluation when one runs.
    void observeFrames(quorvid::FrameObserver* recording);

    quorvid::SerialControl& m_comm;
    quorvid::BoardState m_board;
    quorvid::Framer m_framer;
    quorvid::evaluate::Session* m_evaluation = nullptr;
    QPointer<EvaluateDialog> m_evaluateDialog;
    HistoryAction* m_history = nullptr;
    QPointer<StationDialog> m_stationDialog;
    QWidget* m_client = nullptr;
    quorvid::Graph* m_graph = nullptr;
    std::unique_ptr<quorvid::SweepChart> m_chart;

    QLabel* m_identify = nullptr;
    QLabel* m_stat1 = nullptr;
    QLabel* m_stat2 = nullptr;
    std::array<QLabel*, 7> m_values{};  // SYS1 MAP1 DIA1 SYS2 MAP2 DIA2 PULSE
    QLabel* m_speed = nullptr;
    quorvid::SimpleStatusBar* m_stsBar1 = nullptr;

    QTimer* m_valUpdate = nullptr;
    QTimer* m_rtcTimer = nullptr;
    QPointer<frmAbout> m_about;
    std::array<QAction*, 8> m_portItems{};
    QPointer<QMessageBox> m_message;
    QString m_pendingSubject;
    QString m_pendingText;
    bool m_placed = false;
    bool m_ended = false;

    QAction* m_menRecord = nullptr;
    QPointer<QFileDialog> m_recordDialog;
    QString m_recordFolder;  // where the last recording of this run went
    std::unique_ptr<quorvid::record::Recorder> m_recorder;
};
