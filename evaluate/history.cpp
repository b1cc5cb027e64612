#include "history.h"

#include "frontend.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <future>
#include <map>

namespace quorvid::evaluate {

namespace {

// The folder with the system's separators; a store's address as it is
// written (postgresql://... is no path to turn into backslashes on Windows).
QString shownSource(const QString& dir)
{
    return dir.contains(QLatin1String("://")) ? dir : QDir::toNativeSeparators(dir);
}

QString refText(double v) { return v == std::round(v) ? QString::number(v, 'f', 0) : QString::number(v, 'f', 1); }

// "static ch1 pressure 100 mmHg", "dynamic pulse rate 60 /min"
QString keyText(const ResultKey& k)
{
    QString s = k.check + u' ';
    if (k.channel) s += QStringLiteral("ch%1 ").arg(k.channel);
    s += k.quantity;
    if (k.reference) s += u' ' + refText(*k.reference) + (k.unit.isEmpty() ? QString() : u' ' + k.unit);
    return s;
}

// Every .json under dir, in order of path; folders that cannot be read are
// named among the skipped.
void collect(const QString& dir, const QDir& root, QStringList& files, std::vector<HistorySkip>& skipped)
{
    const QDir d(dir);
    const QFileInfoList entries =
        d.entryInfoList(QDir::Files | QDir::Dirs | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QFileInfo& e : entries) {
        if (e.isDir()) {
            if (e.isSymLink()) continue;  // a link could lead round in a circle
            if (!e.isReadable() || !e.isExecutable()) {
                skipped.push_back({root.relativeFilePath(e.filePath()), QStringLiteral("a folder that cannot be read")});
                continue;
            }
            collect(e.filePath(), root, files, skipped);
        } else if (e.suffix().compare(QLatin1String("json"), Qt::CaseInsensitive) == 0) {
            // Neither a link to nothing nor a pipe or device is opened.
            if (e.isFile()) files << e.filePath();
            else
                skipped.push_back({root.relativeFilePath(e.filePath()),
                                   e.isSymLink() ? QStringLiteral("cannot be read: a link to nothing")
                                                 : QStringLiteral("cannot be read: not a regular file")});
        }
    }
}

QString csvField(const QString& s)
{
    if (!s.contains(u',') && !s.contains(u'"') && !s.contains(u'\n') && !s.contains(u'\r')) return s;
    return u'"' + QString(s).replace(u'"', QLatin1String("\"\"")) + u'"';
}

QString csvNumber(const std::optional<double>& v, int decimals = 4) { return v ? QString::number(*v, 'f', decimals) : QString(); }

}  // namespace

qint64 errorMillionths(double error) { return std::llround(error * 1e6); }

namespace {

// An unsigned 128-bit number, enough for the sums of squares' exact spread on
// every compiler.
struct Wide {
    quint64 hi = 0, lo = 0;
};

Wide product(quint64 a, quint64 b)
{
    const quint64 a0 = a & 0xffffffffu, a1 = a >> 32, b0 = b & 0xffffffffu, b1 = b >> 32;
    const quint64 p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const quint64 middle = (p00 >> 32) + (p01 & 0xffffffffu) + (p10 & 0xffffffffu);
    return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (p00 & 0xffffffffu)};
}

Wide plus(Wide a, Wide b)
{
    Wide r{a.hi + b.hi, a.lo + b.lo};
    r.hi += r.lo < a.lo;
    return r;
}

Wide minus(Wide a, Wide b)
{
    Wide r{a.hi - b.hi, a.lo - b.lo};
    r.hi -= a.lo < b.lo;
    return r;
}

Wide times(Wide a, quint64 b) { return plus(product(a.lo, b), Wide{a.hi * b, 0}); }

quint64 magnitude(qint64 v) { return v < 0 ? 0 - quint64(v) : quint64(v); }

}  // namespace

qint64 ErrorSums::squareHigh(qint64 millionths)
{
    const Wide square = product(magnitude(millionths), magnitude(millionths));
    return qint64((square.hi << (64 - kLowBits)) | (square.lo >> kLowBits));
}

qint64 ErrorSums::squareLow(qint64 millionths)
{
    return qint64(product(magnitude(millionths), magnitude(millionths)).lo & ((quint64(1) << kLowBits) - 1));
}

void ErrorSums::add(double error)
{
    const qint64 q = errorMillionths(error);
    ++count;
    sum += q;
    squaresHigh += squareHigh(q);
    squaresLow += squareLow(q);
}

double ErrorSums::mean() const { return count > 0 ? double(sum) / (double(count) * 1e6) : 0; }

std::optional<double> ErrorSums::sd() const
{
    if (count < 2) return std::nullopt;
    // n Σq² - (Σq)², exact, then in a double.
    const Wide squares = plus(Wide{quint64(squaresHigh) >> (64 - kLowBits), quint64(squaresHigh) << kLowBits}, Wide{0, quint64(squaresLow)});
    const Wide spread = minus(times(squares, quint64(count)), product(magnitude(sum), magnitude(sum)));
    const double exact = std::ldexp(double(spread.hi), 64) + double(spread.lo);
    return std::sqrt(exact / (double(count) * double(count - 1))) / 1e6;
}

std::vector<ResultStats> resultStatistics(const std::vector<HistoryRun>& runs)
{
    struct Gathered {
        ErrorSums sums;
        double worst = -1;
    };
    std::vector<ResultStats> stats;
    std::vector<Gathered> gathered;
    std::map<QString, std::size_t> index;  // by the key's words, which hold every part of it
    for (const HistoryRun& run : runs) {
        for (const CheckOutcome& o : run.checks) {
            for (const Result& r : o.results) {
                if (r.verdict == Verdict::Skipped || r.quantity == u"aborted") continue;
                const ResultKey key{o.name, kindName(o.kind), r.channel, r.quantity, r.unit, r.reference};
                const QString words = keyText(key) + u'\x1f' + key.kind;
                auto [at, added] = index.try_emplace(words, stats.size());
                if (added) {
                    ResultStats fresh;
                    fresh.key = key;
                    stats.push_back(fresh);
                    gathered.emplace_back();
                }
                ResultStats& s = stats[at->second];
                Gathered& g = gathered[at->second];
                ++s.n;
                s.passed += r.verdict == Verdict::Pass;
                s.marginal += r.marginal;
                if (r.limit) s.limit = r.limit;  // runs come oldest first: the latest stays
                if (!r.error) continue;
                g.sums.add(*r.error);
                s.minError = s.minError ? std::min(*s.minError, *r.error) : *r.error;
                s.maxError = s.maxError ? std::max(*s.maxError, *r.error) : *r.error;
                if (std::abs(*r.error) > g.worst) g.worst = std::abs(*r.error), s.worstBoard = run.boardId;
            }
        }
    }
    for (std::size_t i = 0; i < stats.size(); ++i) finishStatistics(stats[i], gathered[i].sums);
    return stats;
}

void finishStatistics(ResultStats& s, const ErrorSums& e)
{
    s.figures = int(e.count);
    if (e.count == 0) return;
    s.meanError = e.mean();
    s.sdError = e.sd();
    if (s.sdError && *s.sdError > 0 && s.limit) s.cpk = (*s.limit - std::abs(*s.meanError)) / (3 * *s.sdError);
}

std::optional<History> readHistory(const HistoryRequest& request, QString* error, const std::function<void(int, int)>& progress)
{
    const QFileInfo dirInfo(request.dir);
    if (!dirInfo.isDir() || !dirInfo.isReadable() || !dirInfo.isExecutable()) {
        if (error)
            *error = QStringLiteral("Cannot read the folder %1: %2")
                         .arg(QDir::toNativeSeparators(request.dir),
                              !dirInfo.exists() ? QStringLiteral("No such file or directory")
                              : !dirInfo.isDir() ? QStringLiteral("not a folder")
                                                 : QStringLiteral("Permission denied"));
        return std::nullopt;
    }
    History h;
    h.request = request;
    // Paths under the folder are named from it, however it was given.
    const QString absolute = dirInfo.absoluteFilePath();
    const QDir root(absolute);
    QStringList files;
    collect(absolute, root, files, h.skipped);

    struct Found {
        StoredReport report;
        QString path, relative;
    };
    std::vector<Found> found;
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (progress) progress(int(i), int(files.size()));
        const QString& path = files[i];
        const QString relative = root.relativeFilePath(path);
        QString why;
        const std::optional<QJsonObject> json = readJsonFile(path, &why);
        if (!json) {
            h.skipped.push_back({relative, why});
            continue;
        }
        switch (storedKind(*json)) {
        case StoredKind::Report: break;
        case StoredKind::StationSummary:
            h.skipped.push_back({relative, QStringLiteral("a station's summary: its boards' own reports are counted")});
            continue;
        case StoredKind::HistorySummary:
            h.skipped.push_back({relative, QStringLiteral("a history summary")});
            continue;
        case StoredKind::Foreign:
            h.skipped.push_back({relative, QStringLiteral("not an evaluation report (no quorvid_version, plan and checks)")});
            continue;
        }
        std::optional<StoredReport> report = readReportJson(*json, QFileInfo(path).fileName(), &why);
        if (!report) {
            h.skipped.push_back({relative, QStringLiteral("a report that cannot be read: %1").arg(why)});
            continue;
        }
        found.push_back({std::move(*report), path, relative});
    }
    if (progress) progress(int(files.size()), int(files.size()));

    // A run is counted once, by its recording: a report saved again under
    // another name, or a run judged again, names the same one. Its own report
    // is taken before a judgement of it again.
    std::map<QString, std::size_t> byRecording;
    std::vector<bool> counted(found.size(), true);
    for (std::size_t i = 0; i < found.size(); ++i) {
        const QString sha = found[i].report.info.bytesSha256;
        if (sha.isEmpty()) continue;
        auto [at, added] = byRecording.try_emplace(sha, i);
        if (added) continue;
        std::size_t& kept = at->second;
        const bool keptJudgedAgain = !found[kept].report.info.rescoredFrom.isEmpty();
        const bool thisJudgedAgain = !found[i].report.info.rescoredFrom.isEmpty();
        std::size_t dropped = i;
        if (keptJudgedAgain && !thisJudgedAgain) std::swap(dropped, kept);
        counted[dropped] = false;
        h.skipped.push_back({found[dropped].relative,
                             QStringLiteral("the same run as %1 (the same recording)").arg(found[kept].relative)});
    }

    const QString since = request.since ? request.since->toString(Qt::ISODate) : QString();
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (!counted[i]) continue;
        const StoredReport& r = found[i].report;
        if (!request.boardId.isEmpty() && r.info.boardId != request.boardId) continue;
        if (!since.isEmpty() && r.info.startedUtc.left(10) < since) continue;
        HistoryRun run;
        run.boardId = r.info.boardId;
        run.startedUtc = r.info.startedUtc;
        run.identification = r.info.identification;
        run.operatorName = r.info.operatorName;
        run.bench = r.info.bench;
        run.plan = r.info.plan.name;
        run.verdict = verdictName(r.info.verdict);
        run.failed = failedResults(r.info.checks);
        run.marginal = marginalResults(r.info.checks);
        run.report = found[i].relative;
        run.path = found[i].path;
        run.checks = r.info.checks;
        h.runs.push_back(std::move(run));
    }
    std::stable_sort(h.runs.begin(), h.runs.end(), [](const HistoryRun& a, const HistoryRun& b) {
        return a.startedUtc != b.startedUtc ? a.startedUtc < b.startedUtc : a.report < b.report;
    });
    std::stable_sort(h.skipped.begin(), h.skipped.end(), [](const HistorySkip& a, const HistorySkip& b) { return a.path < b.path; });
    h.results = resultStatistics(h.runs);
    return h;
}

QStringList plottedBoards(const History& h)
{
    struct Board {
        int runs = 0, failed = 0, marginal = 0;
    };
    std::map<QString, Board> boards;
    for (const HistoryRun& r : h.runs) {
        Board& b = boards[r.boardId];
        ++b.runs;
        b.failed += r.failed;
        b.marginal += r.marginal;
    }
    std::vector<std::pair<QString, Board>> plotted;
    for (const auto& [id, b] : boards)
        if (b.runs >= 2 && (h.request.boardId.isEmpty() || id == h.request.boardId)) plotted.push_back({id, b});
    std::stable_sort(plotted.begin(), plotted.end(), [](const auto& a, const auto& b) {
        return a.second.failed != b.second.failed ? a.second.failed > b.second.failed : a.second.marginal > b.second.marginal;
    });
    if (plotted.size() > kPlottedBoards) plotted.resize(kPlottedBoards);
    QStringList out;
    for (const auto& p : plotted) out << p.first;
    return out;
}

void appendJsonText(QByteArray& out, QStringView s)
{
    // UTF-8, with what JSON must escape escaped, and a lone surrogate kept as
    // \uXXXX, so that it too reads back as it was.
    static constexpr char hex[] = "0123456789abcdef";
    auto escaped = [&out](char16_t c) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out += hex[(c >> shift) & 15];
    };
    out += '"';
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        if (c >= 0x20 && c < 0x80 && c != u'"' && c != u'\\') {
            out += char(c);
        } else if (c < 0x80) {
            switch (c) {
            case u'"': out += "\\\""; break;
            case u'\\': out += "\\\\"; break;
            case u'\b': out += "\\b"; break;
            case u'\f': out += "\\f"; break;
            case u'\n': out += "\\n"; break;
            case u'\r': out += "\\r"; break;
            case u'\t': out += "\\t"; break;
            default: escaped(c);
            }
        } else if (c < 0x800) {
            out += char(0xc0 | c >> 6), out += char(0x80 | (c & 63));
        } else if (QChar::isHighSurrogate(c) && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
            const char32_t u = QChar::surrogateToUcs4(c, s[++i].unicode());
            out += char(0xf0 | u >> 18), out += char(0x80 | ((u >> 12) & 63)), out += char(0x80 | ((u >> 6) & 63)),
                out += char(0x80 | (u & 63));
        } else if (QChar::isSurrogate(c)) {
            escaped(c);
        } else {
            out += char(0xe0 | c >> 12), out += char(0x80 | ((c >> 6) & 63)), out += char(0x80 | (c & 63));
        }
    }
    out += '"';
}

void appendJsonNumber(QByteArray& out, double value)
{
    // A whole number a double holds exactly is written as an integer, as Qt does.
    if (std::trunc(value) == value && std::abs(value) <= 9007199254740992.0) out += QByteArray::number(qint64(value));
    else if (std::isfinite(value)) out += QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
    else out += "null";
}

namespace {

// JSON text as QJsonDocument writes it indented (a document's keys in order,
// four spaces a level, UTF-8), written straight from the history's values.
// At 100,000 runs a QJsonObject a run and QJsonDocument took 0.72 s of a
// summary's 2 s; this takes 0.13 s (bench/store.sh, bench/RESULTS.md).
class JsonText {
public:
    QByteArray out;

    // Opens an object or an array, as a value of the key given, if any.
    void open(char bracket, const char* key = nullptr)
    {
        item(key);
        out += bracket;
        out += '\n';
        ++depth_;
        first_ = true;
    }
    void close(char bracket)
    {
        --depth_;
        if (!first_) out += '\n';
        indent();
        out += bracket;
        first_ = false;
    }
    void value(const char* key, const QString& s)
    {
        item(key);
        string(s);
    }
    void value(const char* key, qint64 n)
    {
        item(key);
        out += QByteArray::number(n);
    }
    void value(const char* key, const std::optional<double>& v)
    {
        item(key);
        if (v) appendJsonNumber(out, *v);
        else out += "null";
    }
    void null(const char* key)
    {
        item(key);
        out += "null";
    }
    void orNull(const char* key, const QString& s) { s.isEmpty() ? null(key) : value(key, s); }

private:
    int depth_ = 0;
    bool first_ = true;

    void indent() { out.append(4 * depth_, ' '); }
    void item(const char* key)
    {
        if (depth_ > 0) {
            if (!first_) out += ",\n";
            indent();
        }
        first_ = false;
        if (key) {
            out += '"';
            out += key;
            out += "\": ";
        }
    }
    void string(QStringView s) { appendJsonText(out, s); }
};

}  // namespace

QByteArray historyJsonText(const History& h)
{
    JsonText j;
    j.out.reserve(qsizetype(h.runs.size()) * 400 + 4096);
    j.open('{');
    j.orNull("board_id", h.request.boardId);
    j.value("history_of", shownSource(h.request.dir));
    j.value("quorvid_version", programVersion());
    j.open('[', "results");
    for (const ResultStats& s : h.results) {
        j.open('{');
        if (s.key.channel)
            j.value("channel", qint64(s.key.channel));
        else
            j.null("channel");
        j.value("check", s.key.check);
        j.value("cpk", s.cpk);
        j.value("figures", qint64(s.figures));
        j.value("kind", s.key.kind);
        j.value("limit", s.limit);
        j.value("marginal", qint64(s.marginal));
        j.value("max_error", s.maxError);
        j.value("mean_error", s.meanError);
        j.value("min_error", s.minError);
        j.value("n", qint64(s.n));
        j.value("pass_rate", s.n > 0 ? std::optional(s.passRate()) : std::nullopt);
        j.value("quantity", s.key.quantity);
        j.value("reference", s.key.reference);
        j.value("sd_error", s.sdError);
        j.value("unit", s.key.unit);
        j.orNull("worst_board", s.worstBoard);
        j.close('}');
    }
    j.close(']');
    j.open('[', "runs");
    for (const HistoryRun& r : h.runs) {
        j.open('{');
        j.value("bench", r.bench);
        j.value("board_id", r.boardId);
        j.value("failed", qint64(r.failed));
        j.value("identification", r.identification);
        j.value("marginal", qint64(r.marginal));
        j.value("operator", r.operatorName);
        j.value("plan", r.plan);
        j.value("report", r.report);
        j.value("started_utc", r.startedUtc);
        j.value("verdict", r.verdict);
        j.close('}');
    }
    j.close(']');
    if (h.request.since)
        j.value("since", h.request.since->toString(Qt::ISODate));
    else
        j.null("since");
    j.open('[', "skipped");
    for (const HistorySkip& s : h.skipped) {
        j.open('{');
        j.value("path", s.path);
        j.value("reason", s.reason);
        j.close('}');
    }
    j.close(']');
    j.close('}');
    j.out += '\n';
    return j.out;
}

QJsonObject historyJson(const History& h) { return QJsonDocument::fromJson(historyJsonText(h)).object(); }

QByteArray historyCsv(const History& h)
{
    QString out = QStringLiteral("check,kind,channel,quantity,unit,reference,n,figures,mean_error,sd_error,min_error,"
                                 "max_error,worst_board,pass_rate,marginal,limit,cpk\n");
    for (const ResultStats& s : h.results) {
        const QStringList fields{
            csvField(s.key.check), s.key.kind, s.key.channel ? QString::number(s.key.channel) : QString(),
            csvField(s.key.quantity), csvField(s.key.unit), s.key.reference ? QString::number(*s.key.reference) : QString(),
            QString::number(s.n), QString::number(s.figures), csvNumber(s.meanError), csvNumber(s.sdError),
            csvNumber(s.minError), csvNumber(s.maxError), csvField(s.worstBoard),
            s.n > 0 ? QString::number(s.passRate(), 'f', 4) : QString(), QString::number(s.marginal),
            csvNumber(s.limit), csvNumber(s.cpk, 3)};
        out += fields.join(u',') + u'\n';
    }
    return out.toUtf8();
}

QString historyHtml(const History& h, const QString& pageFolder)
{
    const QDir page(pageFolder);
    QString out = QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Evaluation history %1</title>\n<style>\n"
        "@page { size: A4 landscape; margin: 12mm; }\n"
        "body { font-family: sans-serif; font-size: 10pt; color: #222; max-width: 270mm; margin: 1em auto; }\n"
        "h1 { font-size: 16pt; margin: 0 0 .3em; } h2 { font-size: 12pt; margin: 1.2em 0 .3em; break-after: avoid; }\n"
        "table { border-collapse: collapse; width: 100%; margin: .3em 0; }\n"
        "th, td { border: 1px solid #bbb; padding: 2px 5px; text-align: right; } th { background: #eee; }\n"
        "td.t, th.t { text-align: left; } .pass { color: #1e7b34; } .fail { color: #b3261e; font-weight: bold; }\n"
        ".marginal { color: #8a5300; font-weight: bold; } section { break-inside: avoid; }\n"
        "svg.plot { max-width: 100%; height: auto; font-size: 10px; } .caption { margin: .5em 0 0; font-style: italic; }\n"
        "</style></head><body>\n")
                      .arg(htmlEscaped(shownSource(h.request.dir)));
    QSet<QString> boards;
    for (const HistoryRun& r : h.runs) boards.insert(r.boardId);
    const auto failedRuns = std::count_if(h.runs.begin(), h.runs.end(), [](const HistoryRun& r) { return r.verdict != u"pass"; });
    out += QStringLiteral("<h1>Evaluation history</h1>\n<p>%1: %2 runs of %3 boards, %4 failed; %5 files skipped.%6%7</p>\n")
               .arg(htmlEscaped(shownSource(h.request.dir)))
               .arg(h.runs.size())
               .arg(boards.size())
               .arg(failedRuns)
               .arg(h.skipped.size())
               .arg(h.request.boardId.isEmpty() ? QString() : QStringLiteral(" Board %1 only.").arg(htmlEscaped(h.request.boardId)),
                    h.request.since ? QStringLiteral(" Runs from %1 on.").arg(h.request.since->toString(Qt::ISODate)) : QString());

    out += QStringLiteral("<h2>Runs</h2>\n<table><tr><th class=\"t\">Started (UTC)</th><th class=\"t\">Board</th><th class=\"t\">Identification</th>"
                          "<th class=\"t\">Operator</th><th class=\"t\">Plan</th><th class=\"t\">Verdict</th><th>Failed</th><th>Marginal</th><th class=\"t\">Report</th></tr>\n");
    const std::size_t earlier = h.runs.size() > kPageRuns ? h.runs.size() - kPageRuns : 0;
    for (auto it = h.runs.begin() + qsizetype(earlier); it != h.runs.end(); ++it) {
        const HistoryRun& r = *it;
        // The page of the run beside its JSON, else the JSON.
        QString target = r.path;
        if (const QString html = r.path.left(r.path.size() - 5) + QStringLiteral(".html"); QFileInfo::exists(html)) target = html;
        const QString link = QString::fromUtf8(QUrl::toPercentEncoding(page.relativeFilePath(QFileInfo(target).absoluteFilePath()), "/"));
        out += QStringLiteral("<tr><td class=\"t\">%1</td><td class=\"t\">%2</td><td class=\"t\">%3</td><td class=\"t\">%4</td><td class=\"t\">%5</td>"
                              "<td class=\"t %6\">%7</td><td>%8</td><td>%9</td><td class=\"t\"><a href=\"%10\">%11</a></td></tr>\n")
                   .arg(htmlEscaped(r.startedUtc), htmlEscaped(r.boardId), htmlEscaped(r.identification), htmlEscaped(r.operatorName),
                        htmlEscaped(r.plan), r.verdict == u"pass" ? QStringLiteral("pass") : QStringLiteral("fail"), r.verdict.toUpper())
                   .arg(r.failed)
                   .arg(r.marginal)
                   .arg(htmlEscaped(link), htmlEscaped(r.report));
    }
    out += QStringLiteral("</table>\n");
    if (earlier > 0)
        out += QStringLiteral("<p>The latest %1 runs; %2 earlier runs are listed in the summary's JSON.</p>\n").arg(kPageRuns).arg(earlier);

    out += QStringLiteral("<h2>Results across runs</h2>\n<table><tr><th class=\"t\">Result</th><th>n</th><th>Mean error</th><th>SD</th>"
                          "<th>Min</th><th>Max</th><th class=\"t\">Worst board</th><th>Passed</th><th>MARGINAL</th><th>Limit</th><th>Cpk</th></tr>\n");
    auto fixed = [](const std::optional<double>& v, int decimals = 2) { return v ? QString::number(*v, 'f', decimals) : QStringLiteral("–"); };
    for (const ResultStats& s : h.results) {
        out += QStringLiteral("<tr><td class=\"t\">%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td><td class=\"t\">%7</td>"
                              "<td>%8</td><td%9>%10</td><td>%11</td><td>%12</td></tr>\n")
                   .arg(htmlEscaped(keyText(s.key)))
                   .arg(s.n)
                   .arg(fixed(s.meanError), fixed(s.sdError), fixed(s.minError), fixed(s.maxError), htmlEscaped(s.worstBoard))
                   .arg(s.n > 0 ? QStringLiteral("%1 %").arg(QString::number(100 * s.passRate(), 'f', 0)) : QStringLiteral("–"),
                        s.marginal ? QStringLiteral(" class=\"marginal\"") : QString(),
                        s.marginal ? QStringLiteral("%1 MARGINAL").arg(s.marginal) : QStringLiteral("0"),
                        fixed(s.limit, 1), fixed(s.cpk));
    }
    out += QStringLiteral("</table>\n");

    // Each board's error at each static point over its runs, a plot per channel.
    QString plots;
    for (const QString& board : plottedBoards(h)) {
        std::vector<const HistoryRun*> of;
        for (const HistoryRun& r : h.runs)
            if (r.boardId == board) of.push_back(&r);
        if (of.size() < 2) continue;
        const QDateTime first = QDateTime::fromString(of.front()->startedUtc, Qt::ISODateWithMs);
        auto since = [&first](const HistoryRun* r) {
            const QDateTime t = QDateTime::fromString(r->startedUtc, Qt::ISODateWithMs);
            return first.isValid() && t.isValid() ? first.msecsTo(t) : 0;
        };
        // Time in the unit that suits the board's span: minutes, hours or days.
        const qint64 span = since(of.back());
        const auto [unitMs, unit] = span < 2 * 3'600'000LL   ? std::pair{60'000.0, QStringLiteral("minutes")}
                                    : span < 2 * 86'400'000LL ? std::pair{3'600'000.0, QStringLiteral("hours")}
                                                              : std::pair{86'400'000.0, QStringLiteral("days")};
        for (int ch = 1; ch <= 2; ++ch) {
            std::vector<PlotLine> lines;
            for (const HistoryRun* r : of) {
                const double at = since(r) / unitMs;
                for (const CheckOutcome& o : r->checks) {
                    if (o.kind != CheckKind::Static) continue;
                    for (const Result& x : o.results) {
                        if (x.channel != ch || !x.reference || !x.error || x.quantity != u"pressure") continue;
                        const QString label = QStringLiteral("%1 mmHg").arg(refText(*x.reference));
                        auto line = std::find_if(lines.begin(), lines.end(), [&](const PlotLine& l) { return l.label == label; });
                        if (line == lines.end()) line = lines.insert(lines.end(), PlotLine{label, {}});
                        line->points.push_back({at, *x.error});
                    }
                }
            }
            if (lines.empty()) continue;
            plots += QStringLiteral("<section><p class=\"caption\">Board %1, channel %2: error at each static point, %3 runs</p>\n")
                         .arg(htmlEscaped(board)).arg(ch).arg(of.size());
            plots += linePlot(QStringLiteral("%1 since %2 UTC").arg(unit, of.front()->startedUtc.left(16).replace(u'T', u' ')),
                              QStringLiteral("error (mmHg)"), lines);
            plots += QStringLiteral("</section>\n");
        }
    }
    if (!plots.isEmpty()) out += QStringLiteral("<h2>Boards over time</h2>\n") + plots;

    if (!h.skipped.empty()) {
        out += QStringLiteral("<h2>Skipped</h2>\n<table><tr><th class=\"t\">File</th><th class=\"t\">Why</th></tr>\n");
        for (const HistorySkip& s : h.skipped)
            out += QStringLiteral("<tr><td class=\"t\">%1</td><td class=\"t\">%2</td></tr>\n").arg(htmlEscaped(s.path), htmlEscaped(s.reason));
        out += QStringLiteral("</table>\n");
    }
    return out + QStringLiteral("</body></html>\n");
}

bool writeHistory(const History& h, const QString& name, QString* error)
{
    // The JSON, the longest to make at many runs, made beside the other two.
    std::future<QByteArray> json = std::async(std::launch::async, [&h] { return historyJsonText(h); });
    QByteArray csv = historyCsv(h), html = historyHtml(h, QFileInfo(name).absolutePath()).toUtf8();
    return writeAllOrNone({{name + QStringLiteral(".json"), json.get()}, {name + QStringLiteral(".csv"), std::move(csv)},
                           {name + QStringLiteral(".html"), std::move(html)}},
                          error);
}

}  // namespace quorvid::evaluate
