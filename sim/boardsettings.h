// What the simulated board is told to do as a bench: the pressure applied to
// each channel's input, the transducer that reads it, the heart rate and the
// beat-to-beat variation. One setting is one line of words, the same on the
// command line (--set) and on the control pipe:
//
//   ch1|ch2 static P            a constant P mmHg (-50 to 300)
//   ch1|ch2 arterial S/D        the arterial shape between D and S mmHg
//   ch1|ch2 pa S/D              the pulmonary-artery shape between D and S mmHg
//   ch1|ch2 sine M A F          mean M, amplitude A mmHg, F Hz (0.5 to 40)
//   ch1|ch2 off                 no transducer
//   ch1|ch2 gain G              the transducer's gain (default 1)
//   ch1|ch2 offset MMHG         its offset before zeroing (default 0)
//   ch1|ch2 drift MMHG_PER_HOUR its offset's growth (default 0)
//   ch1|ch2 noise SD            Gaussian noise in mmHg (default 0)
//   ch1|ch2 bandwidth HZ|off    the input stage's corner (default off)
//   ch1|ch2 mains HZ A|off      mains interference: A mmHg peak at HZ (40 to 70)
//                               added to the input before the board's filter
//   ch1|ch2 filter sound|broken|50|60
//                               the board's mains filter: as told by "5" and "6"
//                               (sound), deaf to both (broken), or stuck at one
//   mains HZ A|off              the interference on both channels
//   rate BPM                    heart rate of the pulsatile shapes (30 to 250)
//   variation on|off            beat-to-beat variation (default on)
//
// An input's words may end in "mains HZ A" ("ch1 static 100 mains 60 20"):
// they set what the channel's input carries, interference and all, so an
// input given without them carries none.
//
// Parsing is pure: no model, no clock.
#pragma once

#include <string>
#include <string_view>
#include <variant>

namespace quorvid::sim {

// The pressure applied to a channel's input.
struct ChannelInput {
    enum class Kind { Arterial, Pulmonary, Static, Sine, Off };
    Kind kind = Kind::Arterial;
    // Arterial and Pulmonary: a = systolic, b = diastolic. Static: a = the
    // pressure. Sine: a = mean, b = amplitude, c = frequency in Hz.
    double a = 0, b = 0, c = 0;
    // The patient the board has when nobody set this channel: it zeroes as a
    // board always did ("Zeroing ok", the zero unchanged).
    bool patient = false;

    bool pulsatile() const { return kind == Kind::Arterial || kind == Kind::Pulmonary; }
    bool operator==(const ChannelInput&) const = default;
};

// Mains interference on a channel's input, a sine of amplitude mmHg peak.
struct Interference {
    double hz = 0, amplitude = 0;  // amplitude 0: none
    bool operator==(const Interference&) const = default;
};

// The board's mains filter: the notch "5" and "6" place, or a fault of it.
enum class NotchFault { Sound, Broken, Stuck50, Stuck60 };

// The transducer's errors, as the words set them.
enum class TransducerSetting { Gain, Offset, Drift, Noise, Bandwidth };

struct Setting {
    // 0 for the whole board, else 1 or 2.
    int channel = 0;
    enum class What { Input, Transducer, Rate, Variation, Mains, Filter } what = What::Input;
    ChannelInput input;                                     // What::Input
    Interference mains;                                     // Mains; Input: what comes with it
    NotchFault filter = NotchFault::Sound;                  // What::Filter
    TransducerSetting transducer = TransducerSetting::Gain;  // What::Transducer
    double value = 0;  // Transducer (Bandwidth: 0 off), Rate; Variation: 1 on, 0 off
};

// A setting, or what is wrong with the line (a sentence without the line).
std::variant<Setting, std::string> parseSetting(std::string_view line);

// With several boards on one bench (quorvid-board --boards N) a line may
// name the board it is for: "2: ch1 gain 1.06". board is 0 for a line without
// a number, which is for every board.
struct BoardLine {
    int board = 0;
    std::string_view line;  // the setting's words, the number taken off
};
// The line split at its board's number, or why it names no board of 1 to boards.
std::variant<BoardLine, std::string> splitBoardNumber(std::string_view line, int boards);

// The grammar, one form and one example a line, for --help and messages.
const char* settingGrammar();

}  // namespace quorvid::sim
