// What the single-board and the station dialog have in common: the plan,
// the operator and the reference in a form (RunSetupForm), the instruction
// line with its answers (StepAnswers), the folder runs are written to, the
// clock of their recordings, the progress bar and the verdict line, and the
// signals by which the window hears of a run on its own board. Each dialog
// builds its own layout from these pieces, in the order its keys go.
#pragma once

#include "boardstate.h"
#include "recorder.h"

#include <QDialog>
#include <QString>

#include <functional>

class QBoxLayout;
class QFileDialog;
class QLabel;
class QProgressBar;
class QPushButton;

namespace quorvid {

namespace evaluate {
class Session;
}

class RunDialog : public QDialog {
    Q_OBJECT

public:
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

protected:
    explicit RunDialog(QWidget* parent);

    // The window hears that its board is the run's; endRouting gives it back
    // (once, however often it is called).
    void startRouting(evaluate::Session* session);
    void endRouting();

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
    QProgressBar* m_progress = nullptr;
    QLabel* m_verdict = nullptr;
    QPushButton* m_save = nullptr;

private:
    bool m_routed = false;  // between runStarted and runEnded
};

}  // namespace quorvid
