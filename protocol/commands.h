// Commands to the board: bare ASCII characters, one byte each, with no framing
// and no acknowledgement.
#pragma once

#include <QString>

#include <array>
#include <string_view>

namespace quorvid {

class SerialControl;
struct CommResult;

struct Command {
    std::string_view control;  // object name of the control that sends it
    std::string_view text;     // the characters put on the line
};

inline constexpr std::array<Command, 11> kCommands = {{
    {"GetInfo", "I"},
    {"Option1", "O"},
    {"Option2", "M"},
    {"Option3", "5"},
    {"Option4", "6"},
    {"Zero1", "Z1"},
    {"Zero2", "Z2"},
    {"Zeroall", "Z3"},
    {"SelectSpeed", "S0"},
    {"SelectSpeed", "S1"},
    {"SelectSpeed", "S2"},
}};

// What puts the board into the state the window starts in, in this order:
// speed 100, normal operation, 50 Hz filter.
inline constexpr std::array<std::string_view, 3> kStartUpCommands = {"S1", "O", "5"};

// The command that a button or option button sends; empty for any other name.
std::string_view commandFor(std::string_view control);

// Writes the command one character at a time, in order, and nothing else. The
// first write that the control refuses (a closed port) ends it and is returned.
CommResult SendCommand(SerialControl& comm, std::string_view cmd);

// One step of the speed cycle: the caption the Speed label gets and the
// command that follows it. Exact comparisons, "50" first.
struct SpeedStep {
    QString caption;
    std::string_view command;
};
SpeedStep nextSpeed(const QString& caption);

}  // namespace quorvid
