// libFuzzer target over the plan reader, for plans people hand in: any input
// is read without a crash, a refusal names the source and its line, and an
// accepted plan survives being written as the report stores it and read back
// through the same keys: the same plan to the last value.
#include "plan.h"
#include "fuzzcheck.h"

#include <QJsonDocument>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

using namespace quorvid::evaluate;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const PlanResult read = parsePlan(text, QStringLiteral("p.toml"));
    if (!read.plan) {
        FUZZ_CHECK(read.error.startsWith(QLatin1String("p.toml line ")));
        return 0;
    }
    FUZZ_CHECK(!read.plan->checks.empty());
    const QJsonObject json = planJson(*read.plan);
    const PlanResult back = parsePlanJson(json, QStringLiteral("r.json plan"));
    FUZZ_CHECK(back.plan.has_value());
    FUZZ_CHECK(planJson(*back.plan) == json);
    // And once more through the text a report holds.
    const QJsonObject stored = QJsonDocument::fromJson(QJsonDocument(json).toJson()).object();
    const PlanResult again = parsePlanJson(stored, QStringLiteral("r.json plan"));
    FUZZ_CHECK(again.plan.has_value());
    FUZZ_CHECK(planJson(*again.plan) == json);
    return 0;
}
