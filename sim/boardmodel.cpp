#include "boardmodel.h"

#include <algorithm>
#include <cmath>

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

}  // namespace

BoardModel::BoardModel(BoardOptions options)
    : m_options(options),
      m_wave(options.seed),
      // Its own stream, so that dropping bytes leaves the beats as they were.
      m_dropRng(options.seed ^ 0x9E3779B97F4A7C15ull)
{
}

std::string BoardModel::identificationText()
{
    return "Quorvid simulated IBP board (quorvid-board), 2 channels, version " QUORVID_BOARD_VERSION;
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
            queue(now, FrameKind::Identification, encodeIdentification(identificationText()));
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
    return m_wave.current().mode == WaveMode::Synthetic || m_options.noSensorChannel != channel + 1;
}

StatusCodes BoardModel::statusAt(SimTime t) const
{
    Byte codes[2];
    for (int ch = 0; ch < 2; ++ch) {
        const bool noSensor = m_options.noSensorChannel == ch + 1;
        if (t < m_zeroingEnd[ch])
            codes[ch] = 2;  // "Zeroing..."
        else if (t < m_zeroedEnd[ch])
            codes[ch] = noSensor ? 4 : 6;  // "Zeroing Failed !!!" without a transducer, else "Zeroing ok"
        else if (m_mode == WaveMode::Synthetic)
            codes[ch] = 9;  // "Simulated Output"
        else
            codes[ch] = noSensor ? 7 : 0;  // "No Sensor !!!" or "Normal Operation"
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
    return std::min({m_wave.current().end(), nextStatusTime(), nextWaveTime()});
}

void BoardModel::generate(SimTime until)
{
    for (;;) {
        const SimTime beatEnd = m_wave.current().end();
        const SimTime status = nextStatusTime();
        const SimTime wave = nextWaveTime();
        const SimTime t = std::min({beatEnd, status, wave});
        if (t > until) break;
        // At equal times: the finished beat's values, then the status, then
        // the sample, which already belongs to the next beat.
        if (t == beatEnd) {
            sendValues();
            m_wave.advance(m_mode);
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
    for (int ch = 0; ch < 2; ++ch) {
        const double p = channelHasSignal(ch) ? m_wave.pressure(ch, t) : 0.0;  // no transducer: flat at 0 mmHg
        raw[ch] = mmHg(p + 100);
    }
    queue(t, FrameKind::Waveform, encodeWaveform({raw[0], raw[1]}));
}

void BoardModel::sendValues()
{
    const Beat& beat = m_wave.current();
    std::int16_t p[2][3] = {};
    for (int ch = 0; ch < 2; ++ch) {
        if (beat.mode == WaveMode::Patient && m_options.noSensorChannel == ch + 1) continue;
        p[ch][0] = mmHg(beat.channel[ch].sys);
        p[ch][1] = mmHg(m_wave.mean(ch));
        p[ch][2] = mmHg(beat.channel[ch].dia);
    }
    Values v;
    v.sys1 = p[0][0], v.map1 = p[0][1], v.dia1 = p[0][2];
    v.sys2 = p[1][0], v.map2 = p[1][1], v.dia2 = p[1][2];
    v.pulse = static_cast<std::int16_t>(beat.pulseRate());
    queue(beat.end(), FrameKind::Values, encodeValues(v));
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
