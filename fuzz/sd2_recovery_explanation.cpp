// The recovery failure explanation over any error and any parameters: every input gives the
// three texts in their fixed frame, and no field value can crash the builder.
#include "core/error.h"
#include "files/access/missing_audio_source.h"
#include "files/access/source_access_failure.h"
#include "sd2/sd2_metadata_error.h"
#include "sd2/sd2_recovery_error.h"
#include "sd2/sd2_recovery_failure.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace {

// Reads fixed-size fields from the front of the input; missing bytes read as zero.
class Fields {
public:
    Fields(const std::uint8_t *data, size_t size) : data_(data), size_(size) {}

    template <typename T>
    T next()
    {
        T value{};
        const size_t count = std::min(sizeof value, size_ - offset_);
        std::memcpy(&value, data_ + offset_, count);
        offset_ += count;
        return value;
    }
    QString rest() const
    {
        return QString::fromUtf8(reinterpret_cast<const char *>(data_ + offset_), qsizetype(size_ - offset_));
    }

private:
    const std::uint8_t *data_;
    size_t size_;
    size_t offset_ = 0;
};

std::exception_ptr error(std::uint8_t kind, Fields &fields)
{
    using namespace tampod;
    const auto bytes = fields.next<std::uint64_t>();
    const auto frameBytes = fields.next<std::int32_t>();
    const auto code = fields.next<std::int32_t>();
    switch (kind % 12) {
    case 0: return std::make_exception_ptr(SD2RecoveryError::incompleteFrame(bytes, frameBytes));
    case 1: return std::make_exception_ptr(SD2RecoveryError::unsuitable());
    case 2: return std::make_exception_ptr(SD2RecoveryError::changed());
    case 3: return std::make_exception_ptr(SD2RecoveryError::verification());
    case 4: return std::make_exception_ptr(MissingAudioSource(fields.rest()));
    case 5: return std::make_exception_ptr(SourceAccessFailure(SourceAccessFailure::Kind(code & 1)));
    case 6: return std::make_exception_ptr(SD2MetadataError(SD2MetadataError::Case(1 + (unsigned(code) % 5))));
    case 7: return std::make_exception_ptr(SystemError(code, fields.rest()));
    case 8: return std::make_exception_ptr(Cancelled());
    case 9: return std::make_exception_ptr(std::runtime_error(fields.rest().toStdString()));
    case 10: return std::make_exception_ptr(code);
    default: return nullptr;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    Fields fields(data, size);
    const auto kind = fields.next<std::uint8_t>();
    const auto hasPrevious = fields.next<std::uint8_t>();
    tampod::SD2Metadata parameters;
    parameters.sampleBytes = fields.next<std::int32_t>();
    parameters.sampleRate = fields.next<std::int32_t>();
    parameters.channels = fields.next<std::int32_t>();
    std::optional<tampod::SD2Metadata> previous;
    if (hasPrevious & 1)
        previous = tampod::SD2Metadata{fields.next<std::int32_t>(), 0, 0, {}, {}};
    const tampod::SD2RecoveryFailure failure(error(kind, fields), parameters, previous);

    const bool framed =
        failure.title == QStringLiteral("Couldn’t Prepare Audio")
        && failure.message.endsWith(QStringLiteral("\n\nYour original file has not been changed."))
        && failure.message.contains(QStringLiteral("listening settings are still available.")) == previous.has_value()
        && failure.technicalExplanation.startsWith(QStringLiteral("Attempted interpretation: signed "))
        && failure.technicalExplanation.endsWith(
            QStringLiteral("Recovery interprets existing bytes and does not reconstruct missing audio or metadata."));
    if (!framed)
        __builtin_trap();
    return 0;
}
