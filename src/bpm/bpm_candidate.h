#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace tampod {

// One tempo the estimation found: its tempo, the periodicity behind it, the score candidates
// are ranked by (prior-weighted, perhaps lifted by octave reranking) and the tempo as measured
// before it was limited to the search range.
struct BPMCandidate {
    double bpm = 0;
    double score = 0;
    double rankingScore = 0;
    double rawBPM = 0;
    std::optional<QString> snapDescription; // the estimation stages leave it absent

    bool operator==(const BPMCandidate &) const = default;
};

// The selected candidates, best first; never empty.
struct BPMCandidateSet {
    std::vector<BPMCandidate> candidates;

    bool operator==(const BPMCandidateSet &) const = default;
};

} // namespace tampod
