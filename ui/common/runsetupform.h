// The rows a run is set up with, the same in every dialog that starts one:
// the plan (the default one or a file, Open Plan...), the operator, the
// reference command (empty: a person sets each reference), the reference
// equipment and the results store (remembered from one run to the next, in
// both dialogs alike), in a form added to the dialog's layout. A dialog may put rows of
// its own after the operator's.
#pragma once

#include "frontend.h"
#include "plan.h"
#include "resultsstore.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QBoxLayout;
class QFormLayout;
class QLabel;
class QLineEdit;
class QWidget;

namespace quorvid {

class RunSetupForm : public QObject {
    Q_OBJECT

public:
    // The rows go into a form at the end of LAYOUT, their widgets OWNER's;
    // afterOperator adds the dialog's own rows below the operator's.
    RunSetupForm(QWidget* owner, QBoxLayout* layout, const std::function<void(QFormLayout* form)>& afterOperator = {});

    const evaluate::Plan& plan() const { return m_plan; }
    // The plan and where it came from, shown with its checks' names.
    void setPlan(const evaluate::Plan& plan, const QString& source);

    // The reference setter the command typed calls for: the command's, or a
    // person asked through the dialog.
    evaluate::ReferenceChoice chooseReference() const;
    // What a run named NAME is started with: its operator and equipment.
    evaluate::RunRequest runRequest(const QString& name) const;

    // The results store as typed: sqlite:PATH, postgresql://..., none, or
    // empty for the default one.
    QString resultsStore() const;
    // The store the runs go to, the typed one remembered for the next time;
    // nullopt with *why when it is not one.
    std::optional<store::StoreAddress> chooseResultsStore(QString* why) const;
    // What the field last remembered: the window's History... reads it too.
    static QString rememberedResultsStore();

    // The command comes from the person who starts a run, each time.
    void clearCommand();
    void focusOperator();

signals:
    // Open Plan... read a plan, or setPlan was called.
    void planChanged();
    // What Open Plan... has to say: why a file was refused, or nothing once
    // a plan is read.
    void said(const QString& text);

private:
    void openPlan();

    QWidget* m_owner;
    evaluate::Plan m_plan;
    QLabel* m_planLabel = nullptr;
    QLineEdit* m_operator = nullptr;
    QLineEdit* m_command = nullptr;
    QLineEdit* m_bench = nullptr;
    QLineEdit* m_equipment = nullptr;
    QLineEdit* m_results = nullptr;
};

}  // namespace quorvid
