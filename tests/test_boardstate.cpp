// What the board was last told, as a value: each command's effect, the way
// back to an earlier state, and the status codes by name.
#include "boardstate.h"

#include <gtest/gtest.h>

#include <string>

using namespace quorvid;

TEST(BoardState, EachCommandSetsItsPartAndTheWayBackIsSpeedModeFilter)
{
    const BoardState from{Speed::Fps50, Mode::Simulated, Filter::Hz60};
    struct Row { const char* command; BoardState after; const char* back; };
    const Row rows[] = {
        {"S1", {Speed::Fps100, Mode::Simulated, Filter::Hz60}, "S0 "},
        {"S2", {Speed::Fps150, Mode::Simulated, Filter::Hz60}, "S0 "},
        {"O", {Speed::Fps50, Mode::Normal, Filter::Hz60}, "M "},
        {"5", {Speed::Fps50, Mode::Simulated, Filter::Hz50}, "6 "},
        {"S0", from, ""}, {"M", from, ""}, {"6", from, ""},
        // Commands that set none of the three, and what is no command.
        {"I", from, ""}, {"Z3", from, ""}, {"S3", from, ""}, {"", from, ""}, {"o", from, ""},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(from.after(r.command), r.after) << r.command;
        std::string back;
        for (std::string_view c : r.after.commandsTo(from)) back += std::string(c) + ' ';
        EXPECT_EQ(back, r.back) << r.command;
    }
    std::string all;
    for (std::string_view c : kStartUpState.commandsTo(from)) all += std::string(c) + ' ';
    EXPECT_EQ(all, "S0 M 6 ");
}

TEST(BoardState, StatusCodesByNameAreTheTablesTexts)
{
    struct Row { status::Code code; const char* text; };
    const Row rows[] = {
        {status::NormalOperation, "Normal Operation"}, {status::Zeroing, "Zeroing..."},
        {status::ZeroingFailed, "Zeroing Failed !!!"}, {status::ZeroingOk, "Zeroing ok"},
        {status::SimulatedOutput, "Simulated Output"}, {status::SelftestError, "Selftest Error !!!"},
    };
    for (const Row& r : rows) EXPECT_EQ(statusTextFor(r.code), r.text) << int(r.code);
    EXPECT_EQ(statusIn(Mode::Simulated), status::SimulatedOutput);
    EXPECT_EQ(statusIn(Mode::Normal), status::NormalOperation);
}
