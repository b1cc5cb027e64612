// Evaluate > Run Evaluation...: the window's front end over evaluate/. A
// non-modal dialog with the plan (the default one or a file), the operator,
// an optional reference command, Start; then the steps with their state, the
// current instruction with Measure / Skip / Abort, a progress bar with the
// seconds left, the results as they come, the verdict and Save Report....
// The window's readouts and chart go on meanwhile.
//
// The dialog knows the board by its serial control and what it was last
// told, nothing of the window that opens it: the window hears of a run
// through the signals below.
#pragma once

#include "boardstate.h"
#include "frontend.h"
#include "plan.h"
#include "recorder.h"

#include <QDialog>

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace quorvid {
class SerialControl;
}

class EvaluateDialog : public QDialog {
    Q_OBJECT

public:
    // board is what the board was last told, read when a run starts; it
    // must outlive the dialog, as comm must.
    EvaluateDialog(quorvid::SerialControl& comm, const quorvid::BoardState& board, QWidget* parent = nullptr);
    ~EvaluateDialog() override;

    // Runs the plan with what the fields hold; false with the reason shown
    // in the dialog when it cannot start (no port, a file not made).
    bool start();
    // Ends a run early; its report says so.
    void abortRun();
    // The program is closing: a run ends now, the board as it was before and
    // the report written to the work folder, while the port is still open.
    void endForExit();
    bool running() const;
    // Writes the last run's report and recording under NAME (.json, .html,
    // .xml, .csv, .bytes); a file already there is replaced only by a whole
    // new one. A report that could not be written to the work folder is
    // written from memory, with what of the recording can still be read:
    // true then, *error naming any part of the recording not saved.
    bool saveReport(const QString& name, QString* error = nullptr);

    quorvid::evaluate::Session* session() const { return m_session.get(); }
    void setPlan(const quorvid::evaluate::Plan& plan, const QString& source);
    // The folder runs are written to before Save Report...; tests set their own.
    void setWorkFolder(const QString& folder) { m_workFolder = folder; }
    QString workFolder() const { return m_workFolder; }
    // The program's own: "evaluations" in its data folder.
    static QString defaultWorkFolder();
    // The clock of the runs' recordings, for tests on simulated time.
    void setClock(quorvid::record::Recorder::Clock clock) { m_clock = std::move(clock); }
    // Why the port cannot be evaluated now (another run holds it), or empty;
    // asked when a run starts.
    void setPortCheck(std::function<QString()> check) { m_portCheck = std::move(check); }

signals:
    // A run begins: until runEnded its session takes the board's frames (the
    // front end puts it between its framer and its own observers), and the
    // board is the run's alone.
    void runStarted(quorvid::evaluate::Session* session);
    // The run told the board something; state is what it has been told now.
    void boardStateChanged(const quorvid::BoardState& state);
    // The run is over, the board put back as it was when the port allowed;
    // the frames are the front end's again.
    void runEnded();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void openPlan();
    void finished(const QString& reportError);
    void askSave();
    void showSteps();
    void endRouting();

    quorvid::SerialControl& m_comm;
    const quorvid::BoardState& m_board;
    quorvid::evaluate::Plan m_plan;
    QString m_planSource;
    QString m_workFolder;
    quorvid::record::Recorder::Clock m_clock;
    std::function<QString()> m_portCheck;
    quorvid::evaluate::ReferenceChoice m_reference;
    std::unique_ptr<quorvid::evaluate::Session> m_session;
    bool m_routed = false;  // between runStarted and runEnded

    QLabel* m_planLabel = nullptr;
    QLineEdit* m_operator = nullptr;
    QLineEdit* m_boardId = nullptr;
    QLineEdit* m_command = nullptr;
    QLineEdit* m_equipment = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_abort = nullptr;
    QTreeWidget* m_steps = nullptr;
    QLabel* m_instruction = nullptr;
    QPushButton* m_measure = nullptr;
    QPushButton* m_skip = nullptr;
    QPushButton* m_abortStep = nullptr;
    QProgressBar* m_progress = nullptr;
    QPlainTextEdit* m_results = nullptr;
    QLabel* m_verdict = nullptr;
    QPushButton* m_save = nullptr;
};
