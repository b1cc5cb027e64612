// What the single-board and the station dialog have in common: the plan,
// the operator and the reference in a form (RunSetupForm), the instruction
// line with its answers (StepAnswers), the folder runs are written to, the
// clock of their recordings, the progress bar and the verdict line, and the
// signals by which the window hears of a run on its own board. Each dialog
// builds its own layout from these pieces, in the order its keys go.
#pragma once

#include "boardstate.h"
#include "plan.h"
#include "recorder.h"
#include "resultsstore.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThread>

#include <functional>

class QBoxLayout;
class QFormLayout;
class QLabel;
class QProgressBar;
class QPushButton;

namespace quorvid {

namespace evaluate {
class Session;
}
class RunSetupForm;
class StepAnswers;

class RunDialog : public QDialog {
    Q_OBJECT

public:
    // Runs the plan with what the fields hold; false with the reason on the
    // instruction line when it cannot start.
    virtual bool start() = 0;
    // Ends the run early; its reports say so.
    virtual void abortRun() = 0;
    // The program is closing: the run ends now, its boards put back and its
    // reports written, while the ports are still open.
    virtual void endForExit() = 0;
    virtual bool running() const = 0;
    // Writes the last run's report again under NAME, the files each dialog
    // says; false with *error when it could not.
    virtual bool saveReport(const QString& name, QString* error = nullptr) = 0;

    // The plan the next run follows, and where it came from.
    void setPlan(const evaluate::Plan& plan, const QString& source);
    // The folder runs are written to before Save Report...; tests set their own.
    void setWorkFolder(const QString& folder) { m_workFolder = folder; }
    QString workFolder() const { return m_workFolder; }
    // The program's own: "evaluations" in its data folder.
    static QString defaultWorkFolder();
    // The clock of the runs' recordings, for tests on simulated time.
    void setClock(record::Recorder::Clock clock) { m_clock = std::move(clock); }

signals:
    // A run begins on the window's board: until runEnded the session takes
    // the board's frames (the front end puts it between its framer and its
    // own observers), and the board is the run's alone.
    void runStarted(quorvid::evaluate::Session* session);
    // The run told the window's board something; state is what it has been
    // told now.
    void boardStateChanged(const quorvid::BoardState& state);
    // The run is over, the board put back as it was when the port allowed;
    // the frames are the front end's again.
    void runEnded();
    // The run's reports were handed to the results store; line is what the
    // verdict line now says of them; kept, whether every one is stored or
    // waits in the outbox (none left in its report files only).
    void delivered(const QString& line, bool kept);

protected:
    explicit RunDialog(QWidget* parent);
    ~RunDialog() override;

    // The window hears that its board is the run's; endRouting gives it back
    // (once, however often it is called).
    void startRouting(evaluate::Session* session);
    void endRouting();

    // The setup form at the end of LAYOUT, with the dialog's own rows after
    // the operator's; then the instruction line and its answers, which say
    // what Open Plan... has to say.
    void addSetupForm(QBoxLayout* layout, const std::function<void(QFormLayout* form)>& afterOperator = {});
    void addStepAnswers(QBoxLayout* layout);
    // Start and Abort Run, named start<WHAT> and abort<WHAT>, for the dialog
    // to lay out; Abort Run is enabled while a run goes on.
    void makeRunButtons(const QString& what);
    void showRunning(bool running);
    // WHY on the instruction line and true; false when it is empty.
    bool refused(const QString& why);

    // The results store the form names, kept for the run about to start;
    // false with the reason on the instruction line when it is not one.
    bool chooseRunStore();
    // Stores each report (its NAME.json, written) on a thread of its own,
    // the station's NAME with each board's, after the run; the verdict line
    // then says what became of them. Start waits for it: nothing is stored
    // while a run measures.
    void deliverRuns(const QStringList& reports, const QString& stationName = {});
    bool delivering() const { return m_delivery != nullptr; }

    // The work folder made if need be; why not, or empty.
    QString makeWorkFolder() const;
    // A new run's name in the work folder: PREFIX and the time of day,
    // "…/evaluation-20260102-154500".
    QString newRunName(const QString& prefix) const;

    // The progress bar, empty until a run says how far it is.
    QProgressBar* addProgress(QBoxLayout* layout);
    void showProgress(int secondsLeft, int percent);
    // The verdict in large letters with Save Report... beside it, disabled
    // until a run has its report; the button calls askSave.
    void addVerdictLine(QBoxLayout* layout);
    void showVerdict(const QString& text, bool pass);
    // Asks where to save the report, NAME offered, and hands the path chosen
    // to saveTo; the dialog is not modal, the window goes on.
    void askReportName(const QString& name, std::function<void(const QString& path)> saveTo);
    virtual void askSave() = 0;

    QString m_workFolder;
    record::Recorder::Clock m_clock;
    RunSetupForm* m_form = nullptr;
    StepAnswers* m_answers = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_abort = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_verdict = nullptr;
    QPushButton* m_save = nullptr;

private:
    bool m_routed = false;  // between runStarted and runEnded
    store::StoreAddress m_store;  // the run's, chosen when it starts
    QPointer<QThread> m_delivery;
};

}  // namespace quorvid
