// Each result's uncertainty and the statement made from it: the budget's
// worked figures, the coverage factor against Student's t, the edges of each
// rule's zones, and what a plan's reference says before a run.
#include "measure.h"
#include "plan.h"
#include "uncertainty.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace quorvid::evaluate;

namespace {

Plan planOf(const std::string& toml)
{
    const PlanResult p = parsePlan(toml, QStringLiteral("u.toml"));
    EXPECT_TRUE(p.plan) << p.error.toStdString();
    return p.plan ? *p.plan : Plan{};
}

// A mean of n readings with SD s at a static reference.
Result staticMean(double reference, double error, double limit, double s, int n)
{
    Result r;
    r.channel = 1, r.quantity = QStringLiteral("pressure"), r.unit = QStringLiteral("mmHg");
    r.reference = reference, r.mean = reference + error, r.error = error, r.limit = limit, r.sd = s, r.n = n;
    r.repeatability = s / std::sqrt(double(n)), r.repeatabilityDof = n - 1;
    return r;
}

}  // namespace

TEST(Uncertainty, CoverageFactorIsStudentsTAt9545Percent)
{
    // The published t for 95.45 % two-sided.
    const std::pair<double, double> table[] = {{1, 13.97}, {2, 4.53}, {3, 3.31}, {4, 2.87}, {5, 2.65},
                                               {10, 2.28}, {20, 2.13}, {50, 2.05}, {100, 2.03}};
    for (const auto& [nu, t] : table) EXPECT_NEAR(coverageFactor(nu), t, 0.006) << "nu = " << nu;
    EXPECT_EQ(coverageFactor(std::nullopt), 2);
}

TEST(Uncertainty, BudgetsHoldTheirWorkedFigures)
{
    struct Case {
        const char* name;
        const char* reference;  // the plan's [reference]
        Result result;
        std::vector<double> components;  // each standard uncertainty, in order
        double uc, nuEff, k, U;
    };
    const Case cases[] = {
        {"30 readings, a rectangular ±1 mmHg", "accuracy_mmHg = 1", staticMean(100, 0.5, 4, 0.4, 30),
         {0.4 / std::sqrt(30.0), 1 / std::sqrt(3.0), 1 / std::sqrt(12.0)}, 0.650, 181562, 2.00, 1.30},
        {"repeatability dominates: 4 readings, SD 3", "accuracy_mmHg = 0.1", staticMean(100, 0.5, 4, 3, 4),
         {1.5, 0.1 / std::sqrt(3.0), 1 / std::sqrt(12.0)}, 1.529, 3.24, 3.170, 4.845},
        {"a certificate's ±0.5 mmHg at k = 2 and 0.1 % of 200", "accuracy_mmHg = 0.5\naccuracy_percent = 0.1\ndistribution = \"normal\"\nk = 2",
         staticMean(200, 0.5, 8, 0.4, 30), {0.4 / std::sqrt(30.0), 0.35, 1 / std::sqrt(12.0)}, 0.460, 45462, 2.00, 0.919},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Plan plan = planOf(std::string("[reference]\n") + c.reference + "\n[[check]]\nkind = \"static\"\n");
        const std::optional<Uncertainty> u = resultUncertainty(c.result, plan, plan.checks.at(0));
        ASSERT_TRUE(u);
        ASSERT_EQ(u->components.size(), c.components.size());
        for (std::size_t i = 0; i < c.components.size(); ++i) EXPECT_NEAR(u->components[i].value, c.components[i], 1e-9) << i;
        EXPECT_NEAR(u->uc, c.uc, 0.0005);
        ASSERT_TRUE(u->nuEff);
        EXPECT_NEAR(*u->nuEff, c.nuEff, c.nuEff * 0.002);
        EXPECT_NEAR(u->k, c.k, 0.005);
        EXPECT_NEAR(u->U, c.U, 0.005);
    }
    // 5 readings with SD 0.8, a ±0.1 mmHg reference, a 0.1 mmHg resolution.
    ReferenceAccuracy tenth;
    tenth.accuracyMmHg = 0.1;
    tenth.distribution = QStringLiteral("rectangular");
    const Uncertainty few = combineUncertainty({{QStringLiteral("repeatability"), 0.8 / std::sqrt(5.0), QStringLiteral("normal"), 4.0},
                                                referenceComponent(tenth, 100),
                                                resolutionComponent(0.1)});
    ASSERT_TRUE(few.nuEff);
    EXPECT_NEAR(*few.nuEff, 4.3, 0.05);
    EXPECT_NEAR(few.k, 2.798, 0.001);
    EXPECT_FALSE(resultUncertainty(staticMean(100, 0.5, 4, 0.4, 30), planOf("[[check]]\nkind = \"static\"\n"), Check{}))
        << "no [reference]: not stated";
}

TEST(Uncertainty, EachKindOfFigureCarriesItsComponents)
{
    // ±1 mmHg + 1 % rectangular; each figure's parts, by name and value.
    const Plan plan = planOf("[reference]\naccuracy_mmHg = 1\naccuracy_percent = 1\n[[check]]\nkind = \"frequency\"\n");
    auto row = [](const char* unit, std::optional<double> reference, double error, qint64 ms, int n, const char* message = "") {
        Result r;
        r.unit = QLatin1String(unit), r.reference = reference, r.error = error, r.limit = 10, r.toMs = ms, r.n = n;
        r.message = QLatin1String(message);
        r.repeatability = 0.1, r.repeatabilityDof = 9;
        return r;
    };
    const double res = 1 / std::sqrt(12.0), dB = 20 / std::numbers::ln10, hours = 0.9 * 600 / 3600;
    struct Case {
        const char* name;
        Result result;
        std::vector<std::pair<const char*, double>> components;
    };
    const Case cases[] = {
        {"pressure", row("mmHg", 100, 1, 5000, 500), {{"repeatability", 0.1}, {"reference", 2 / std::sqrt(3.0)}, {"resolution", res}}},
        {"against its own waveform", row("mmHg", std::nullopt, 1, 5000, 30),
         {{"repeatability", 0.1}, {"resolution of the values", res}, {"resolution of the waveform", res}}},
        {"pulse rate", row("/min", 60, 1, 30000, 30), {{"repeatability", 0.1}, {"resolution", res}}},
        {"frame rate over 5 s", row("/s", 100, 1, 5000, 500), {{"repeatability", 0.1}, {"count of frames", 0.2 / std::sqrt(12.0)}}},
        {"drift of 4 mmHg/h over 600 s", row("mmHg/h", 0, 4, 600000, 60000),
         {{"repeatability", 0.1}, {"reference", 0.04 / std::sqrt(3.0)}, {"resolution", std::sqrt(2.0) * res / hours}}},
        {"gain against the lowest's", row("dB", std::nullopt, 0.5, 4000, 600),
         {{"repeatability", 0.1}, {"reference", dB * 1.5 / 50 / std::sqrt(3.0) * std::sqrt(2.0)}, {"resolution", res * std::sqrt(2.0 / 600) * dB / 50}}},
        {"the lowest gain", row("dB", std::nullopt, 0, 4000, 600, "the other frequencies' reference"),
         {{"repeatability", 0.1}, {"reference", dB * 1.5 / 50 / std::sqrt(3.0)}, {"resolution", res * std::sqrt(2.0 / 600) * dB / 50}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<Uncertainty> u = resultUncertainty(c.result, plan, plan.checks.at(0));
        ASSERT_TRUE(u);
        ASSERT_EQ(u->components.size(), c.components.size());
        double squares = 0;
        for (std::size_t i = 0; i < c.components.size(); ++i) {
            EXPECT_EQ(u->components[i].name, QLatin1String(c.components[i].first));
            EXPECT_NEAR(u->components[i].value, c.components[i].second, 1e-9) << c.components[i].first;
            squares += c.components[i].second * c.components[i].second;
        }
        EXPECT_NEAR(u->uc, std::sqrt(squares), 1e-9);
    }
}

TEST(Uncertainty, StatementsChangeExactlyAtTheZonesEdges)
{
    // T = 4, w = 1; a hair either side of T - w, T and T + w.
    constexpr double T = 4, w = 1, hair = 1e-9;
    using S = Statement;
    struct Case {
        const char* name;
        double error;
        S simple, guarded, nonbinary;
    };
    const Case cases[] = {
        {"inside the band", T - w - hair, S::Pass, S::Pass, S::Pass},
        {"at T - w", T - w, S::Pass, S::Pass, S::Pass},
        {"past T - w", T - w + hair, S::Pass, S::Fail, S::ConditionalPass},
        {"at T", T, S::Pass, S::Fail, S::ConditionalPass},
        {"past T", T + hair, S::Fail, S::Fail, S::ConditionalFail},
        {"at T + w", T + w, S::Fail, S::Fail, S::ConditionalFail},
        {"past T + w", T + w + hair, S::Fail, S::Fail, S::Fail},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(statementFor(c.error, T, w, DecisionRule::Simple), c.simple);
        EXPECT_EQ(statementFor(c.error, T, w, DecisionRule::Guarded), c.guarded);
        EXPECT_EQ(statementFor(c.error, T, w, DecisionRule::GuardedNonbinary), c.nonbinary);
    }
}

TEST(Uncertainty, ConditionalPassCountsAsAPassMarkedAndConditionalFailAsAFail)
{
    // U = 1.30 mmHg at 100 mmHg against a limit of 4.
    struct Case {
        const char* name;
        const char* rule;
        double error;
        Verdict verdict;
        Statement statement;
        bool marginal;
    };
    const Case cases[] = {
        {"guarded, inside T - w", "guarded", 2.6, Verdict::Pass, Statement::Pass, false},
        {"guarded, inside T but not T - w", "guarded", 2.8, Verdict::Fail, Statement::Fail, false},
        {"nonbinary, inside T but not T - w", "guarded-nonbinary", 2.8, Verdict::Pass, Statement::ConditionalPass, true},
        {"nonbinary, past T within w", "guarded-nonbinary", 4.5, Verdict::Fail, Statement::ConditionalFail, false},
        {"simple, inside T", "simple", 3.9, Verdict::Pass, Statement::Pass, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Plan plan = planOf(std::string("[plan]\ndecision_rule = \"") + c.rule
                                 + "\"\n[reference]\naccuracy_mmHg = 1\n[[check]]\nkind = \"static\"\n");
        Result r = staticMean(100, c.error, 4, 0.4, 30);
        r.verdict = std::abs(c.error) <= 4 ? Verdict::Pass : Verdict::Fail;
        judgeResult(r, plan, plan.checks.at(0));
        EXPECT_EQ(r.verdict, c.verdict);
        EXPECT_EQ(r.statement, c.statement);
        EXPECT_EQ(r.marginal, c.marginal);
    }
}

TEST(Uncertainty, PlanWhoseGuardBandLeavesNothingIsRefusedOrWarnedOf)
{
    // A ±2 mmHg reference: U = 2 * sqrt(4/3 + 1/12) = 2.38 against the zero's limit of 1.
    const std::string rest = "[reference]\naccuracy_mmHg = 2\n[[check]]\nkind = \"zero\"\n[[check]]\nkind = \"static\"\npoints = [100]\n";
    const PlanPrediction guarded = predictPlan(planOf("[plan]\ndecision_rule = \"guarded\"\n" + rest));
    EXPECT_EQ(guarded.refusal.toStdString(),
              "The plan cannot pass under the guarded rule: zero ch1 zero 0 mmHg: U = 2.38 mmHg against the limit 1.00 mmHg, "
              "a guard band of 1 x U = 2.38 mmHg leaves no reading able to pass");
    const PlanPrediction nonbinary = predictPlan(planOf("[plan]\ndecision_rule = \"guarded-nonbinary\"\n" + rest));
    EXPECT_TRUE(nonbinary.refusal.isEmpty());
    // The zero's band and its ratio; the static's ratio of 4 / 2.38.
    ASSERT_EQ(nonbinary.warnings.size(), 3) << nonbinary.warnings.join(u'\n').toStdString();
    EXPECT_TRUE(nonbinary.warnings[0].endsWith(u"(only conditional passes are left)"));
    EXPECT_TRUE(nonbinary.warnings[2].contains(u"static ch1 100 mmHg: U = 2.38 mmHg against the limit 4.00 mmHg, a test uncertainty ratio of 1.7"))
        << nonbinary.warnings[2].toStdString();
    EXPECT_EQ(predictPlan(planOf("[plan]\ndecision_rule = \"guarded\"\n[[check]]\nkind = \"zero\"\n")).warnings.size(), 0)
        << "without a reference nothing is predicted";
}

TEST(Uncertainty, ReferenceAndRuleKeysAreReadAndRefused)
{
    const Plan p = planOf("[plan]\ndecision_rule = \"guarded\"\nguard_factor = 1.5\n[reference]\naccuracy_mmHg = 0.2\n"
                          "id = \"PC-7 s/n 41\"\ndue = \"2027-03-01\"\n[certificate]\norganisation = \"Lab\"\n[[check]]\nkind = \"zero\"\n");
    ASSERT_TRUE(p.reference && p.certificate);
    EXPECT_EQ(p.rule(), DecisionRule::Guarded);
    EXPECT_EQ(p.guard(), 1.5);
    // Read back from the report's JSON as it was, the tables' keys included.
    const PlanResult back = parsePlanJson(planJson(p), QStringLiteral("r.json plan"));
    ASSERT_TRUE(back.plan) << back.error.toStdString();
    EXPECT_EQ(planJson(*back.plan), planJson(p));
    const std::pair<const char*, const char*> refused[] = {
        {"[plan]\ndecision_rule = \"strict\"\n", "u.toml line 2: decision_rule is \"simple\", \"guarded\", \"guarded-nonbinary\", not \"strict\""},
        {"[reference]\ndistribution = \"uniform\"\n", "u.toml line 2: distribution is \"rectangular\", \"normal\", not \"uniform\""},
        {"[reference]\nclass = 1\n", "u.toml line 2: [reference] has no key \"class\" (accuracy_mmHg, accuracy_percent, distribution, k, id, certificate, due)"},
    };
    for (const auto& [toml, why] : refused)
        EXPECT_EQ(parsePlan(std::string(toml) + "[[check]]\nkind = \"zero\"\n", QStringLiteral("u.toml")).error.toStdString(), why);
}
