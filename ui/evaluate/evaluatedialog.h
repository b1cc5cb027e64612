// Evaluate > Run Evaluation...: the window's front end over evaluate/. A
// non-modal dialog with the plan (the default one or a file), the operator,
// an optional reference command, Start; then the steps with their state, the
// current instruction with Measure / Skip / Abort, a progress bar with the
// seconds left, the results as they come, the verdict and Save Report....
// The window's readouts and chart go on meanwhile.
//
// The dialog knows the board by its serial control and what it was last
// told, nothing of the window that opens it: the window hears of a run
// through RunDialog's signals.
#pragma once

#include "boardstate.h"
#include "frontend.h"
#include "plan.h"
#include "rundialog.h"

#include <functional>
#include <memory>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace quorvid {
class RunSetupForm;
class SerialControl;
class StepAnswers;
}

class EvaluateDialog : public quorvid::RunDialog {
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
    // Why the port cannot be evaluated now (another run holds it), or empty;
    // asked when a run starts.
    void setPortCheck(std::function<QString()> check) { m_portCheck = std::move(check); }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void finished(const QString& reportError);
    void askSave() override;
    void showSteps();

    quorvid::SerialControl& m_comm;
    const quorvid::BoardState& m_board;
    std::function<QString()> m_portCheck;
    quorvid::evaluate::ReferenceChoice m_reference;
    std::unique_ptr<quorvid::evaluate::Session> m_session;

    quorvid::RunSetupForm* m_form = nullptr;
    QLineEdit* m_boardId = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_abort = nullptr;
    QTreeWidget* m_steps = nullptr;
    quorvid::StepAnswers* m_answers = nullptr;
    QPlainTextEdit* m_results = nullptr;
};
