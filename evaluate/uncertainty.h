// The uncertainty of each result and the statement of conformity made from it.
// A result's budget is the repeatability of its readings (type A), the
// reference's stated accuracy at its setting and the board's display
// resolution (type B), combined in quadrature; the coverage factor for
// 95.45 % comes from Student's t at the Welch-Satterthwaite degrees of
// freedom. The plan's decision rule then sets a guard band of guard_factor x U
// inside (guarded) or either side (guarded-nonbinary) of the limit.
// Without the plan's [reference] a result's uncertainty is not stated, and
// every rule judges it as the simple one: |error| <= limit.
#pragma once

#include "evaluation.h"
#include "plan.h"

#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace quorvid::evaluate {

// The board shows whole mmHg, whole beats a minute.
constexpr double kDisplayResolution = 1.0;

// u_c and U = k u_c; nuEff is empty for infinite degrees of freedom.
Uncertainty combineUncertainty(std::vector<UncertaintyComponent> components);

// Student's t at 95.45 % two-sided for nu degrees of freedom (real, > 0);
// 2 for infinite.
double coverageFactor(std::optional<double> nu);

// The reference's part at a setting: its accuracy over sqrt 3 (rectangular)
// or its expanded uncertainty over its k (normal).
UncertaintyComponent referenceComponent(const ReferenceAccuracy& reference, double setting, const QString& name = {});
// A display resolution's part: step / sqrt 12.
UncertaintyComponent resolutionComponent(double step, const QString& name = {});

// The budget of a result under the plan, or nothing when the plan states no
// reference or the result has no figure to judge.
std::optional<Uncertainty> resultUncertainty(const Result& r, const Plan& plan, const Check& check);

// The statement for |error| against limit T with guard band w under a rule:
// simple compares with T alone; guarded passes up to T - w; the nonbinary rule
// says conditional pass up to T and conditional fail up to T + w.
Statement statementFor(double absError, double limit, double guard, DecisionRule rule);

// Gives r its uncertainty and statement under the plan's rule, fails a
// result the guard band takes, and marks marginal results (conditional
// passes among them). Both the live run and judging again call this.
void judgeResult(Result& r, const Plan& plan, const Check& check);

// What a plan's reference and the display resolution say before anything is
// measured (repeatability unknown yet): a refusal when a guarded plan's guard
// band leaves no reading able to pass, else the warnings (one line per check
// whose test uncertainty ratio T/U is below 4; a nonbinary plan's band that
// leaves only conditional passes).
struct PlanPrediction {
    QString refusal;
    QStringList warnings;
};
PlanPrediction predictPlan(const Plan& plan);

// What a result measured, as its line names it: "ch1 300 mmHg", "pulse rate 60 /min".
QString resultName(const Result& r);

QJsonValue uncertaintyJson(const std::optional<Uncertainty>& u);
// Reads back what uncertaintyJson wrote; nothing for null or a malformed object.
std::optional<Uncertainty> uncertaintyFromJson(const QJsonValue& v);

}  // namespace quorvid::evaluate
