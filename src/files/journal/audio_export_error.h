#pragma once

#include "core/error.h"

#include <cstdint>

namespace tampod {

// Export failures with their fixed user sentences. The codes are the cases' positions in the
// export engine's list, so they never change when a case is added.
class AudioExportError : public Error {
public:
    enum class Case {
        invalidSettings = 0,
        native = 1,
        sourceDestinationConflict = 2,
        destinationExists = 3,
        unsupportedSource = 4,
        tooLarge = 5,
        verificationFailed = 6,
        tempoMetadata = 7,
        storage = 8,
        splitRecoveryUnavailable = 9,
        splitRecoveryPending = 10,
    };

    // invalidSettings and native made this way carry an empty message, step and status 0.
    explicit AudioExportError(Case kind);

    // The message is shown as it is: the sentences that blocked the export.
    static AudioExportError invalidSettings(const QString &message);
    // A failed step of our audio layer: a lower-case step phrase and the layer's signed code.
    static AudioExportError native(const QString &step, std::int32_t status);
    // The storage failure with the system's error number that caused it; a name too long for
    // its folder (ENAMETOOLONG) has a text of its own.
    static AudioExportError storage(std::int32_t errnoValue);

    Case kind() const noexcept { return kind_; }
    const QString &step() const noexcept { return step_; }
    std::int32_t status() const noexcept { return status_; }

    static QString description(Case kind);

private:
    AudioExportError(Case kind, const QString &text, QString step, std::int32_t status);

    Case kind_;
    QString step_;
    std::int32_t status_ = 0;
};

} // namespace tampod
