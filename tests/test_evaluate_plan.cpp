// The plan on its own: the default plan as printed, the plan's JSON as the
// report stores it, and every refusal, each to the byte. A stored report and
// a plan someone wrote from the printed one must read the same next year.
#include "checkkinds.h"
#include "plan.h"
#include "platform.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <gtest/gtest.h>

using namespace quorvid::evaluate;

namespace {

constexpr std::string_view kPrintedPlan = R"(# Quorvid evaluation plan. Checks run in the order given; remove a [[check]]
# to leave it out. Times are in seconds, pressures in mmHg. A plan names
# pressures only: the command that sets them is given by whoever runs it.
# Any check may give source = "..." (where its limits come from) and
# marginal_percent (as may [plan]): a result that passes with its error above
# that share of its limit is reported MARGINAL.

[plan]
name = "default"
rate = 60                  # beats a minute of the reference source

# "I": an identification frame within timeout_s; its text heads the report.
[[check]]
kind = "identify"
timeout_s = 3

# "S0", "S1", "S2": the waveform frame rate over measure_s after settle_s,
# within tolerance_percent; ends at the speed in force before.
[[check]]
kind = "speed"
rates = [50, 100, 150]
settle_s = 1
measure_s = 5
tolerance_percent = 2

# "M": "Simulated Output" on both channels, then "O": "Normal Operation",
# each within timeout_s.
[[check]]
kind = "mode"
timeout_s = 3

# Reference 0 on both channels (transducers open to air); "Z3"; each channel
# shows "Zeroing..." then "Zeroing ok" within timeout_s; then its mean over
# measure_s is within limit_mmHg of 0.
[[check]]
kind = "zero"
timeout_s = 10
measure_s = 2
limit_mmHg = 1

# Each point on both channels: settle_s, then the waveform's mean over
# measure_s; error = mean - reference, limit = the larger of limit_mmHg and
# limit_percent of the reference.
[[check]]
kind = "static"
points = [0, 50, 100, 200, 300]
settle_s = 2
measure_s = 5
limit_mmHg = 4
limit_percent = 4
source = "±4 mmHg or ±4 % is the commonly quoted figure, to be confirmed against the edition of IEC 60601-2-34 in force"

# A waveform per channel ("arterial" or "pa" S/D; ch1_mean or ch2_mean
# give a mean reference, else D + (S - D) / 3); after settle_s, the means of
# the board's values over the beats against the reference and the pulse rate
# against the plan's rate; and per beat, the board's systolic and diastolic
# against its own waveform's maximum and minimum.
[[check]]
kind = "dynamic"
ch1 = "arterial 120/80"
ch2 = "pa 25/10"
settle_s = 5
beats = 30
limit_mmHg = 4
limit_percent = 4
pulse_limit_per_min = 1
pulse_limit_percent = 1
source = "±4 mmHg or ±4 % is the commonly quoted figure, to be confirmed against the edition of IEC 60601-2-34 in force"

# The frequency response: a sine of mean_mmHg ± amplitude_mmHg at each of
# frequencies_hz on both channels, at speed (the speed before is set again
# after); after settle_s, a sine of that frequency fitted over the whole periods
# of seconds. Each gain (20 log10 of read over set) against the lowest
# frequency's within limit_db either way.
[[check]]
kind = "frequency"
frequencies_hz = [1, 2, 5, 10]
mean_mmHg = 100
amplitude_mmHg = 50
settle_s = 1
seconds = 4
limit_db = 3
speed = 150                # frames a second while it measures
source = "flat to within 3 dB up to 10 Hz is the commonly quoted figure, to be confirmed against the edition of IEC 60601-2-34 in force"

# The mains filter: mean_mmHg on both channels with interference of
# amplitude_mmHg at each of frequencies_hz, the board told the filter for it
# ("5" for 50 Hz, "6" for 60 Hz, the nearer for another) at speed (the
# speed before is set again after); after settle_s, a sine of that frequency
# fitted over seconds. Each rejection, 20 log10 of applied over left, at least
# rejection_db; the filter the run found is told again at the end.
[[check]]
kind = "mains"
frequencies_hz = [50, 60]
mean_mmHg = 100
amplitude_mmHg = 20
settle_s = 0.5
seconds = 4
rejection_db = 20
speed = 150                # frames a second while it measures
source = "at least 20 dB of rejection at the selected mains frequency is a common design figure, to be confirmed against the board's own data sheet"

# A reference held for measure_s; the drift of the mean in mmHg an hour
# (first tenth of the time against the last) within limit_mmHg_per_h.
# [[check]]
# kind = "drift"
# point = 100
# settle_s = 2
# measure_s = 600
# limit_mmHg_per_h = 2
)";

// Every key of every kind away from its default, fractions where a whole
// number is kept (beats drops it, rate rounds).
constexpr const char* kEveryKey = R"([plan]
name = "bench 3"
rate = 72.5
[[check]]
kind = "identify"
name = "who"
timeout_s = 0.5
[[check]]
kind = "speed"
rates = [150, 50]
settle_s = 0.25
measure_s = 3
tolerance_percent = 1.5
[[check]]
kind = "mode"
timeout_s = 7
[[check]]
kind = "zero"
timeout_s = 12
measure_s = 1
limit_mmHg = 0.5
[[check]]
kind = "static"
points = [-20, 37.5]
settle_s = 0
measure_s = 2
limit_mmHg = 3
limit_percent = 2.5
[[check]]
kind = "dynamic"
ch2 = "arterial 140/90.5"
ch1_mean = 22
ch1 = " pa  40/15 "
settle_s = 1
beats = 12.7
limit_mmHg = 5
limit_percent = 3
pulse_limit_per_min = 2
pulse_limit_percent = 0
[[check]]
kind = "drift"
name = "long hold"
point = 50
settle_s = 3
measure_s = 60
limit_mmHg_per_h = 4.5
)";

QByteArray compact(const Plan& plan) { return QJsonDocument(planJson(plan)).toJson(QJsonDocument::Compact); }

}  // namespace

TEST(EvaluatePlan, PrintedDefaultPlanIsTheSameToTheByte)
{
    EXPECT_EQ(defaultPlanToml().toStdString(), kPrintedPlan);
    // And it is what runs when no plan is given.
    const PlanResult printed = parsePlan(kPrintedPlan, QStringLiteral("printed"));
    ASSERT_TRUE(printed.plan) << printed.error.toStdString();
    EXPECT_EQ(compact(*printed.plan), compact(defaultPlan()));
}

TEST(EvaluatePlan, PlanJsonIsTheSameToTheByte)
{
    struct Case {
        const char* name;
        std::string toml;
        const char* json;
    };
    const Case cases[] = {
        {"default plan", std::string(kPrintedPlan),
         R"({"checks":[{"kind":"identify","name":"identify","timeout_s":3},)"
         R"({"kind":"speed","measure_s":5,"name":"speed","rates":[50,100,150],"settle_s":1,"tolerance_percent":2},)"
         R"({"kind":"mode","name":"mode","timeout_s":3},)"
         R"({"kind":"zero","limit_mmHg":1,"measure_s":2,"name":"zero","timeout_s":10},)"
         R"({"kind":"static","limit_mmHg":4,"limit_percent":4,"measure_s":5,"name":"static","points":[0,50,100,200,300],"settle_s":2,)"
         R"("source":"±4 mmHg or ±4 % is the commonly quoted figure, to be confirmed against the edition of IEC 60601-2-34 in force"},)"
         R"({"beats":30,"ch1":"arterial 120/80","ch1_mean":93.33333333333333,"ch2":"pa 25/10","ch2_mean":15,"kind":"dynamic",)"
         R"("limit_mmHg":4,"limit_percent":4,"name":"dynamic","pulse_limit_per_min":1,"pulse_limit_percent":1,"settle_s":5,)"
         R"("source":"±4 mmHg or ±4 % is the commonly quoted figure, to be confirmed against the edition of IEC 60601-2-34 in force"},)"
         R"({"amplitude_mmHg":50,"frequencies_hz":[1,2,5,10],"kind":"frequency","limit_db":3,"mean_mmHg":100,"name":"frequency",)"
         R"("seconds":4,"settle_s":1,"source":"flat to within 3 dB up to 10 Hz is the commonly quoted figure, to be confirmed )"
         R"(against the edition of IEC 60601-2-34 in force","speed":150},)"
         R"({"amplitude_mmHg":20,"frequencies_hz":[50,60],"kind":"mains","mean_mmHg":100,"name":"mains","rejection_db":20,)"
         R"("seconds":4,"settle_s":0.5,"source":"at least 20 dB of rejection at the selected mains frequency is a common design figure, to be confirmed against the board's own data sheet","speed":150}],)"
         R"("name":"default","rate":60})"},
        {"drift alone", "[[check]]\nkind = \"drift\"\n",
         R"({"checks":[{"kind":"drift","limit_mmHg_per_h":2,"measure_s":600,"name":"drift","point":100,"settle_s":2}],)"
         R"("name":"default","rate":60})"},
        {"every key", kEveryKey,
         R"({"checks":[{"kind":"identify","name":"who","timeout_s":0.5},)"
         R"({"kind":"speed","measure_s":3,"name":"speed","rates":[150,50],"settle_s":0.25,"tolerance_percent":1.5},)"
         R"({"kind":"mode","name":"mode","timeout_s":7},)"
         R"({"kind":"zero","limit_mmHg":0.5,"measure_s":1,"name":"zero","timeout_s":12},)"
         R"({"kind":"static","limit_mmHg":3,"limit_percent":2.5,"measure_s":2,"name":"static","points":[-20,37.5],"settle_s":0,)"
         R"("source":"±4 mmHg or ±4 % is the commonly quoted figure, to be confirmed against the edition of IEC 60601-2-34 in force"},)"
         R"({"beats":12,"ch1":"pa 40/15","ch1_mean":22,"ch2":"arterial 140/90.5","ch2_mean":107,"kind":"dynamic",)"
         R"("limit_mmHg":5,"limit_percent":3,"name":"dynamic","pulse_limit_per_min":2,"pulse_limit_percent":0,"settle_s":1,)"
         R"("source":"±4 mmHg or ±4 % is the commonly quoted figure, to be confirmed against the edition of IEC 60601-2-34 in force"},)"
         R"({"kind":"drift","limit_mmHg_per_h":4.5,"measure_s":60,"name":"long hold","point":50,"settle_s":3}],)"
         R"("name":"bench 3","rate":73})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PlanResult r = parsePlan(c.toml, QStringLiteral("p.toml"));
        ASSERT_TRUE(r.plan) << r.error.toStdString();
        EXPECT_EQ(compact(*r.plan).toStdString(), c.json);
    }
}

TEST(EvaluatePlan, EveryRefusalNamesTheLineInTheSameWords)
{
    struct Case {
        const char* toml;
        const char* error;
    };
    const Case cases[] = {
        // The plan's shape.
        {"oops = 1\n", "line 1: unknown key \"oops\" ([plan], [reference], [certificate] and [[check]] only)"},
        {"shell_Command = \"x\"\n", "line 1: a plan carries no command: the reference command is given by whoever runs the evaluation"},
        {"plan = 3\n", "line 1: plan wants a table: [plan]"},
        {"check = 5\n", "line 1: checks are written [[check]]"},
        {"[check]\nkind = \"identify\"\n", "line 1: checks are written [[check]]"},
        {"[plan]\nname = \"x\"\n", "line 1: the plan has no [[check]]"},
        // [plan]
        {"[plan]\nspeed = 3\n", "line 2: [plan] has no key \"speed\" (name, rate, marginal_percent, decision_rule, guard_factor)"},
        {"[plan]\nrefCOMMAND = \"x\"\n", "line 2: a plan carries no command: the reference command is given by whoever runs the evaluation"},
        {"[plan]\nname = 5\n", "line 2: name wants a text in quotes"},
        {"[plan]\nrate = 19.9\n", "line 2: rate wants a number from 20 to 240"},
        {"[plan]\nrate = \"60\"\n", "line 2: rate wants a number from 20 to 240"},
        // A check's kind and keys.
        {"[[check]]\nname = \"x\"\n", "line 1: a [[check]] needs a kind"},
        {"[[check]]\nkind = 3\n", "line 2: kind wants a text in quotes"},
        {"[[check]]\nkind = \"Static\"\n", "line 2: unknown kind \"Static\" (identify, speed, mode, zero, static, dynamic, frequency, mains, drift)"},
        {"[[check]]\nkind = \"identify\"\nsettle_s = 1\n", "line 3: a identify check has no key \"settle_s\""},
        {"[[check]]\nkind = \"static\"\nbeats = 3\n", "line 3: a static check has no key \"beats\""},
        {"[[check]]\nkind = \"zero\"\nlimit_percent = 3\n", "line 3: a zero check has no key \"limit_percent\""},
        {"[[check]]\nkind = \"drift\"\ncommand = \"x\"\n", "line 3: a plan carries no command: the reference command is given by whoever runs the evaluation"},
        {"[[check]]\nkind = \"mode\"\nname = 1\n", "line 3: name wants a text in quotes"},
        // Each number's range.
        {"[[check]]\nkind = \"identify\"\ntimeout_s = 0\n", "line 3: timeout_s wants a number from 0.1 to 3600"},
        {"[[check]]\nkind = \"zero\"\ntimeout_s = 3601\n", "line 3: timeout_s wants a number from 0.1 to 3600"},
        {"[[check]]\nkind = \"speed\"\nsettle_s = -1\n", "line 3: settle_s wants a number from 0 to 3600"},
        {"[[check]]\nkind = \"drift\"\nmeasure_s = 86401\n", "line 3: measure_s wants a number from 0.5 to 86400"},
        {"[[check]]\nkind = \"static\"\nmeasure_s = nan\n", "line 3: measure_s wants a number from 0.5 to 86400"},
        {"[[check]]\nkind = \"speed\"\ntolerance_percent = inf\n", "line 3: tolerance_percent wants a number from 0 to 100"},
        {"[[check]]\nkind = \"drift\"\npoint = 300.5\n", "line 3: point wants a number from -50 to 300"},
        {"[[check]]\nkind = \"dynamic\"\nlimit_mmHg = true\n", "line 3: limit_mmHg wants a number from 0 to 100"},
        {"[[check]]\nkind = \"static\"\nlimit_percent = -0.1\n", "line 3: limit_percent wants a number from 0 to 100"},
        {"[[check]]\nkind = \"dynamic\"\nch1_mean = 301\n", "line 3: ch1_mean wants a number from 0 to 300"},
        {"[[check]]\nkind = \"dynamic\"\nch2_mean = \"20\"\n", "line 3: ch2_mean wants a number from 0 to 300"},
        {"[[check]]\nkind = \"dynamic\"\nbeats = 0.5\n", "line 3: beats wants a number from 1 to 1000"},
        {"[[check]]\nkind = \"dynamic\"\npulse_limit_per_min = 101\n", "line 3: pulse_limit_per_min wants a number from 0 to 100"},
        {"[[check]]\nkind = \"dynamic\"\npulse_limit_percent = -1\n", "line 3: pulse_limit_percent wants a number from 0 to 100"},
        {"[[check]]\nkind = \"drift\"\nlimit_mmHg_per_h = 1001\n", "line 3: limit_mmHg_per_h wants a number from 0 to 1000"},
        // A sweep the frames carry, over two periods of its slowest sine at least.
        {"[[check]]\nkind = \"frequency\"\nspeed = 50\nfrequencies_hz = [10, 25]\n", "line 4: frequencies_hz has 25 Hz, not below half the frame rate (25 Hz at speed 50)"},
        {"[[check]]\nkind = \"frequency\"\nfrequencies_hz = [0.2]\nseconds = 9.5\n", "line 4: seconds = 9.5 is shorter than two periods of 0.2 Hz (10 s)"},
        {"[[check]]\nkind = \"frequency\"\nfrequencies_hz = [0.4]\n", "line 1: seconds = 4 is shorter than two periods of 0.4 Hz (5 s)"},
        {"[[check]]\nkind = \"frequency\"\nspeed = 120\n", "line 3: speed is 50, 100 or 150"},
        {"[[check]]\nkind = \"mains\"\nspeed = 100\n", "line 1: frequencies_hz has 50 Hz, not below half the frame rate (50 Hz at speed 100)"},
        {"[[check]]\nkind = \"mains\"\nfrequencies_hz = [50, 75]\n", "line 3: frequencies_hz wants a number from 40 to 70"},
        // Lists: the list, then each item's range, then the speeds.
        {"[[check]]\nkind = \"speed\"\nrates = 100\n", "line 3: rates wants a list such as [50, 100]"},
        {"[[check]]\nkind = \"speed\"\nrates = []\n", "line 3: rates wants a list such as [50, 100]"},
        {"[[check]]\nkind = \"speed\"\nrates = [50,\n 75]\n", "line 4: rates are 50, 100 or 150"},
        {"[[check]]\nkind = \"speed\"\nrates = [75,\n 200]\n", "line 4: rates wants a number from 50 to 150"},
        {"[[check]]\nkind = \"static\"\npoints = \"0, 100\"\n", "line 3: points wants a list such as [50, 100]"},
        {"[[check]]\nkind = \"static\"\npoints = [0,\n -51]\n", "line 4: points wants a number from -50 to 300"},
        // Waveforms: only a shape from the list and two numbers.
        {"[[check]]\nkind = \"dynamic\"\nch1 = 120\n", "line 3: ch1 wants a text in quotes"},
        {"[[check]]\nkind = \"dynamic\"\nch2 = \"sine 25/10\"\n",
         "line 3: ch2 wants \"arterial S/D\" or \"pa S/D\" with 0 <= D < S <= 300, not \"sine 25/10\""},
        {"[[check]]\nkind = \"dynamic\"\nch1 = \" arterial  80/120 \"\n",
         "line 3: ch1 wants \"arterial S/D\" or \"pa S/D\" with 0 <= D < S <= 300, not \"arterial 80/120\""},
        {"[[check]]\nkind = \"dynamic\"\nch1 = \"pa 301/10\"\n",
         "line 3: ch1 wants \"arterial S/D\" or \"pa S/D\" with 0 <= D < S <= 300, not \"pa 301/10\""},
        {"[[check]]\nkind = \"dynamic\"\nch1 = \"pa 25/-1\"\n",
         "line 3: ch1 wants \"arterial S/D\" or \"pa S/D\" with 0 <= D < S <= 300, not \"pa 25/-1\""},
        {"[[check]]\nkind = \"dynamic\"\nch1 = \"pa 25/10 $(reboot)\"\n",
         "line 3: ch1 wants \"arterial S/D\" or \"pa S/D\" with 0 <= D < S <= 300, not \"pa 25/10 $(reboot)\""},
        // Within a table the keys are taken in order of their names.
        {"[[check]]\nkind = \"dynamic\"\nsettle_s = -1\nbeats = 0\n", "line 4: beats wants a number from 1 to 1000"},
    };
    for (const Case& c : cases) {
        const PlanResult r = parsePlan(c.toml, QStringLiteral("p.toml"));
        EXPECT_FALSE(r.plan) << c.toml;
        EXPECT_EQ(r.error.toStdString(), std::string("p.toml ") + c.error) << c.toml;
    }
    const PlanResult missing = readPlanFile(QStringLiteral("/nonexistent/p.toml"));
    EXPECT_FALSE(missing.plan);
    EXPECT_EQ(missing.error.toStdString(), "Cannot read /nonexistent/p.toml: " + quorvid::test::noSuchFolderText().toStdString());
}

TEST(EvaluatePlan, EveryKindReadsFromItsDefaultsAndWritesEachOfItsKeys)
{
    // What a new row in the kinds' table must hold to: a check of the kind
    // alone is a plan, starts from the defaults, and its JSON carries kind,
    // name and each of its keys, so that the plan can be read back from it.
    std::vector<CheckKind> inDefault;
    for (const KindDescription& d : checkKinds()) {
        SCOPED_TRACE(std::string(d.name));
        EXPECT_EQ(&kindDescription(d.kind), &d);
        EXPECT_EQ(kindName(d.kind).toStdString(), d.name);
        EXPECT_TRUE(d.queueSteps);
        if (d.inDefaultPlan) inDefault.push_back(d.kind);
        const PlanResult r = parsePlan("[[check]]\nkind = \"" + std::string(d.name) + "\"\n", QStringLiteral("p.toml"));
        ASSERT_TRUE(r.plan) << r.error.toStdString();
        const Check& c = r.plan->checks.at(0);
        EXPECT_EQ(c.kind, d.kind);
        EXPECT_EQ(c.name.toStdString(), d.name);
        QSet<QString> keys{QStringLiteral("kind"), QStringLiteral("name")};
        for (const Setting<Check>& s : d.keys) keys.insert(QString::fromUtf8(s.key->name.data(), qsizetype(s.key->name.size())));
        const QStringList written = planJson(*r.plan)[u"checks"].toArray().at(0).toObject().keys();
        EXPECT_EQ(QSet<QString>(written.begin(), written.end()), keys);
    }
    std::vector<CheckKind> kinds;
    for (const Check& c : defaultPlan().checks) kinds.push_back(c.kind);
    EXPECT_EQ(kinds, inDefault);
}
