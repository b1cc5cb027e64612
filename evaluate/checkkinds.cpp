#include "checkkinds.h"

#include "report.h"
#include "rescore.h"

#include <algorithm>

namespace quorvid::evaluate {

namespace {

// The keys, each once; the kinds below say which they take and from what.
constexpr Key<Plan> kPlanName{"name", &Plan::name};
constexpr Key<Plan> kRate{"rate", NearestOf<Plan>{&Plan::rate}, 20, 240, Rejudge::AsRun};
constexpr Key<Plan> kPlanMarginal{"marginal_percent", &Plan::marginalPercent, 0, 100};

constexpr Key<Check> kName{"name", &Check::name};
constexpr Key<Check> kMarginal{"marginal_percent", &Check::marginalPercent, 0, 100};
constexpr Key<Check> kSource{"source", &Check::source};
constexpr Key<Check> kTimeout{"timeout_s", &Check::timeoutS, 0.1, 3600, Rejudge::AsRun};
constexpr Key<Check> kSettle{"settle_s", &Check::settleS, 0, 3600, Rejudge::AsRun};
constexpr Key<Check> kMeasure{"measure_s", &Check::measureS, 0.5, 24 * 3600, Rejudge::AsRun};
constexpr Key<Check> kRates{"rates", &Check::rates, 50, 150, Rejudge::Subset};
constexpr Key<Check> kTolerance{"tolerance_percent", &Check::tolerancePercent, 0, 100};
constexpr Key<Check> kPoints{"points", &Check::points, -50, 300, Rejudge::Subset};
constexpr Key<Check> kLimit{"limit_mmHg", &Check::limitMmHg, 0, 100};
constexpr Key<Check> kLimitPercent{"limit_percent", &Check::limitPercent, 0, 100};
constexpr Key<Check> kCh1{"ch1", &Check::ch1, 0, 0, Rejudge::AsRun};
constexpr Key<Check> kCh2{"ch2", &Check::ch2, 0, 0, Rejudge::AsRun};
constexpr Key<Check> kCh1Mean{"ch1_mean", MeanOf<Check>{&Check::ch1}, 0, 300};
constexpr Key<Check> kCh2Mean{"ch2_mean", MeanOf<Check>{&Check::ch2}, 0, 300};
constexpr Key<Check> kBeats{"beats", &Check::beats, 1, 1000, Rejudge::AsRun};
constexpr Key<Check> kPulseLimit{"pulse_limit_per_min", &Check::pulseLimitPerMin, 0, 100};
constexpr Key<Check> kPulseLimitPercent{"pulse_limit_percent", &Check::pulseLimitPercent, 0, 100};
constexpr Key<Check> kPoint{"point", &Check::pointMmHg, -50, 300, Rejudge::AsRun};
constexpr Key<Check> kDriftLimit{"limit_mmHg_per_h", &Check::limitMmHgPerHour, 0, 1000};

// Where the default limits of the pressure checks come from.
constexpr std::string_view kPressureSource =
    "\"±4 mmHg or ±4 % is the commonly quoted figure, to be confirmed against the edition of IEC 60601-2-34 in "
    "force\"";

const Setting<Plan> kPlanKeys[] = {
    {&kPlanName, "\"default\""},
    {&kRate, "60", "beats a minute of the reference source"},
    {&kPlanMarginal},
};

const Setting<Check> kCheckKeys[] = {{&kName}, {&kMarginal}, {&kSource}};

}  // namespace

std::span<const KindDescription> checkKinds()
{
    static const std::vector<KindDescription> kinds{
        {CheckKind::Identify, "identify",
         "\"I\": an identification frame within timeout_s; its text heads the report.",
         true,
         {{&kTimeout, "3"}},
         &Evaluation::planIdentify},
        {CheckKind::Speed, "speed",
         "\"S0\", \"S1\", \"S2\": the waveform frame rate over measure_s after settle_s,\n"
         "within tolerance_percent; ends at the speed in force before.",
         true,
         {{&kRates, "[50, 100, 150]"}, {&kSettle, "1"}, {&kMeasure, "5"}, {&kTolerance, "2"}},
         &Evaluation::planSpeed, &speedPlot, &rejudgeSpeed},
        {CheckKind::Mode, "mode",
         "\"M\": \"Simulated Output\" on both channels, then \"O\": \"Normal Operation\",\n"
         "each within timeout_s.",
         true,
         {{&kTimeout, "3"}},
         &Evaluation::planMode},
        {CheckKind::Zero, "zero",
         "Reference 0 on both channels (transducers open to air); \"Z3\"; each channel\n"
         "shows \"Zeroing...\" then \"Zeroing ok\" within timeout_s; then its mean over\n"
         "measure_s is within limit_mmHg of 0.",
         true,
         {{&kTimeout, "10"}, {&kMeasure, "2"}, {&kLimit, "1"}},
         &Evaluation::planZero, nullptr, &rejudgeZero},
        {CheckKind::Static, "static",
         "Each point on both channels: settle_s, then the waveform's mean over\n"
         "measure_s; error = mean - reference, limit = the larger of limit_mmHg and\n"
         "limit_percent of the reference.",
         true,
         {{&kPoints, "[0, 50, 100, 200, 300]"}, {&kSettle, "2"}, {&kMeasure, "5"}, {&kLimit, "4"},
          {&kLimitPercent, "4"}, {&kSource, kPressureSource}},
         &Evaluation::planStatic, &staticPlot, &rejudgeStatic},
        {CheckKind::Dynamic, "dynamic",
         "A waveform per channel (\"arterial\" or \"pa\" S/D; ch1_mean or ch2_mean\n"
         "give a mean reference, else D + (S - D) / 3); after settle_s, the means of\n"
         "the board's values over the beats against the reference and the pulse rate\n"
         "against the plan's rate; and per beat, the board's systolic and diastolic\n"
         "against its own waveform's maximum and minimum.",
         true,
         {{&kCh1, "\"arterial 120/80\""}, {&kCh2, "\"pa 25/10\""}, {&kCh1Mean}, {&kCh2Mean}, {&kSettle, "5"},
          {&kBeats, "30"}, {&kLimit, "4"}, {&kLimitPercent, "4"}, {&kPulseLimit, "1"}, {&kPulseLimitPercent, "1"},
          {&kSource, kPressureSource}},
         &Evaluation::planDynamic, &dynamicPlot, &rejudgeDynamic},
        {CheckKind::Drift, "drift",
         "A reference held for measure_s; the drift of the mean in mmHg an hour\n"
         "(first tenth of the time against the last) within limit_mmHg_per_h.",
         false,
         {{&kPoint, "100"}, {&kSettle, "2"}, {&kMeasure, "600"}, {&kDriftLimit, "2"}},
         &Evaluation::planDrift, nullptr, &rejudgeDrift},
    };
    return kinds;
}

const KindDescription& kindDescription(CheckKind kind)
{
    const std::span<const KindDescription> kinds = checkKinds();
    return *std::find_if(kinds.begin(), kinds.end(), [kind](const KindDescription& d) { return d.kind == kind; });
}

std::span<const Setting<Check>> checkKeys() { return kCheckKeys; }

std::span<const Setting<Plan>> planKeys() { return kPlanKeys; }

}  // namespace quorvid::evaluate
