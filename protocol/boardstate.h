// The board's state as the host knows it. Speed, mode and filter are what the
// board was last told: each is set by one command and the board never reports
// it back, so whoever drives the board holds a BoardState and reads that,
// never a control's caption. What the board does report of itself is a status
// code per channel; the codes the program acts on are named here, their texts
// are those of frames.h.
#pragma once

#include "commands.h"
#include "frames.h"

#include <array>
#include <optional>
#include <string_view>
#include <vector>

namespace quorvid {

enum class Speed { Fps50, Fps100, Fps150 };  // waveform frames a second
enum class Mode { Normal, Simulated };
enum class Filter { Hz50, Hz60 };

constexpr int framesPerSecond(Speed s)
{
    return s == Speed::Fps50 ? 50 : s == Speed::Fps150 ? 150 : 100;
}

// The speed of 50, 100 or 150 frames a second; nullopt for any other rate.
constexpr std::optional<Speed> speedOfRate(int framesPerSecond)
{
    if (framesPerSecond == 50) return Speed::Fps50;
    if (framesPerSecond == 100) return Speed::Fps100;
    if (framesPerSecond == 150) return Speed::Fps150;
    return std::nullopt;
}

// The Set Speed button's cycle: 100, 150, 50, 100, ...
constexpr Speed nextSpeed(Speed s)
{
    return s == Speed::Fps50 ? Speed::Fps100 : s == Speed::Fps150 ? Speed::Fps50 : Speed::Fps150;
}

// The command that sets each.
constexpr std::string_view commandOf(Speed s)
{
    return s == Speed::Fps50 ? command::kSpeed50 : s == Speed::Fps150 ? command::kSpeed150 : command::kSpeed100;
}
constexpr std::string_view commandOf(Mode m)
{
    return m == Mode::Simulated ? command::kSimulatedOutput : command::kNormalOperation;
}
constexpr std::string_view commandOf(Filter f)
{
    return f == Filter::Hz60 ? command::kFilter60Hz : command::kFilter50Hz;
}

struct BoardState {
    Speed speed = Speed::Fps100;
    Mode mode = Mode::Normal;
    Filter filter = Filter::Hz50;

    // The state once the board has been told command. Identify, the zeroing
    // commands and anything that is no command leave it as it is.
    constexpr BoardState after(std::string_view command) const
    {
        BoardState s = *this;
        for (const Speed v : {Speed::Fps50, Speed::Fps100, Speed::Fps150})
            if (command == commandOf(v)) s.speed = v;
        for (const Mode v : {Mode::Normal, Mode::Simulated})
            if (command == commandOf(v)) s.mode = v;
        for (const Filter v : {Filter::Hz50, Filter::Hz60})
            if (command == commandOf(v)) s.filter = v;
        return s;
    }

    // All three, speed first: what puts a board whose state is not known
    // into this one.
    constexpr std::array<std::string_view, 3> commands() const
    {
        return {commandOf(speed), commandOf(mode), commandOf(filter)};
    }

    // What takes a board told this into wanted: the speed, then the mode,
    // then the filter, each only where the two differ.
    std::vector<std::string_view> commandsTo(const BoardState& wanted) const;

    friend constexpr bool operator==(const BoardState&, const BoardState&) = default;
};

// The state start-up puts the board in.
inline constexpr BoardState kStartUpState{};
static_assert(kStartUpState.commands() == kStartUpCommands);

// The channel status codes the program acts on by name; the table of texts
// (kStatusTexts, statusTextFor) has one for every code.
namespace status {
enum Code : Byte {
    NormalOperation = 0,
    NoWaveform = 1,
    Zeroing = 2,
    ValueOutOfRange = 3,
    ZeroingFailed = 4,
    Initializing = 5,
    ZeroingOk = 6,
    NoSensor = 7,
    SensorConnected = 8,
    SimulatedOutput = 9,
    NotCalibrated = 10,
    SelftestError = 11,
};
}  // namespace status

// The status both channels show once the board has taken a mode's command.
constexpr status::Code statusIn(Mode m)
{
    return m == Mode::Simulated ? status::SimulatedOutput : status::NormalOperation;
}

}  // namespace quorvid
