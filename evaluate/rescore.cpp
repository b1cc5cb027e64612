#include "rescore.h"

#include "bytesreader.h"
#include "checkkinds.h"
#include "framer.h"
#include "frontend.h"
#include "uncertainty.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QUuid>

#include <algorithm>
#include <limits>

namespace quorvid::evaluate {

namespace {

QString q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

// The quantities of a dynamic check's rows that come from its beats.
bool fromBeats(const QString& quantity)
{
    static const QStringList names{QStringLiteral("systolic"), QStringLiteral("mean"), QStringLiteral("diastolic"),
                                   QStringLiteral("pulse rate"), QStringLiteral("systolic vs waveform maximum"),
                                   QStringLiteral("diastolic vs waveform minimum")};
    return names.contains(quantity);
}

Interval intervalOf(const Result& r) { return {r.fromMs, r.toMs}; }

// The point of a skipped static reference: "static 100".
std::optional<double> skippedPoint(const Result& r)
{
    if (r.verdict != Verdict::Skipped || !r.quantity.startsWith(QLatin1String("static "))) return std::nullopt;
    bool ok = false;
    const double p = r.quantity.mid(7).toDouble(&ok);
    return ok ? std::optional<double>(p) : std::nullopt;
}

bool among(const std::vector<double>& points, double p) { return std::find(points.begin(), points.end(), p) != points.end(); }

QString listText(const QJsonValue& v)
{
    if (!v.isArray()) return v.isString() ? QStringLiteral("\"%1\"").arg(v.toString()) : QString::number(v.toDouble());
    QStringList items;
    for (const QJsonValue item : v.toArray()) items << QString::number(item.toDouble());
    return QStringLiteral("[%1]").arg(items.join(QStringLiteral(", ")));
}

// Frames as the framer completes them, to the recording's frames.
class Taker : public FrameObserver {
public:
    explicit Taker(RecordedFrames& into)
        : m_into(into)
    {
    }
    qint64 tMs = 0;
    void blockReceived(Bytes) override {}
    void bytesOutsideFrames(std::size_t) override {}
    void frameCompleted(Bytes storedFrame) override { m_into.take(decodeFrame(storedFrame), tMs); }

private:
    RecordedFrames& m_into;
};

}  // namespace

RecordedFrames::RecordedFrames(std::vector<Interval> keep)
{
    // From one before each interval, merged where they touch.
    for (Interval& i : keep) i.fromMs -= 1;
    std::sort(keep.begin(), keep.end(), [](const Interval& a, const Interval& b) { return a.fromMs < b.fromMs; });
    for (const Interval& i : keep) {
        if (!m_keep.empty() && i.fromMs <= m_keep.back().toMs) m_keep.back().toMs = std::max(m_keep.back().toMs, i.toMs);
        else m_keep.push_back(i);
    }
    if (keep.empty()) m_keep.push_back({std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()});
}

void RecordedFrames::take(const DecodedFrame& frame, qint64 t)
{
    if (!frame.shown) return;
    // Times never decrease: the intervals already past stay past.
    while (m_next < m_keep.size() && m_keep[m_next].toMs <= t) ++m_next;
    if (m_next == m_keep.size() || t < m_keep[m_next].fromMs) return;
    m_frames.push_back({t, frame});
}

WindowFrames RecordedFrames::window(Interval in) const
{
    WindowFrames w;
    auto first = std::lower_bound(m_frames.begin(), m_frames.end(), in.fromMs, [](const Timed& f, qint64 t) { return f.tMs < t; });
    for (auto f = first; f != m_frames.end() && f->tMs < in.toMs; ++f) w.take(f->frame, f->tMs);
    return w;
}

std::vector<Beat> RecordedFrames::beats(Interval in, int count) const
{
    // The measurement began after the values frame of the block before it.
    BeatCollector collector;
    auto first = std::lower_bound(m_frames.begin(), m_frames.end(), in.fromMs - 1, [](const Timed& f, qint64 t) { return f.tMs < t; });
    for (auto f = first; f != m_frames.end() && f->tMs < in.toMs; ++f) {
        collector.take(f->frame, f->tMs);
        if (static_cast<int>(collector.beats().size()) >= count) break;
    }
    return collector.beats();
}

std::optional<RecordedFrames> readRecordedFrames(const QString& path, const QString& sha256, std::vector<Interval> keep,
                                                 QString* error)
{
    const QString name = QDir::toNativeSeparators(path);
    auto fail = [&](const QString& what) {
        if (error) *error = QStringLiteral("%1: %2").arg(name, what);
        return std::nullopt;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return fail(file.errorString());
    if (file.size() > record::kMaxRecordingBytes) return fail(record::tooLargeText());
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) return fail(file.errorString());
    const QString found = QString::fromLatin1(hash.result().toHex());
    if (found.compare(sha256, Qt::CaseInsensitive) != 0)
        return fail(QStringLiteral("its SHA-256 is %1, not the %2 its report names: it is not that run's recording")
                        .arg(found, sha256.isEmpty() ? QStringLiteral("(none)") : sha256));
    if (!file.seek(0)) return fail(file.errorString());

    RecordedFrames frames(std::move(keep));
    Taker taker(frames);
    Framer framer;
    framer.setFrameObserver(&taker);
    record::BytesReader reader(&file);
    while (const auto block = reader.next()) {
        // The evaluation's clock: whole milliseconds since the recording began.
        taker.tMs = block->microseconds / 1000;
        framer.feed(Bytes(reinterpret_cast<const Byte*>(block->bytes.constData()), std::size_t(block->bytes.size())));
    }
    if (!reader.error().isEmpty()) return fail(reader.error());
    return frames;
}

void Rejudging::add(Result r)
{
    judgeResult(r, plan, check);
    into.results.push_back(r);
}

void rejudgeSpeed(Rejudging& j)
{
    for (const Result& r : j.run.results) {
        if (r.quantity == u"frame rate" && r.reference) {
            const int rate = static_cast<int>(*r.reference);
            if (std::find(j.check.rates.begin(), j.check.rates.end(), rate) == j.check.rates.end()) continue;
            j.add(frameRateRow(j.frames.window(intervalOf(r)), rate, j.check.tolerancePercent, intervalOf(r)));
        } else {
            j.keep(r);
        }
    }
}

void rejudgeZero(Rejudging& j)
{
    for (const Result& r : j.run.results) {
        if (r.quantity == u"zero" && r.channel) {
            j.add(pressureRows(j.frames.window(intervalOf(r)), r.quantity, 0, j.check.limitMmHg, intervalOf(r))[std::size_t(r.channel - 1)]);
        } else {
            j.keep(r);
        }
    }
}

void rejudgeStatic(Rejudging& j)
{
    for (const Result& r : j.run.results) {
        if (r.quantity == u"pressure" && r.channel && r.reference) {
            if (!among(j.check.points, *r.reference)) continue;  // a point the plan leaves out
            const double p = *r.reference;
            j.add(pressureRows(j.frames.window(intervalOf(r)), r.quantity, p, j.check.limitFor(p), intervalOf(r))[std::size_t(r.channel - 1)]);
        } else if (const std::optional<double> p = skippedPoint(r); p && !among(j.check.points, *p)) {
            continue;
        } else {
            j.keep(r);
        }
    }
}

void rejudgeDynamic(Rejudging& j)
{
    bool done = false;
    for (const Result& r : j.run.results) {
        if (!fromBeats(r.quantity)) {
            j.keep(r);
            continue;
        }
        if (done) continue;
        // Every row of the beats at once, in the order the run gave them.
        done = true;
        const std::vector<Beat> beats = j.frames.beats(intervalOf(r), j.check.beats);
        for (const Result& row : dynamicRows(beats, j.check, j.plan.rate, intervalOf(r), &j.into.beats)) j.add(row);
    }
}

void rejudgeDrift(Rejudging& j)
{
    for (const Result& r : j.run.results) {
        if (r.quantity == u"drift" && r.channel)
            j.add(driftRows(j.frames.window(intervalOf(r)), j.check, intervalOf(r))[std::size_t(r.channel - 1)]);
        else
            j.keep(r);
    }
}

void rejudgeFrequency(Rejudging& j)
{
    // In the order the run measured them, lowest first: the first of a
    // channel's the plan keeps is the others' reference.
    std::optional<LowestGain> lowest[2];
    for (const Result& r : j.run.results) {
        const std::optional<double> hz = r.frequencyHz;
        if (hz && r.channel) {
            if (!among(j.check.frequenciesHz, *hz)) continue;  // a frequency the plan leaves out
            j.add(frequencyRow(j.frames.window(intervalOf(r)), r.channel, *hz, j.check, &lowest[r.channel - 1], intervalOf(r)));
        } else if (r.verdict == Verdict::Skipped && r.quantity.startsWith(QLatin1String("sine "))
                   && !among(j.check.frequenciesHz, r.quantity.section(u' ', 3, 3).toDouble())) {
            continue;
        } else {
            j.keep(r);
        }
    }
}

void rejudgeMains(Rejudging& j)
{
    for (const Result& r : j.run.results) {
        if (r.appliedMmHg && r.frequencyHz && r.channel) {
            if (among(j.check.frequenciesHz, *r.frequencyHz))
                j.add(mainsRow(j.frames.window(intervalOf(r)), r.channel, *r.frequencyHz, j.check, intervalOf(r)));
        } else if (r.verdict == Verdict::Skipped && r.quantity.startsWith(QLatin1String("static "))
                   && !among(j.check.frequenciesHz, r.quantity.section(u' ', 3, 3).toDouble())) {
            continue;  // a skipped frequency the plan leaves out
        } else {
            j.keep(r);
        }
    }
}

std::optional<std::vector<std::size_t>> matchPlan(const Plan& run, const Plan& plan, const QString& planSource, QString* why)
{
    auto refuse = [&](const QString& what) {
        if (why) *why = QStringLiteral("%1: %2").arg(planSource, what);
        return std::nullopt;
    };
    const QJsonObject runJson = planJson(run), planJsonObject = planJson(plan);
    // [plan]'s keys that decide what was measured: the rate.
    for (const Setting<Plan>& s : planKeys()) {
        const QString key = q(s.key->name);
        if (s.key->rejudge != Rejudge::Free && runJson[key] != planJsonObject[key])
            return refuse(QStringLiteral("[plan] has %1 = %2 where the run had %3: judging again keeps each "
                                         "measurement as it was made")
                              .arg(key, listText(planJsonObject[key]), listText(runJson[key])));
    }
    const QJsonArray runChecks = runJson[u"checks"].toArray(), planChecks = planJsonObject[u"checks"].toArray();
    std::vector<std::size_t> matched;
    for (std::size_t k = 0; k < plan.checks.size(); ++k) {
        const Check& c = plan.checks[k];
        const QString kind = kindName(c.kind);
        // The run's check of the same kind and name, else the only one of its kind.
        std::optional<std::size_t> found;
        int ofKind = 0;
        for (std::size_t i = 0; i < run.checks.size(); ++i) {
            if (run.checks[i].kind != c.kind) continue;
            ++ofKind;
            if (run.checks[i].name == c.name && !found) found = i;
        }
        if (!found && ofKind == 1)
            for (std::size_t i = 0; i < run.checks.size(); ++i)
                if (run.checks[i].kind == c.kind) found = i;
        if (!found)
            return refuse(ofKind == 0 ? QStringLiteral("the run has no %1 check (\"%2\")").arg(kind, c.name)
                                      : QStringLiteral("the run has no %1 check named \"%2\"").arg(kind, c.name));
        const QJsonObject was = runChecks[qsizetype(*found)].toObject(), asked = planChecks[qsizetype(k)].toObject();
        for (const Setting<Check>& s : kindDescription(c.kind).keys) {
            const QString key = q(s.key->name);
            if (s.key->rejudge == Rejudge::AsRun && was[key] != asked[key])
                return refuse(QStringLiteral("the %1 check \"%2\" has %3 = %4 where the run had %5: judging again keeps "
                                             "each measurement as it was made")
                                  .arg(kind, c.name, key, listText(asked[key]), listText(was[key])));
            if (s.key->rejudge == Rejudge::Subset) {
                const QJsonArray had = was[key].toArray();
                for (const QJsonValue v : asked[key].toArray())
                    if (!had.contains(v))
                        return refuse(QStringLiteral("the %1 check \"%2\" asks for %3 %4, which the run did not measure "
                                                     "(%3 %5)")
                                          .arg(kind, c.name, key, listText(v), listText(was[key])));
            }
        }
        matched.push_back(*found);
    }
    return matched;
}

Rescored rescoreReport(const QString& reportPath, const std::optional<Plan>& givenPlan, const QString& planSource,
                       const QString& name)
{
    Rescored out;
    std::optional<StoredReport> stored = readReportFile(reportPath, &out.error);
    if (!stored) return out;
    const ReportInfo& was = stored->info;
    const Plan plan = givenPlan ? *givenPlan : was.plan;
    const std::optional<std::vector<std::size_t>> matched =
        matchPlan(was.plan, plan, givenPlan ? planSource : QStringLiteral("the report's plan"), &out.error);
    if (!matched) return out;

    const QDir reportDir = QFileInfo(reportPath).absoluteDir();
    const QString bytesPath = reportDir.filePath(was.bytesPath);
    if (was.bytesPath.isEmpty() || was.bytesSha256.isEmpty()) {
        out.error = QStringLiteral("%1: names no recording with its SHA-256 (its recording was not written whole): "
                                   "the run cannot be judged again")
                        .arg(QDir::toNativeSeparators(reportPath));
        return out;
    }
    std::vector<Interval> keep;
    for (const CheckOutcome& o : was.checks)
        for (const Result& r : o.results) keep.push_back({r.fromMs, r.toMs});
    const std::optional<RecordedFrames> frames = readRecordedFrames(bytesPath, was.bytesSha256, keep, &out.error);
    if (!frames) return out;

    ReportInfo info;
    info.runId = QUuid::createUuid().toString(QUuid::WithoutBraces);  // its own run_id, never the one it judges again
    info.startedUtc = was.startedUtc;
    info.endedUtc = was.endedUtc;
    info.version = programVersion();
    info.operatorName = was.operatorName;
    info.boardId = was.boardId;
    info.port = was.port;
    info.device = was.device;
    info.identification = was.identification;
    info.referenceEquipment = was.referenceEquipment;
    info.bench = was.bench;  // judged again elsewhere, it is still the bench that measured it
    info.ambient = was.ambient;
    info.aborted = was.aborted;
    info.plan = plan;
    info.bytesSha256 = was.bytesSha256;
    const QDir newDir = QFileInfo(name).absoluteDir();
    info.bytesPath = newDir.relativeFilePath(bytesPath);
    info.csvPath = newDir.relativeFilePath(reportDir.filePath(was.csvPath));
    info.rescoredFrom = newDir.relativeFilePath(QFileInfo(reportPath).absoluteFilePath());
    info.carried = stored->json;

    for (std::size_t k = 0; k < plan.checks.size(); ++k) {
        const std::size_t i = (*matched)[k];
        if (i >= was.checks.size()) continue;  // the run ended before it
        const Check& check = plan.checks[k];
        CheckOutcome o{check.name, check.kind, Verdict::Pass, {}, {}};
        Rejudging j{plan, check, was.checks[i], *frames, o};
        if (const auto rejudge = kindDescription(check.kind).rejudge) rejudge(j);
        else
            for (const Result& r : was.checks[i].results) j.keep(r);
        o.verdict = checkVerdict(o.results);
        info.checks.push_back(std::move(o));
    }
    info.verdict = runVerdict(info.checks, plan.checks.size(), info.aborted);
    out.report = std::move(info);
    return out;
}

}  // namespace quorvid::evaluate
