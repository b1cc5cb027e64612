// An evaluation plan: the checks to run, in order, with their references,
// durations and limits. Read from TOML; never holds a command to run, so a plan
// from someone else can only ask for pressures, never execute anything.
#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>
#include <string_view>
#include <vector>

namespace quorvid::evaluate {

enum class CheckKind { Identify, Speed, Mode, Zero, Static, Dynamic, Drift, Frequency, Mains };

QString kindName(CheckKind kind);

// What one channel is set to during a dynamic check: a waveform kind of the
// pressure source ("arterial" or "pa") and its systolic/diastolic.
struct Waveform {
    QString shape;
    double sys = 0, dia = 0;
    std::optional<double> mean;  // from the plan; else dia + (sys - dia) / 3
    double meanReference() const { return mean ? *mean : dia + (sys - dia) / 3.0; }
    QString controlWords() const;  // "arterial 120/80"
};

// What a plan gives a check. Which members a kind uses, and their defaults,
// are in its description (checkkinds.h); a check is made from those.
struct Check {
    CheckKind kind = CheckKind::Identify;
    QString name;  // as the report shows it; the kind's name unless the plan gives one

    double timeoutS = 0;    // identify, mode, zero: the wait for the board's answer
    double settleS = 0;     // after a reference or a speed change, before measuring
    double measureS = 0;    // speed, zero, static, drift, frequency (each): the measurement

    std::vector<int> rates;  // speed: frames a second, each 50, 100 or 150
    double tolerancePercent = 0;

    std::vector<double> points;  // static: references in mmHg, both channels
    double limitMmHg = 0;        // static, dynamic, zero: the larger of this...
    double limitPercent = 0;     // ...and this percentage of the reference

    Waveform ch1, ch2;           // dynamic
    int beats = 0;
    double pulseLimitPerMin = 0;
    double pulseLimitPercent = 0;

    double pointMmHg = 0;        // drift
    double limitMmHgPerHour = 0;

    std::vector<double> frequenciesHz;  // frequency: a sine at each, on both channels
    double meanMmHg = 0, amplitudeMmHg = 0;
    double limitDb = 0;  // each gain against the lowest frequency's, either way
    int speed = 0;       // the frame rate it measures at; the one before is set again after
    // mains: interference of amplitudeMmHg at each of frequenciesHz over a
    // static meanMmHg, rejected by at least this much by the filter told for it
    double rejectionDb = 0;

    // A passing result whose |error| is above this share of its limit is
    // marginal; the plan's when the check gives none, no band when neither does.
    std::optional<double> marginalPercent;
    // Where the check's limits come from: a standard's clause, a customer's
    // requirements, a house rule. Shown beside them in the report.
    std::optional<QString> source;

    double limitFor(double reference) const;
};

// The plan's [reference]: what sets the pressures and how well. Its accuracy
// at a setting is accuracy_mmHg plus accuracy_percent of the setting; a
// datasheet's figure is a rectangular bound, a calibration certificate's
// an expanded uncertainty with its k.
struct ReferenceAccuracy {
    double accuracyMmHg = 0, accuracyPercent = 0;
    QString distribution;  // "rectangular" or "normal"
    double k = 2;          // a normal distribution's coverage factor
    QString id, certificate, due;
    double accuracyAt(double setting) const;
    bool normal() const { return distribution == u"normal"; }
};

// The plan's [certificate]: who issues it.
struct CertificateIssuer {
    QString organisation, address;
};

// How a result's uncertainty bears on its statement: simple (|error| <= limit),
// guarded (a guard band inside the limit), guarded-nonbinary (conditional
// statements within the band either side of it).
enum class DecisionRule { Simple, Guarded, GuardedNonbinary };
QString decisionRuleName(DecisionRule rule);

// defaultPlan() or parsePlan() make one, with [plan]'s defaults.
struct Plan {
    QString name;
    int rate = 0;  // beats a minute of the reference source
    std::vector<Check> checks;
    std::optional<double> marginalPercent;  // for every check that gives none
    // [plan] decision_rule and guard_factor, absent unless given (so a plan
    // written before them reads and writes as it did): "simple" and 1.
    std::optional<QString> decisionRule;
    std::optional<double> guardFactor;
    double guard() const { return guardFactor.value_or(1); }
    std::optional<ReferenceAccuracy> reference;  // none: uncertainties not stated
    std::optional<CertificateIssuer> certificate;

    DecisionRule rule() const;

    // The band a check's results are judged marginal above, in percent of the
    // limit; nullopt for none.
    std::optional<double> marginalFor(const Check& check) const;
};

Plan defaultPlan();
// The default plan as commented TOML, the starting point for one's own.
QString defaultPlanToml();

struct PlanResult {
    std::optional<Plan> plan;
    QString error;  // "plan.toml line 12: ..." when plan is empty
};
// source names the text in messages (a file name).
PlanResult parsePlan(std::string_view toml, const QString& source);
PlanResult readPlanFile(const QString& path);

// The plan as run, for the report.
QJsonObject planJson(const Plan& plan);
// A plan read back from planJson's object through the same keys, ranges and
// refusals as a TOML plan; source names it in messages ("r.json plan").
PlanResult parsePlanJson(const QJsonObject& json, const QString& source);

}  // namespace quorvid::evaluate
