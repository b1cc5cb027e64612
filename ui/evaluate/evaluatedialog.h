// Evaluate > Run Evaluation...: the window's front end over evaluate/. A
// non-modal dialog with the plan (the default one or a file), the operator,
// an optional reference command, Start; then the steps with their state, the
// current instruction with Measure / Skip / Abort, a progress bar with the
// seconds left, the results as they come, the verdict and Save Report....
// The window's readouts and chart go on meanwhile.
#pragma once

#include "plan.h"
#include "recorder.h"

#include <QDialog>

#include <memory>

class Form1;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace quorvid::evaluate {
class OperatorReferenceSetter;
class ReferenceSetter;
class Session;
}  // namespace quorvid::evaluate

class EvaluateDialog : public QDialog {
    Q_OBJECT

public:
    explicit EvaluateDialog(Form1& window);
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
    // .xml, .csv, .bytes).
    bool saveReport(const QString& name, QString* error = nullptr);

    quorvid::evaluate::Session* session() const { return m_session.get(); }
    void setPlan(const quorvid::evaluate::Plan& plan, const QString& source);
    // The folder runs are written to before Save Report...; tests set their own.
    void setWorkFolder(const QString& folder) { m_workFolder = folder; }
    // The clock of the runs' recordings, for tests on simulated time.
    void setClock(quorvid::record::Recorder::Clock clock) { m_clock = std::move(clock); }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void openPlan();
    void finished(const QString& reportError);
    void askSave();
    void showSteps();

    Form1& m_window;
    quorvid::evaluate::Plan m_plan;
    QString m_planSource;
    QString m_workFolder;
    quorvid::record::Recorder::Clock m_clock;
    std::unique_ptr<quorvid::evaluate::ReferenceSetter> m_reference;
    quorvid::evaluate::OperatorReferenceSetter* m_person = nullptr;
    std::unique_ptr<quorvid::evaluate::Session> m_session;

    QLabel* m_planLabel = nullptr;
    QLineEdit* m_operator = nullptr;
    QLineEdit* m_command = nullptr;
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
