// Commands to the board: bare ASCII characters, one byte each, with no framing
// and no acknowledgement.
#pragma once

#include <QString>

#include <array>
#include <string_view>

namespace quorvid {

class SerialControl;
struct CommResult;

// Every command the board knows, by what it does: the one place each is
// spelled.
namespace command {
inline constexpr std::string_view kIdentify = "I";
inline constexpr std::string_view kNormalOperation = "O";
inline constexpr std::string_view kSimulatedOutput = "M";
inline constexpr std::string_view kFilter50Hz = "5";
inline constexpr std::string_view kFilter60Hz = "6";
inline constexpr std::string_view kZeroChannel1 = "Z1";
inline constexpr std::string_view kZeroChannel2 = "Z2";
inline constexpr std::string_view kZeroBoth = "Z3";
inline constexpr std::string_view kSpeed50 = "S0";
inline constexpr std::string_view kSpeed100 = "S1";
inline constexpr std::string_view kSpeed150 = "S2";
}  // namespace command

struct Command {
    std::string_view control;  // object name of the control that sends it
    std::string_view text;     // the characters put on the line
};

inline constexpr std::array<Command, 11> kCommands = {{
    {"GetInfo", command::kIdentify},
    {"Option1", command::kNormalOperation},
    {"Option2", command::kSimulatedOutput},
    {"Option3", command::kFilter50Hz},
    {"Option4", command::kFilter60Hz},
    {"Zero1", command::kZeroChannel1},
    {"Zero2", command::kZeroChannel2},
    {"Zeroall", command::kZeroBoth},
    {"SelectSpeed", command::kSpeed50},
    {"SelectSpeed", command::kSpeed100},
    {"SelectSpeed", command::kSpeed150},
}};

// What puts the board into the state the window starts in, in this order:
// speed 100, normal operation, 50 Hz filter (boardstate.h: kStartUpState).
inline constexpr std::array<std::string_view, 3> kStartUpCommands = {command::kSpeed100, command::kNormalOperation,
                                                                     command::kFilter50Hz};

// The command that a button or option button sends; empty for any other name.
std::string_view commandFor(std::string_view control);

// Writes the command one character at a time, in order, and nothing else. The
// first write that the control refuses (a closed port) ends it and is returned.
CommResult SendCommand(SerialControl& comm, std::string_view cmd);

// One step of the speed cycle read off a caption: the caption the Speed label
// gets and the command that follows it. Exact comparisons, "50" first; any
// other caption counts as 100. The window itself steps its BoardState
// (boardstate.h), which this follows.
struct SpeedStep {
    QString caption;
    std::string_view command;
};
SpeedStep nextSpeed(const QString& caption);

}  // namespace quorvid
