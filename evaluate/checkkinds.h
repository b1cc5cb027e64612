// Each kind of check described once: its name, the words the printed plan
// puts above it, the keys a plan may give it (what each holds, its range, its
// default and the member of Check it goes to), the member of Evaluation that
// queues its steps and the function that draws its plot in the report. Reading
// a plan and its refusals, the printed default plan, the plan's JSON, running
// a check and reporting it all go by these tables: a new kind is a row here, a
// measurement and a plot; a new key is a row here and the member it fills.
#pragma once

#include "evaluation.h"
#include "plan.h"

#include <QString>

#include <span>
#include <string_view>
#include <utility>
#include <optional>
#include <variant>
#include <vector>

namespace quorvid::evaluate {

// Where a key's value goes in a Target (a Check, or the Plan for [plan]); the
// member's type says what the value is.
template <class Target>
struct MeanOf {  // a number: the mean reference of that waveform
    Waveform Target::*wave;
};
template <class Target>
struct NearestOf {  // a number, rounded to the nearest whole one
    int Target::*value;
};
template <class Target>
using Field = std::variant<double Target::*,               // a number
                           int Target::*,                  // a number, its fraction dropped
                           NearestOf<Target>,
                           QString Target::*,              // a text in quotes
                           Waveform Target::*,             // "arterial S/D" or "pa S/D"
                           MeanOf<Target>,
                           std::vector<int> Target::*,     // a list of speeds: 50, 100 or 150 each
                           std::vector<double> Target::*,  // a list of numbers
                           std::optional<double> Target::*,   // a number, absent unless given
                           std::optional<QString> Target::*>; // a text, absent unless given

// What judging a past run again from its recording may do with a key: change
// it (a limit, a name, a source), only keep it as the run had it (what was
// measured and for how long), or take some of the run's values (its points).
enum class Rejudge { Free, AsRun, Subset };

template <class Target>
struct Key {
    std::string_view name;
    Field<Target> field;
    double low = 0, high = 0;  // a number's range; a list's, each item's
    Rejudge rejudge = Rejudge::Free;
};

// A key as a kind (or [plan]) takes it. The default is written as in a plan
// and read as a plan's value is, so the printed plan is what a check starts
// from; a key without one is read only when given, and not printed.
template <class Target>
struct Setting {
    const Key<Target>* key;
    std::string_view value = {};  // "2", "[50, 100, 150]", "\"pa 25/10\""
    std::string_view note = {};   // a comment after it in the printed plan
};

struct Rejudging;

struct KindDescription {
    CheckKind kind;
    std::string_view name;
    std::string_view about;  // the printed plan's comment above it, lines without "# "
    bool inDefaultPlan = true;  // else printed commented out
    std::vector<Setting<Check>> keys;  // in the printed plan's order; besides kind and checkKeys()
    void (Evaluation::*queueSteps)(const Check&) = nullptr;
    QString (*plot)(const CheckOutcome&) = nullptr;  // none for a kind without a plot
    // Judges the check's results again from the frames of their intervals
    // (rescore.h); none for a kind whose results have no figure, which are
    // taken over as they were judged.
    void (*rejudge)(Rejudging&) = nullptr;
    // What the keys' ranges cannot say alone, checked once they are all read:
    // the key to blame and why; none for a kind whose keys stand alone.
    std::optional<std::pair<std::string_view, QString>> (*refusal)(const Check&) = nullptr;
};

// In the printed plan's order.
std::span<const KindDescription> checkKinds();
const KindDescription& kindDescription(CheckKind kind);
// The keys every check takes besides its kind's: name, marginal_percent, source.
std::span<const Setting<Check>> checkKeys();
// The keys of [plan]: name, rate, marginal_percent, decision_rule, guard_factor.
std::span<const Setting<Plan>> planKeys();
// The keys of [reference] and [certificate].
std::span<const Setting<ReferenceAccuracy>> referenceKeys();
std::span<const Setting<CertificateIssuer>> certificateKeys();

}  // namespace quorvid::evaluate
