#include "export/vinyl_options.h"

#include "core/number_text.h"
#include "export/internal/json_cases.h"

#include <cmath>

namespace tampod {

using StrictJson::Json;

namespace {

bool isLevel(std::int64_t value)
{
    return value >= 0 && value <= 100;
}

// Levels saved before the current scale were linear mix gains; these are the levels that
// give the same mix now.
void rescaleLevels(VinylOptions &options)
{
    const double t = static_cast<double>(options.amount) * 0.22 / 100;
    const double h = static_cast<double>(options.humAmount) * 0.1 / 100;
    const double d = 1 - t - (options.humEnabled ? h : 0);
    options.amount = static_cast<std::int64_t>(std::round(std::sqrt(t / d) * 100));
    options.humAmount = static_cast<std::int64_t>(std::round(std::sqrt(h / d) * 100));
}

} // namespace

QString VinylOptions::summary() const
{
    if (!enabled)
        return QStringLiteral("vinyl Off");
    const QString hum = humEnabled ? NumberText::wholeQ(humAmount) + QLatin1Char('%') : QStringLiteral("off");
    const bool bypassed = amount < 1 && (!humEnabled || humAmount < 1);
    return QStringLiteral("vinyl Vinyl ") + QString::number(static_cast<int>(sample) + 1) +
           QStringLiteral(" amount ") + NumberText::wholeQ(amount) + QStringLiteral("%, hum ") + hum +
           QStringLiteral("; pattern ") + QString::number(seed, 16) + QStringLiteral("; ") +
           (bypassed ? QStringLiteral("bypassed (zero levels)") : QStringLiteral("active"));
}

Json VinylOptions::toJson() const
{
    return Json{
        {"enabled", enabled},   {"sample", JsonCases::write(sample)}, {"amount", amount},
        {"humEnabled", humEnabled}, {"humAmount", humAmount},             {"seed", seed},
        {"levelScaleVersion", 2},
    };
}

VinylOptions VinylOptions::fromJson(const Json &json)
{
    VinylOptions options;
    options.enabled = StrictJson::optionalBool(json, "enabled").value_or(false);
    options.sample = JsonCases::optional<VinylSample>(json, "sample").value_or(VinylSample::one);
    options.amount = StrictJson::optionalInt64(json, "amount").value_or(40);
    options.humEnabled = StrictJson::optionalBool(json, "humEnabled").value_or(false);
    options.humAmount = StrictJson::optionalInt64(json, "humAmount").value_or(25);
    options.seed = StrictJson::optionalUInt64(json, "seed").value_or(defaultSeed);

    // The oldest form had no sample choice; silent crackle and pops meant no texture.
    if (!json.contains("sample") && StrictJson::optionalInt64(json, "crackle") == 0 &&
        StrictJson::optionalInt64(json, "pops") == 0)
        options.amount = 0;

    if (!json.contains("levelScaleVersion") && isLevel(options.amount) && isLevel(options.humAmount))
        rescaleLevels(options);
    return options;
}

} // namespace tampod
