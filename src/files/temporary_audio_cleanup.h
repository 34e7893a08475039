#pragma once

#include <QCoro/QCoroTask>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

namespace tampod {

// Removes what earlier launches left in the temporary-audio store: session folders whose lock
// nobody holds and whose records prove them ours, together with the export staging folders
// they recorded (after letting an interrupted split-pair publication finish or be taken back).
// Anything it cannot prove to be its own stays. Bounded by an entry budget and a time budget;
// what is left over waits for a later launch.
namespace TemporaryAudioCleanup {

struct Report {
    int removed = 0;        // session folders removed
    int active = 0;         // sessions whose lock a running process holds
    int retained = 0;       // other root entries left in place, failed ones included
    int errors = 0;         // failures recorded
    int recoveredPairs = 0; // split pairs taken back, their staging folders removed
    int pendingPairs = 0;   // split pairs whose cleanup failed; retried at the next launch
    bool limited = false;   // stopped early: budget spent, deadline passed or cancelled
    QStringList failureCodes; // the first 8 failures as "domain/code"

    bool operator==(const Report &) const = default;
};

// The entry budget of the launch and the time budget of every run.
inline constexpr int launchEntryBudget = 4096;
inline constexpr std::chrono::seconds timeBudget{2};
inline constexpr int keptFailureCodes = 8;

using Clock = std::function<std::chrono::steady_clock::time_point()>;

// Cleans the store root within maximumEntries directory entries and timeBudget on `clock`
// (the monotonic clock when empty). Cancellation of the current task (CurrentCancellation) is
// observed at every budget unit. Never throws; every failure is folded into the report.
Report run(const QUrl &root, int maximumEntries, const Clock &clock = {});

// The launch cleanup: run over the shared store's root with the launch entry budget, on a
// detached utility-priority task. None, without cleaning, when the shared store could not be
// built. Main thread.
QCoro::Task<std::optional<Report>> cleanAbandoned();

} // namespace TemporaryAudioCleanup
} // namespace tampod
