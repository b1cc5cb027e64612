#include "boardsettings.h"

#include <charconv>
#include <cstdio>
#include <cmath>
#include <algorithm>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace quorvid::sim {

namespace {

std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

std::optional<double> number(std::string_view word)
{
    if (!word.empty() && word.front() == '+') word.remove_prefix(1);
    double v = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
    if (ec != std::errc() || end != word.data() + word.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::string quoted(std::string_view w) { return "\"" + std::string(w) + "\""; }

// A number within [lo, hi], or the reason it is not one.
std::variant<double, std::string> ranged(std::string_view word, const char* what, double lo, double hi)
{
    const std::optional<double> v = number(word);
    if (!v) return std::string(what) + " wants a number, not " + quoted(word);
    if (*v < lo || *v > hi) {
        char text[160];
        std::snprintf(text, sizeof text, "%s %g is outside %g to %g", what, *v, lo, hi);
        return std::string(text);
    }
    return *v;
}

using Result = std::variant<Setting, std::string>;

constexpr double kMinPressure = -50, kMaxPressure = 300;

// The words after "mains": HZ A, or off.
std::variant<Interference, std::string> interference(std::span<const std::string_view> w)
{
    if (w.size() == 1 && w[0] == "off") return Interference{};
    if (w.size() != 2) return std::string("mains wants a frequency HZ and an amplitude A in mmHg, or off");
    auto hz = ranged(w[0], "the mains frequency", 40, 70);
    if (auto* why = std::get_if<std::string>(&hz)) return *why;
    auto a = ranged(w[1], "the interference", 0, 100);
    if (auto* why = std::get_if<std::string>(&a)) return *why;
    return Interference{std::get<double>(hz), std::get<double>(a)};
}

Result mainsSetting(int channel, std::span<const std::string_view> w)
{
    auto i = interference(w);
    if (auto* why = std::get_if<std::string>(&i)) return *why;
    Setting s;
    s.channel = channel;
    s.what = Setting::What::Mains;
    s.mains = std::get<Interference>(i);
    return s;
}

Result channelSetting(int channel, const std::vector<std::string_view>& w);

// An input's words followed by "mains HZ A": both, as one setting.
std::optional<Result> inputWithMains(int channel, const std::vector<std::string_view>& w)
{
    static constexpr std::string_view kInputs[] = {"static", "arterial", "pa", "sine", "off"};
    if (w.size() < 3 || std::find(std::begin(kInputs), std::end(kInputs), w[1]) == std::end(kInputs)) return std::nullopt;
    const auto at = std::find(w.begin() + 2, w.end(), std::string_view("mains"));
    if (at == w.end()) return std::nullopt;
    Result input = channelSetting(channel, std::vector<std::string_view>(w.begin(), at));
    if (std::holds_alternative<std::string>(input)) return input;
    auto i = interference(std::span<const std::string_view>(at + 1, w.end()));
    if (auto* why = std::get_if<std::string>(&i)) return Result(*why);
    std::get<Setting>(input).mains = std::get<Interference>(i);
    return input;
}

Result channelSetting(int channel, const std::vector<std::string_view>& w)
{
    Setting s;
    s.channel = channel;
    if (w.size() < 2) return std::string("a channel wants what to set: static, arterial, pa, sine, off, gain, offset, drift, noise, bandwidth, mains or filter");
    if (std::optional<Result> both = inputWithMains(channel, w)) return *both;
    const std::string_view what = w[1];
    auto wantArgs = [&](std::size_t n, const char* form) -> std::optional<std::string> {
        if (w.size() == 2 + n) return std::nullopt;
        return std::string(what) + " wants " + form;
    };
    if (what == "off") {
        if (auto e = wantArgs(0, "nothing after it")) return *e;
        s.input.kind = ChannelInput::Kind::Off;
        return s;
    }
    if (what == "static") {
        if (auto e = wantArgs(1, "a pressure P in mmHg")) return *e;
        auto p = ranged(w[2], "the pressure", kMinPressure, kMaxPressure);
        if (auto* why = std::get_if<std::string>(&p)) return *why;
        s.input.kind = ChannelInput::Kind::Static;
        s.input.a = std::get<double>(p);
        return s;
    }
    if (what == "arterial" || what == "pa") {
        if (auto e = wantArgs(1, "S/D, systolic over diastolic in mmHg")) return *e;
        const std::string_view sd = w[2];
        const std::size_t slash = sd.find('/');
        if (slash == std::string_view::npos) return std::string(what) + " wants S/D, not " + quoted(sd);
        auto sys = ranged(sd.substr(0, slash), "the systolic pressure", kMinPressure, kMaxPressure);
        if (auto* why = std::get_if<std::string>(&sys)) return *why;
        auto dia = ranged(sd.substr(slash + 1), "the diastolic pressure", kMinPressure, kMaxPressure);
        if (auto* why = std::get_if<std::string>(&dia)) return *why;
        if (std::get<double>(dia) > std::get<double>(sys))
            return std::string("the diastolic pressure is above the systolic in ") + quoted(sd);
        s.input.kind = what == "pa" ? ChannelInput::Kind::Pulmonary : ChannelInput::Kind::Arterial;
        s.input.a = std::get<double>(sys);
        s.input.b = std::get<double>(dia);
        return s;
    }
    if (what == "sine") {
        if (auto e = wantArgs(3, "a mean M, an amplitude A in mmHg and a frequency F in Hz")) return *e;
        auto m = ranged(w[2], "the mean", kMinPressure, kMaxPressure);
        if (auto* why = std::get_if<std::string>(&m)) return *why;
        auto a = ranged(w[3], "the amplitude", 0, kMaxPressure - kMinPressure);
        if (auto* why = std::get_if<std::string>(&a)) return *why;
        auto f = ranged(w[4], "the frequency", 0.5, 40);
        if (auto* why = std::get_if<std::string>(&f)) return *why;
        const double mean = std::get<double>(m), amp = std::get<double>(a);
        if (mean - amp < kMinPressure || mean + amp > kMaxPressure)
            return std::string("the sine leaves -50 to 300 mmHg");
        s.input = {ChannelInput::Kind::Sine, mean, amp, std::get<double>(f)};
        return s;
    }
    if (what == "bandwidth") {
        if (auto e = wantArgs(1, "a corner in Hz, or off")) return *e;
        s.what = Setting::What::Transducer;
        s.transducer = TransducerSetting::Bandwidth;
        if (w[2] == "off") return s;
        auto v = ranged(w[2], "the bandwidth", 0.5, 100);
        if (auto* why = std::get_if<std::string>(&v)) return *why;
        s.value = std::get<double>(v);
        return s;
    }
    if (what == "mains") return mainsSetting(channel, std::span<const std::string_view>(w).subspan(2));
    if (what == "filter") {
        static constexpr std::pair<std::string_view, NotchFault> kFaults[] = {
            {"sound", NotchFault::Sound}, {"broken", NotchFault::Broken}, {"50", NotchFault::Stuck50}, {"60", NotchFault::Stuck60}};
        if (w.size() == 3)
            for (const auto& [word, fault] : kFaults)
                if (w[2] == word) {
                    s.what = Setting::What::Filter;
                    s.filter = fault;
                    return s;
                }
        return std::string("filter wants sound, broken, 50 or 60");
    }
    struct Error { const char* word; TransducerSetting kind; const char* name; double lo, hi; };
    static constexpr Error kErrors[] = {
        {"gain", TransducerSetting::Gain, "the gain", 0.1, 10},
        {"offset", TransducerSetting::Offset, "the offset", -300, 300},
        {"drift", TransducerSetting::Drift, "the drift", -1000, 1000},
        {"noise", TransducerSetting::Noise, "the noise", 0, 50},
    };
    for (const Error& e : kErrors) {
        if (what != e.word) continue;
        if (auto err = wantArgs(1, "one number")) return *err;
        auto v = ranged(w[2], e.name, e.lo, e.hi);
        if (auto* why = std::get_if<std::string>(&v)) return *why;
        s.what = Setting::What::Transducer;
        s.transducer = e.kind;
        s.value = std::get<double>(v);
        return s;
    }
    return quoted(what) + " is not a setting of a channel (static, arterial, pa, sine, off, gain, offset, drift, noise, bandwidth, mains, filter)";
}

}  // namespace

std::variant<Setting, std::string> parseSetting(std::string_view line)
{
    const std::vector<std::string_view> w = words(line);
    if (w.empty()) return std::string("an empty line sets nothing");
    if (w[0] == "ch1" || w[0] == "ch2") return channelSetting(w[0] == "ch1" ? 1 : 2, w);
    Setting s;
    if (w[0] == "rate") {
        if (w.size() != 2) return std::string("rate wants one number, beats a minute");
        auto v = ranged(w[1], "the rate", 30, 250);
        if (auto* why = std::get_if<std::string>(&v)) return *why;
        s.what = Setting::What::Rate;
        s.value = std::get<double>(v);
        return s;
    }
    if (w[0] == "mains") return mainsSetting(0, std::span<const std::string_view>(w).subspan(1));
    if (w[0] == "variation") {
        if (w.size() != 2 || (w[1] != "on" && w[1] != "off")) return std::string("variation wants on or off");
        s.what = Setting::What::Variation;
        s.value = w[1] == "on" ? 1 : 0;
        return s;
    }
    return quoted(w[0]) + " is not a setting: a line starts with ch1, ch2, rate, variation or mains";
}

std::variant<BoardLine, std::string> splitBoardNumber(std::string_view line, int boards)
{
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t digits = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
    std::size_t colon = i;
    while (colon < line.size() && (line[colon] == ' ' || line[colon] == '\t')) ++colon;
    if (i == digits || colon >= line.size() || line[colon] != ':') return BoardLine{0, line};
    const std::string_view number = line.substr(digits, i - digits);
    int board = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), board);
    if (ec != std::errc() || end != number.data() + number.size() || board < 1 || board > boards)
        return "board " + std::string(number) + " is not one of 1 to " + std::to_string(boards);
    return BoardLine{board, line.substr(colon + 1)};
}

const char* settingGrammar()
{
    return "  ch1|ch2 static P             constant pressure, -50..300 mmHg    ch1 static 100\n"
           "  ch1|ch2 arterial S/D         arterial shape                      ch1 arterial 120/80\n"
           "  ch1|ch2 pa S/D               pulmonary-artery shape              ch2 pa 25/10\n"
           "  ch1|ch2 sine M A F           mean, amplitude, 0.5..40 Hz         ch1 sine 100 20 2\n"
           "  ch1|ch2 off                  no transducer                       ch2 off\n"
           "  ch1|ch2 gain G               transducer gain, 0.1..10            ch1 gain 1.06\n"
           "  ch1|ch2 offset MMHG          offset before zeroing               ch1 offset 7\n"
           "  ch1|ch2 drift MMHG_PER_HOUR  the offset's growth                 ch2 drift 3\n"
           "  ch1|ch2 noise SD             Gaussian noise, mmHg, 0..50         ch1 noise 0.5\n"
           "  ch1|ch2 bandwidth HZ|off     input stage's corner, 0.5..100 Hz   ch1 bandwidth 6\n"
           "  ch1|ch2 mains HZ A|off       interference, 40..70 Hz, A mmHg     ch1 mains 60 20\n"
           "  ch1|ch2 filter F             mains filter sound|broken|50|60     ch1 filter 50\n"
           "  rate BPM                     30..250 beats a minute              rate 60\n"
           "  variation on|off             beat-to-beat variation              variation off\n"
           "  mains HZ A|off               interference on both channels       mains 50 20\n"
           "  (an input may end in mains HZ A: ch1 static 100 mains 60 20)\n";
}

}  // namespace quorvid::sim
