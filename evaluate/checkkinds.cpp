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
constexpr Key<Plan> kDecisionRule{"decision_rule", &Plan::decisionRule};
constexpr Key<Plan> kGuardFactor{"guard_factor", &Plan::guardFactor, 0, 10};

// [reference] and [certificate].
constexpr Key<ReferenceAccuracy> kAccuracyMmHg{"accuracy_mmHg", &ReferenceAccuracy::accuracyMmHg, 0, 100};
constexpr Key<ReferenceAccuracy> kAccuracyPercent{"accuracy_percent", &ReferenceAccuracy::accuracyPercent, 0, 100};
constexpr Key<ReferenceAccuracy> kDistribution{"distribution", &ReferenceAccuracy::distribution};
constexpr Key<ReferenceAccuracy> kCoverage{"k", &ReferenceAccuracy::k, 1, 10};
constexpr Key<ReferenceAccuracy> kEquipmentId{"id", &ReferenceAccuracy::id};
constexpr Key<ReferenceAccuracy> kEquipmentCertificate{"certificate", &ReferenceAccuracy::certificate};
constexpr Key<ReferenceAccuracy> kEquipmentDue{"due", &ReferenceAccuracy::due};
constexpr Key<CertificateIssuer> kOrganisation{"organisation", &CertificateIssuer::organisation};
constexpr Key<CertificateIssuer> kAddress{"address", &CertificateIssuer::address};

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

constexpr Key<Check> kFrequencies{"frequencies_hz", &Check::frequenciesHz, 0.01, 1000, Rejudge::Subset};
constexpr Key<Check> kSineMean{"mean_mmHg", &Check::meanMmHg, -50, 300, Rejudge::AsRun};
constexpr Key<Check> kSineAmplitude{"amplitude_mmHg", &Check::amplitudeMmHg, 1, 175, Rejudge::AsRun};
constexpr Key<Check> kSeconds{"seconds", &Check::measureS, 0.5, 3600, Rejudge::AsRun};
constexpr Key<Check> kLimitDb{"limit_db", &Check::limitDb, 0, 60};
constexpr Key<Check> kSpeed{"speed", &Check::speed, 50, 150, Rejudge::AsRun};

constexpr Key<Check> kMainsFrequencies{"frequencies_hz", &Check::frequenciesHz, 40, 70, Rejudge::Subset};
constexpr Key<Check> kMainsAmplitude{"amplitude_mmHg", &Check::amplitudeMmHg, 1, 100, Rejudge::AsRun};
constexpr Key<Check> kRejection{"rejection_db", &Check::rejectionDb, 0, 120};

// Where the default limits of the pressure checks come from.
constexpr std::string_view kPressureSource =
    "\"±4 mmHg or ±4 % is the commonly quoted figure, to be confirmed against the edition of IEC 60601-2-34 in "
    "force\"";

constexpr std::string_view kResponseSource =
    "\"flat to within 3 dB up to 10 Hz is the commonly quoted figure, to be confirmed against the edition of "
    "IEC 60601-2-34 in force\"";

constexpr std::string_view kMainsSource =
    "\"at least 20 dB of rejection at the selected mains frequency is a common design figure, to be confirmed "
    "against the board's own data sheet\"";

const Setting<Plan> kPlanKeys[] = {
    {&kPlanName, "\"default\""},
    {&kRate, "60", "beats a minute of the reference source"},
    {&kPlanMarginal},
    {&kDecisionRule},
    {&kGuardFactor},
};

const Setting<ReferenceAccuracy> kReferenceKeys[] = {
    {&kAccuracyMmHg, "0"}, {&kAccuracyPercent, "0"}, {&kDistribution, "\"rectangular\""}, {&kCoverage, "2"},
    {&kEquipmentId, "\"\""}, {&kEquipmentCertificate, "\"\""}, {&kEquipmentDue, "\"\""},
};

const Setting<CertificateIssuer> kCertificateKeys[] = {{&kOrganisation, "\"\""}, {&kAddress, "\"\""}};

const Setting<Check> kCheckKeys[] = {{&kName}, {&kMarginal}, {&kSource}};

// A sine at or past half the frame rate is not a sine in the frames, and the
// fit wants two whole periods of the slowest at least.
std::optional<std::pair<std::string_view, QString>> frequencyRefusal(const Check& c)
{
    if (c.speed != 50 && c.speed != 100 && c.speed != 150) return {{kSpeed.name, QStringLiteral("speed is 50, 100 or 150")}};
    for (double hz : c.frequenciesHz)
        if (hz >= c.speed / 2.0)
            return {{kFrequencies.name, QStringLiteral("frequencies_hz has %1 Hz, not below half the frame rate (%2 Hz at speed %3)")
                                            .arg(hz).arg(c.speed / 2.0).arg(c.speed)}};
    const double lowest = *std::min_element(c.frequenciesHz.begin(), c.frequenciesHz.end());
    if (c.measureS < 2 / lowest)
        return {{kSeconds.name, QStringLiteral("seconds = %1 is shorter than two periods of %2 Hz (%3 s)")
                                    .arg(c.measureS).arg(lowest).arg(2 / lowest)}};
    if (c.meanMmHg - c.amplitudeMmHg < -50 || c.meanMmHg + c.amplitudeMmHg > 300)
        return {{kSineAmplitude.name, QStringLiteral("the sine of %1 ± %2 mmHg leaves -50 to 300 mmHg").arg(c.meanMmHg).arg(c.amplitudeMmHg)}};
    return std::nullopt;
}

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
        {CheckKind::Frequency, "frequency",
         "The frequency response: a sine of mean_mmHg ± amplitude_mmHg at each of\n"
         "frequencies_hz on both channels, at speed (the speed before is set again\n"
         "after); after settle_s, a sine of that frequency fitted over the whole periods\n"
         "of seconds. Each gain (20 log10 of read over set) against the lowest\n"
         "frequency's within limit_db either way.",
         true,
         {{&kFrequencies, "[1, 2, 5, 10]"}, {&kSineMean, "100"}, {&kSineAmplitude, "50"}, {&kSettle, "1"},
          {&kSeconds, "4"}, {&kLimitDb, "3"}, {&kSpeed, "150", "frames a second while it measures"},
          {&kSource, kResponseSource}},
         &Evaluation::planFrequency, &frequencyPlot, &rejudgeFrequency, &frequencyRefusal},
        {CheckKind::Mains, "mains",
         "The mains filter: mean_mmHg on both channels with interference of\n"
         "amplitude_mmHg at each of frequencies_hz, the board told the filter for it\n"
         "(\"5\" for 50 Hz, \"6\" for 60 Hz, the nearer for another) at speed (the\n"
         "speed before is set again after); after settle_s, a sine of that frequency\n"
         "fitted over seconds. Each rejection, 20 log10 of applied over left, at least\n"
         "rejection_db; the filter the run found is told again at the end.",
         true,
         {{&kMainsFrequencies, "[50, 60]"}, {&kSineMean, "100"}, {&kMainsAmplitude, "20"}, {&kSettle, "0.5"},
          {&kSeconds, "4"}, {&kRejection, "20"}, {&kSpeed, "150", "frames a second while it measures"},
          {&kSource, kMainsSource}},
         &Evaluation::planMains, &mainsPlot, &rejudgeMains, &frequencyRefusal},
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

std::span<const Setting<ReferenceAccuracy>> referenceKeys() { return kReferenceKeys; }

std::span<const Setting<CertificateIssuer>> certificateKeys() { return kCertificateKeys; }

}  // namespace quorvid::evaluate
