#include "boardmodel.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

#ifndef QUORVID_BOARD_VERSION
#define QUORVID_BOARD_VERSION "0.0.0"
#endif

namespace quorvid::sim {

SimTime BoardModel::lineTime(std::size_t n)
{
    // Rounded up, so that the pace errs on the slow side.
    return SimTime{static_cast<std::int64_t>((n * 1'000'000 + kLineBytesPerSecond - 1)
                                             / kLineBytesPerSecond)};
}

namespace {

std::int16_t mmHg(double p) { return static_cast<std::int16_t>(std::lround(p)); }

constexpr SimTime kNever{std::numeric_limits<std::int64_t>::max() / 2};
constexpr double kZeroLimit = 50;                         // the most offset zeroing takes
constexpr double kLowestReading = -50, kHighestReading = 300;  // beyond: "Value out of Range !!!"

PulseSetting pulseOf(const ChannelInput& in) { return {in.kind == ChannelInput::Kind::Pulmonary, in.a, in.b}; }

}  // namespace

BoardModel::BoardModel(BoardOptions options)
    : m_options(options),
      m_wave(options.seed),
      // Its own stream, so that dropping bytes leaves the beats as they were.
      m_dropRng(options.seed ^ 0x9E3779B97F4A7C15ull),
      // And the noise its own, so that turning it on leaves them too.
      m_noiseRng(options.seed ^ 0xD1B54A32D192ED03ull)
{
    m_input[0] = {ChannelInput::Kind::Arterial, 120, 80, 0, true};
    m_input[1] = {ChannelInput::Kind::Pulmonary, 25, 10, 0, true};
    if (options.noSensorChannel == 1 || options.noSensorChannel == 2)
        m_input[options.noSensorChannel - 1] = {ChannelInput::Kind::Off};
}

std::string BoardModel::applySetting(std::string_view line, SimTime now)
{
    auto parsed = parseSetting(line);
    if (auto* why = std::get_if<std::string>(&parsed)) return *why;
    applySetting(std::get<Setting>(parsed), now);
    return {};
}

void BoardModel::applySetting(const Setting& s, SimTime now)
{
    // After everything that fell due before it; a sample due at this very
    // moment already reads the new setting.
    now = std::max(now, m_generatedUntil);
    if (now > m_generatedUntil) generate(now - SimTime{1});
    const int ch = s.channel - 1;
    switch (s.what) {
    case Setting::What::Input:
        m_mains[ch] = s.mains;
        if (s.input.pulsatile()) {
            // The beat in progress runs its course (a static level stays
            // until it ends); the shape starts with the next.
            m_wave.setPulse(ch, pulseOf(s.input));
            m_wave.reshapeFollowing();
            m_pendingInput[ch] = s.input;
        } else {
            m_pendingInput[ch].reset();
            m_input[ch] = s.input;
        }
        restartAverage(ch);
        break;
    case Setting::What::Transducer: {
        Transducer& t = m_transducer[ch];
        switch (s.transducer) {
        case TransducerSetting::Gain: t.gain = s.value; break;
        case TransducerSetting::Offset:
            t.offset = s.value;
            t.drifted = 0;
            t.driftSince = now;
            break;
        case TransducerSetting::Drift:
            t.drifted = t.offsetAt(now) - t.offset;
            t.driftSince = now;
            t.driftPerHour = s.value;
            break;
        case TransducerSetting::Noise: t.noise = s.value; break;
        case TransducerSetting::Bandwidth: t.stage.setCorner(s.value); break;
        }
        restartAverage(ch);
        break;
    }
    case Setting::What::Rate:
        m_wave.setRate(s.value);
        m_wave.reshapeFollowing();
        break;
    case Setting::What::Variation:
        m_wave.setVariation(s.value != 0);
        m_wave.reshapeFollowing();
        break;
    case Setting::What::Mains:
        for (int c = 0; c < 2; ++c)
            if (s.channel == 0 || c == ch) m_mains[c] = s.mains;
        break;
    case Setting::What::Filter:
        m_notch[ch] = s.filter;
        break;
    }
    beatingMayHaveChanged(now);
    statusMayHaveChanged(now);
}

bool BoardModel::beating() const
{
    return m_wave.current().mode == WaveMode::Synthetic || m_input[0].pulsatile() || m_input[1].pulsatile();
}

void BoardModel::beatingMayHaveChanged(SimTime now)
{
    const bool b = beating();
    if (m_beating && !b) m_valuesTick = now + kStatusPeriod;
    m_beating = b;
}

SimTime BoardModel::nextValuesTick() const { return m_beating ? kNever : m_valuesTick; }

double BoardModel::applied(int channel, SimTime t) const
{
    const ChannelInput& in = m_input[channel];
    switch (in.kind) {
    case ChannelInput::Kind::Static: return in.a;
    case ChannelInput::Kind::Sine:
        return in.a + in.b * std::sin(2 * std::numbers::pi * in.c * static_cast<double>(t.count()) / 1e6);
    case ChannelInput::Kind::Off: return 0;
    default: return m_wave.pressure(channel, t);
    }
}

double BoardModel::interference(int channel, SimTime t) const
{
    const Interference& m = m_mains[channel];
    if (m.amplitude <= 0) return 0;
    const NotchFault fault = m_notch[channel];
    const double notchHz = fault == NotchFault::Stuck50 ? 50 : fault == NotchFault::Stuck60 ? 60 : m_filterHz;
    // Steady state: the notch follows "5" and "6" at once, as the sine has
    // been on far longer than the filter takes to settle.
    const std::complex<double> h = fault == NotchFault::Broken ? 1.0 : notchResponse(m.hz, notchHz);
    return m.amplitude * std::abs(h)
           * std::sin(2 * std::numbers::pi * m.hz * static_cast<double>(t.count()) / 1e6 + std::arg(h));
}

double BoardModel::transduce(int channel, double pressure, SimTime t) const
{
    const Transducer& td = m_transducer[channel];
    return td.gain * pressure + td.offsetAt(t) - td.zero;
}

double BoardModel::gaussian()
{
    // Box-Muller over the raw 64-bit output, the same numbers on every platform.
    const double u1 = (static_cast<double>(m_noiseRng() >> 11) + 1) * 0x1.0p-53;  // (0, 1]
    const double u2 = static_cast<double>(m_noiseRng() >> 11) * 0x1.0p-53;        // [0, 1)
    return std::sqrt(-2 * std::log(u1)) * std::cos(2 * std::numbers::pi * u2);
}

double BoardModel::averageReading(int channel, SimTime t) const
{
    if (m_readings[channel] > 0) return m_readingSum[channel] / m_readings[channel];
    return transduce(channel, applied(channel, t), t);
}

void BoardModel::restartAverage(int channel)
{
    m_readingSum[channel] = 0;
    m_readings[channel] = 0;
}

std::string BoardModel::identificationText()
{
    return "Quorvid simulated IBP board (quorvid-board), 2 channels, version " QUORVID_BOARD_VERSION;
}

std::string BoardModel::identificationText(int number, int count)
{
    if (number <= 0) return identificationText();
    return "Quorvid simulated IBP board (quorvid-board) " + std::to_string(number) + " of " + std::to_string(count) +
           ", 2 channels, version " QUORVID_BOARD_VERSION;
}

void BoardModel::feedCommandBytes(Bytes bytes, SimTime now)
{
    // A command takes effect after everything that fell due before it.
    now = std::max(now, m_generatedUntil);
    generate(now);
    for (Byte b : bytes) {
        const char c = static_cast<char>(b);
        if (m_prefix != 0) {
            const char prefix = m_prefix;
            m_prefix = 0;
            const bool zero = prefix == 'Z' && c >= '1' && c <= '3';
            const bool speed = prefix == 'S' && c >= '0' && c <= '2';
            if (zero || speed) {
                execute(prefix, c, now);
                continue;
            }
            // Not a second letter: the byte may itself begin a command.
        }
        switch (c) {
        case 'Z':
        case 'S':
            m_prefix = c;
            break;
        case 'I':
        case 'O':
        case 'M':
        case '5':
        case '6':
            execute(c, 0, now);
            break;
        default:
            break;  // not a command: ignored
        }
    }
}

void BoardModel::execute(char command, char argument, SimTime now)
{
    switch (command) {
    case 'I': {
        // One answer on its way is enough: a host that repeats "I" faster than
        // the line carries the answer must not queue bursts without end.
        if (!waiting(FrameKind::Identification, now))
            queue(now, FrameKind::Identification, encodeIdentification(identificationText(m_options.number, m_options.count)));
        break;
    }
    case 'O':
    case 'M':
        m_mode = command == 'M' ? WaveMode::Synthetic : WaveMode::Patient;
        m_wave.setFollowingMode(m_mode);
        statusMayHaveChanged(now);
        break;
    case '5':
        m_filterHz = 50;
        break;
    case '6':
        m_filterHz = 60;
        break;
    case 'Z':
        if (argument != '2') startZeroing(0, now);
        if (argument != '1') startZeroing(1, now);
        statusMayHaveChanged(now);
        break;
    case 'S': {
        const int rate = argument == '0' ? 50 : argument == '1' ? 100 : 150;
        if (rate != m_rate) {
            m_rate = rate;
            m_waveEpoch = now;
            m_waveIndex = 1;
        }
        break;
    }
    default:
        break;
    }
}

void BoardModel::startZeroing(int channel, SimTime now)
{
    // As with the transducer open to air: what it reads now becomes its zero.
    // The patient a board starts with zeroes as it always did, leaving the zero be.
    const ChannelInput& in = m_input[channel];
    const Transducer& td = m_transducer[channel];
    const double raw = td.gain * applied(channel, now) + td.offsetAt(now);
    bool ok = in.kind != ChannelInput::Kind::Off;
    if (ok && !in.patient) ok = in.kind == ChannelInput::Kind::Static && std::abs(raw) <= kZeroLimit;
    m_zeroFailed[channel] = !ok;
    if (ok && !in.patient) {
        m_transducer[channel].zero = raw;
        restartAverage(channel);
    }
    m_zeroingEnd[channel] = now + kZeroingTime;
    m_zeroedEnd[channel] = now + kZeroingTime + kZeroedTime;
    m_codeChanges.push_back(m_zeroingEnd[channel]);
    m_codeChanges.push_back(m_zeroedEnd[channel]);
    std::sort(m_codeChanges.begin(), m_codeChanges.end());
}

bool BoardModel::channelHasSignal(int channel) const
{
    // The synthetic signal is made on the board and needs no transducer. The
    // beat's mode decides, so the trace changes shape at a beat boundary.
    return m_wave.current().mode == WaveMode::Synthetic || m_input[channel].kind != ChannelInput::Kind::Off;
}

StatusCodes BoardModel::statusAt(SimTime t) const
{
    Byte codes[2];
    for (int ch = 0; ch < 2; ++ch) {
        const ChannelInput& in = m_input[ch];
        const bool noSensor = in.kind == ChannelInput::Kind::Off;
        bool outOfRange = false;
        if (in.kind == ChannelInput::Kind::Static || in.kind == ChannelInput::Kind::Sine) {
            const double lo = transduce(ch, in.kind == ChannelInput::Kind::Sine ? in.a - in.b : in.a, t);
            const double hi = transduce(ch, in.kind == ChannelInput::Kind::Sine ? in.a + in.b : in.a, t);
            outOfRange = std::min(lo, hi) < kLowestReading || std::max(lo, hi) > kHighestReading;
        }
        if (t < m_zeroingEnd[ch])
            codes[ch] = 2;  // "Zeroing..."
        else if (t < m_zeroedEnd[ch])
            codes[ch] = m_zeroFailed[ch] ? 4 : 6;  // "Zeroing Failed !!!", else "Zeroing ok"
        else if (m_mode == WaveMode::Synthetic)
            codes[ch] = 9;  // "Simulated Output"
        else
            codes[ch] = noSensor ? 7 : outOfRange ? 3 : 0;  // "No Sensor !!!", "Value out of Range !!!", "Normal Operation"
    }
    return {codes[0], codes[1]};
}

SimTime BoardModel::nextWaveTime() const
{
    return m_waveEpoch + SimTime{m_waveIndex * 1'000'000 / m_rate};
}

SimTime BoardModel::nextStatusTime() const
{
    return m_codeChanges.empty() ? m_nextStatus : std::min(m_nextStatus, m_codeChanges.front());
}

SimTime BoardModel::nextDue() const
{
    if (!m_queue.empty()) return m_queue.front().due;
    return std::min({m_wave.current().end(), nextValuesTick(), nextStatusTime(), nextWaveTime()});
}

void BoardModel::generate(SimTime until)
{
    for (;;) {
        const SimTime beatEnd = m_wave.current().end();
        const SimTime tick = nextValuesTick();
        const SimTime status = nextStatusTime();
        const SimTime wave = nextWaveTime();
        const SimTime t = std::min({beatEnd, tick, status, wave});
        if (t > until) break;
        // At equal times: the finished beat's values, then the status, then
        // the sample, which already belongs to the next beat.
        if (t == beatEnd) {
            if (m_beating) sendValues();
            // A pulsatile shape set during the beat starts with the next one.
            for (int ch = 0; ch < 2; ++ch) {
                if (!m_pendingInput[ch]) continue;
                m_input[ch] = *m_pendingInput[ch];
                m_pendingInput[ch].reset();
                restartAverage(ch);
            }
            m_wave.advance(m_mode);
            beatingMayHaveChanged(t);
        } else if (t == tick) {
            sendTickValues();
            m_valuesTick = t + kStatusPeriod;
        } else if (t == status) {
            const bool periodic = t >= m_nextStatus;
            while (!m_codeChanges.empty() && m_codeChanges.front() <= t) m_codeChanges.erase(m_codeChanges.begin());
            if (periodic || statusAt(t) != m_lastCodes) sendStatus(t);
        } else {
            sendWaveform(t);
            ++m_waveIndex;
        }
    }
    m_generatedUntil = std::max(m_generatedUntil, until);
}

void BoardModel::queue(SimTime at, FrameKind kind, const ByteString& frame)
{
    const SimTime send = std::max(at, m_lineFreeAt);
    if (kind == FrameKind::Waveform && send - at > kMaxSampleDelay) {
        ++m_thinned;
        return;
    }
    m_lineFreeAt = send + lineTime(frame.size());
    m_queue.push_back({send, at, kind, dropBytes(frame), frame.size()});
}

DueFrame* BoardModel::waiting(FrameKind kind, SimTime now)
{
    for (DueFrame& f : m_queue)
        if (f.kind == kind && f.due > now) return &f;
    return nullptr;
}

void BoardModel::sendWaveform(SimTime t)
{
    std::int16_t raw[2];
    const bool synthetic = m_wave.current().mode == WaveMode::Synthetic;
    for (int ch = 0; ch < 2; ++ch) {
        double p = 0.0;  // no transducer: flat at 0 mmHg
        if (synthetic) {
            p = m_wave.pressure(ch, t);  // made on the board, no transducer in the way
        } else if (channelHasSignal(ch)) {
            p = transduce(ch, applied(ch, t) + interference(ch, t), t);
            InputStage& stage = m_transducer[ch].stage;
            if (stage.on()) {
                p = stage.step(p, m_rate);
                m_shown[ch].push_back(p);
            }
            if (m_transducer[ch].noise > 0) p += m_transducer[ch].noise * gaussian();
            m_readingSum[ch] += p;
            ++m_readings[ch];
        }
        raw[ch] = mmHg(p + 100);
    }
    queue(t, FrameKind::Waveform, encodeWaveform({raw[0], raw[1]}));
}

void BoardModel::sendValues()
{
    const Beat& beat = m_wave.current();
    std::int16_t p[2][3] = {};
    for (int ch = 0; ch < 2; ++ch) {
        const ChannelInput& in = m_input[ch];
        if (beat.mode == WaveMode::Synthetic) {
            p[ch][0] = mmHg(beat.channel[ch].sys);
            p[ch][1] = mmHg(m_wave.mean(ch));
            p[ch][2] = mmHg(beat.channel[ch].dia);
        } else if (in.pulsatile()) {
            // Behind a bandwidth the board measures the trace it rounded off.
            if (!shownValues(ch, p[ch], true)) {
                p[ch][0] = mmHg(transduce(ch, beat.channel[ch].sys, beat.end()));
                p[ch][1] = mmHg(transduce(ch, m_wave.mean(ch), beat.end()));
                p[ch][2] = mmHg(transduce(ch, beat.channel[ch].dia, beat.end()));
            }
        } else {
            channelValues(ch, beat.end(), p[ch]);
        }
    }
    m_shown[0].clear(), m_shown[1].clear();
    Values v;
    v.sys1 = p[0][0], v.map1 = p[0][1], v.dia1 = p[0][2];
    v.sys2 = p[1][0], v.map2 = p[1][1], v.dia2 = p[1][2];
    v.pulse = static_cast<std::int16_t>(beat.pulseRate());
    queue(beat.end(), FrameKind::Values, encodeValues(v));
}

void BoardModel::channelValues(int ch, SimTime t, std::int16_t (&p)[3])
{
    const ChannelInput& in = m_input[ch];
    if (in.kind == ChannelInput::Kind::Off) {
        p[0] = p[1] = p[2] = 0;
    } else if (in.kind == ChannelInput::Kind::Sine) {
        if (!shownValues(ch, p, false)) {
            p[0] = mmHg(transduce(ch, in.a + in.b, t));
            p[1] = mmHg(transduce(ch, in.a, t));
            p[2] = mmHg(transduce(ch, in.a - in.b, t));
        }
    } else {
        // No beats on a static input: the three are the reading, averaged
        // over the samples since the last values frame.
        p[0] = p[1] = p[2] = mmHg(averageReading(ch, t));
    }
    restartAverage(ch);
    m_shown[ch].clear();
}

bool BoardModel::shownValues(int ch, std::int16_t (&p)[3], bool beat) const
{
    // The maximum, the mean and the minimum; of a beat, the trough it starts
    // from, the minimum of its first half, as a board finds the diastolic.
    const std::vector<double>& s = m_shown[ch];
    if (!m_transducer[ch].stage.on() || s.empty()) return false;
    double sum = 0;
    for (double v : s) sum += v;
    p[0] = mmHg(*std::max_element(s.begin(), s.end()));
    p[1] = mmHg(sum / double(s.size()));
    p[2] = mmHg(*std::min_element(s.begin(), beat ? s.begin() + std::ptrdiff_t((s.size() + 1) / 2) : s.end()));
    return true;
}

void BoardModel::sendTickValues()
{
    const SimTime t = m_valuesTick;
    std::int16_t p[2][3] = {};
    for (int ch = 0; ch < 2; ++ch) channelValues(ch, t, p[ch]);
    Values v;
    v.sys1 = p[0][0], v.map1 = p[0][1], v.dia1 = p[0][2];
    v.sys2 = p[1][0], v.map2 = p[1][1], v.dia2 = p[1][2];
    // No beats, no pulse; a sine is counted as beats at its frequency.
    for (const ChannelInput& in : m_input)
        if (in.kind == ChannelInput::Kind::Sine && v.pulse == 0) v.pulse = mmHg(60 * in.c);
    queue(t, FrameKind::Values, encodeValues(v));
}

void BoardModel::sendStatus(SimTime t)
{
    m_lastCodes = statusAt(t);
    m_nextStatus = t + kStatusPeriod;
    // A status frame still waiting for the line takes the newest codes rather
    // than have a second one queue up behind it.
    const ByteString frame = encodeStatus(m_lastCodes);
    if (DueFrame* w = waiting(FrameKind::Status, t))
        w->bytes = dropBytes(frame);
    else
        queue(t, FrameKind::Status, frame);
}

void BoardModel::statusMayHaveChanged(SimTime now)
{
    if (statusAt(now) != m_lastCodes) sendStatus(now);
}

ByteString BoardModel::dropBytes(const ByteString& frame)
{
    if (m_options.dropProbability <= 0) return frame;
    ByteString kept;
    kept.reserve(frame.size());
    for (Byte b : frame) {
        const double u = static_cast<double>(m_dropRng() >> 11) * 0x1.0p-53;  // [0, 1)
        if (u >= m_options.dropProbability) kept.push_back(b);
    }
    return kept;
}

std::vector<DueFrame> BoardModel::takeDue(SimTime until)
{
    generate(until);
    std::vector<DueFrame> due;
    while (!m_queue.empty() && m_queue.front().due <= until) {
        due.push_back(std::move(m_queue.front()));
        m_queue.pop_front();
    }
    return due;
}

}  // namespace quorvid::sim
