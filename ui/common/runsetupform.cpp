#include "runsetupform.h"

#include <QBoxLayout>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace quorvid {

using namespace evaluate;

RunSetupForm::RunSetupForm(QWidget* owner, QBoxLayout* layout, const std::function<void(QFormLayout* form)>& afterOperator)
    : QObject(owner)
    , m_owner(owner)
{
    auto* form = new QFormLayout;
    auto* planRow = new QHBoxLayout;
    m_planLabel = new QLabel(owner);
    m_planLabel->setObjectName(QStringLiteral("planLabel"));
    m_planLabel->setWordWrap(true);
    m_planLabel->setTextFormat(Qt::PlainText);
    auto* open = new QPushButton(QStringLiteral("Open P&lan..."), owner);
    open->setObjectName(QStringLiteral("openPlan"));
    connect(open, &QPushButton::clicked, this, &RunSetupForm::openPlan);
    planRow->addWidget(m_planLabel, 1);
    planRow->addWidget(open);
    form->addRow(QStringLiteral("Plan:"), planRow);
    m_operator = new QLineEdit(owner);
    m_operator->setObjectName(QStringLiteral("operatorName"));
    form->addRow(QStringLiteral("&Operator:"), m_operator);
    if (afterOperator) afterOperator(form);
    m_command = new QLineEdit(owner);
    m_command->setObjectName(QStringLiteral("referenceCommand"));
    m_command->setPlaceholderText(QStringLiteral("empty: ask for each reference; e.g. printf \"ch1 {ch1}\\nch2 {ch2}\\nrate {rate}\\n\" > /tmp/ctl"));
    form->addRow(QStringLiteral("&Reference command:"), m_command);
    m_equipment = new QLineEdit(owner);
    m_equipment->setObjectName(QStringLiteral("referenceEquipment"));
    m_equipment->setPlaceholderText(QStringLiteral("e.g. the calibrator's serial number and calibration due date"));
    form->addRow(QStringLiteral("Reference e&quipment:"), m_equipment);
    layout->addLayout(form);

    setPlan(defaultPlan(), QStringLiteral("the default plan"));
}

void RunSetupForm::setPlan(const Plan& plan, const QString& source)
{
    m_plan = plan;
    QStringList names;
    for (const Check& c : plan.checks) names << c.name;
    m_planLabel->setText(QStringLiteral("%1: %2").arg(source, names.join(QStringLiteral(", "))));
    emit planChanged();
}

void RunSetupForm::openPlan()
{
    const QString path = QFileDialog::getOpenFileName(m_owner, QStringLiteral("Open Plan"), {}, QStringLiteral("Plans (*.toml);;All files (*)"));
    if (path.isEmpty()) return;
    const PlanResult r = readPlanFile(path);
    if (!r.plan) {
        emit said(QStringLiteral("Plan refused: %1").arg(r.error));
        return;
    }
    emit said(QString());
    setPlan(*r.plan, QFileInfo(path).fileName());
}

ReferenceChoice RunSetupForm::chooseReference() const { return evaluate::chooseReference(m_command->text()); }

RunRequest RunSetupForm::runRequest(const QString& name) const
{
    return {name, m_operator->text(), QStringLiteral("quorvid"), m_equipment->text().trimmed()};
}

void RunSetupForm::clearCommand() { m_command->clear(); }

void RunSetupForm::focusOperator() { m_operator->setFocus(); }

}  // namespace quorvid
