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
class QPushButton;
class QPlainTextEdit;
class QTreeWidget;

namespace quorvid {
class SerialControl;
}

class EvaluateDialog : public quorvid::RunDialog {
    Q_OBJECT

public:
    // board is what the board was last told, read when a run starts; it
    // must outlive the dialog, as comm must.
    EvaluateDialog(quorvid::SerialControl& comm, const quorvid::BoardState& board, QWidget* parent = nullptr);
    ~EvaluateDialog() override;

    // Refused with no port open, or when another run holds it.
    bool start() override;
    void abortRun() override;
    // The board as it was before, the report written to the work folder.
    void endForExit() override;
    bool running() const override;
    // Writes the last run's report and recording under NAME (.json, .html,
    // .xml, .csv, .bytes); a file already there is replaced only by a whole
    // new one. A report that could not be written to the work folder is
    // written from memory, with what of the recording can still be read:
    // true then, *error naming any part of the recording not saved.
    bool saveReport(const QString& name, QString* error = nullptr) override;

    // The last run's certificate as a PDF at path; false with *error naming
    // the file and the system's reason, or that no run has ended.
    bool exportCertificate(const QString& path, QString* error = nullptr);
    // The issuer the certificate names when the plan's [certificate] does
    // not: the window's settings, certificate/organisation and /address.
    static quorvid::evaluate::CertificateIssuer settingsIssuer();

    quorvid::evaluate::Session* session() const { return m_session.get(); }
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
    void askPrint();
    void askExport();

    quorvid::SerialControl& m_comm;
    const quorvid::BoardState& m_board;
    std::function<QString()> m_portCheck;
    quorvid::evaluate::ReferenceChoice m_reference;
    std::unique_ptr<quorvid::evaluate::Session> m_session;

    QLineEdit* m_boardId = nullptr;
    QLineEdit* m_ambient = nullptr;
    QPushButton* m_print = nullptr;
    QPushButton* m_export = nullptr;
    QTreeWidget* m_steps = nullptr;
    QPlainTextEdit* m_results = nullptr;
};
