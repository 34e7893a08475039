#pragma once

#include "platform/forks/fork_store.h"

#include <cerrno>
#include <map>

namespace tampod::test {

// A resource-fork store backend in memory: each place holds an errno or some bytes; a write
// lands in the netatalk attribute unless writeError is set.
class FakeForkBackend final : public ForkStore::Backend {
public:
    using Source = ForkStore::Source;

    mutable std::map<Source, ForkStore::Probe> places;
    int writeError = 0;
    mutable int writes = 0;

    void put(Source source, const QByteArray &bytes) { places[source] = {0, bytes.size(), bytes}; }
    void fail(Source source, int error) { places[source] = {error, 0, {}}; }

    ForkStore::Probe read(const QString &, Source source, qint64 limit) const override
    {
        const auto found = places.find(source);
        if (found == places.end())
            return {ENODATA, 0, {}};
        ForkStore::Probe probe = found->second;
        if (probe.length > limit)
            probe.bytes.clear();
        return probe;
    }

    int write(const QString &, const QByteArray &bytes) const override
    {
        ++writes;
        if (writeError == 0)
            places[Source::netatalkAttribute] = {0, bytes.size(), bytes};
        return writeError;
    }
};

} // namespace tampod::test
