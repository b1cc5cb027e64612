#include "runsetupform.h"

#include <QBoxLayout>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>

namespace quorvid {

using namespace evaluate;

namespace {

// The program's own settings, whatever the application's organisation: the
// registry on Windows, a file elsewhere (tests choose files everywhere).
QSettings settings()
{
    return QSettings(QSettings::defaultFormat(), QSettings::UserScope, QStringLiteral("Quorvid"), QStringLiteral("Quorvid"));
}
const QString kResultsKey = QStringLiteral("results/store");
const QString kBenchKey = QStringLiteral("run/bench");

}  // namespace

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
    m_bench = new QLineEdit(owner);
    m_bench->setObjectName(QStringLiteral("bench"));
    m_bench->setText(settings().value(kBenchKey).toString());
    m_bench->setPlaceholderText(QStringLiteral("empty: %1").arg(benchName(QString())));
    m_bench->setToolTip(QStringLiteral("The bench's name in each report and the results store; empty: QUORVID_BENCH, else the host name."));
    form->addRow(QStringLiteral("Benc&h:"), m_bench);
    m_results = new QLineEdit(owner);
    m_results->setObjectName(QStringLiteral("resultsStore"));
    m_results->setText(rememberedResultsStore());
    // Empty: the store QUORVID_RESULTS names, else the bench's own.
    QString why;
    const std::optional<store::StoreAddress> fallback = store::chooseStore(QString(), &why);
    m_results->setPlaceholderText(QStringLiteral("empty: %1; or postgresql://HOST/DBNAME, none")
                                      .arg(fallback ? fallback->display() : why));
    m_results->setToolTip(QStringLiteral("Where each run is stored once its report is written: sqlite:PATH, "
                                         "postgresql://[USER@]HOST[:PORT]/DBNAME or none. A password is best left "
                                         "to PGPASSWORD or the password file."));
    form->addRow(QStringLiteral("Res&ults store:"), m_results);
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
    // Remembered as typed, so that an empty field keeps following the host.
    settings().setValue(kBenchKey, m_bench->text().trimmed());
    return {name, m_operator->text(), QStringLiteral("quorvid"), m_equipment->text().trimmed(), benchName(m_bench->text())};
}

QString RunSetupForm::resultsStore() const { return m_results->text().trimmed(); }

std::optional<store::StoreAddress> RunSetupForm::chooseResultsStore(QString* why) const
{
    std::optional<store::StoreAddress> to = store::chooseStore(resultsStore(), why);
    // The store's reason names the monitor's option; here it is the field.
    if (!to && why) why->replace(QRegularExpression(QStringLiteral("^--results: ")), QStringLiteral("Results store: "));
    // Remembered without its password, which has no place in a settings file:
    // the next time it comes from PGPASSWORD or the password file.
    static const QRegularExpression password(QStringLiteral("^(postgresql://[^:@/]*):[^@/]*@"));
    if (to) settings().setValue(kResultsKey, QString(resultsStore()).replace(password, QStringLiteral("\\1@")));
    return to;
}

QString RunSetupForm::rememberedResultsStore() { return settings().value(kResultsKey).toString(); }

void RunSetupForm::clearCommand() { m_command->clear(); }

void RunSetupForm::focusOperator() { m_operator->setFocus(); }

}  // namespace quorvid
