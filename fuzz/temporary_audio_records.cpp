// Feeds arbitrary bytes to every decoder of the store's and the split-export journal's JSON
// records: each must either decode or throw one of our typed errors.
#include "core/error.h"
#include "core/strict_json.h"
#include "files/journal/split_export_transaction.h"
#include "files/store/temporary_audio_store.h"

#include <cstddef>
#include <cstdint>

using namespace tampod;

namespace {

template <typename Decode>
void attempt(Decode decode)
{
    try {
        decode();
    } catch (const Error &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    StrictJson::Json json;
    try {
        json = StrictJson::parse(bytes);
    } catch (const Error &) {
        return 0;
    }
    attempt([&] { TemporaryAudioStore::Owner::fromJson(json); });
    attempt([&] { TemporaryAudioStore::SessionOwner::fromJson(json); });
    attempt([&] {
        const auto record = TemporaryAudioStore::ExportRecord::fromJson(json);
        TemporaryAudioStore::ExportRecord::fromJson(StrictJson::parse(StrictJson::dump(record.toJson())));
    });
    attempt([&] {
        const auto journal = SplitExportTransaction::Journal::fromJson(json);
        journal.isWellFormed();
        SplitExportTransaction::Journal::fromJson(StrictJson::parse(StrictJson::dump(journal.toJson())));
    });
    return 0;
}
