#pragma once

#include "platform/decode/audio_file_format.h"

#include <QString>

#include <optional>

namespace tampod {

// A recording's sample rate and bit depth as the library shows them.
struct AudioSourceFormat {
    class Resolution {
    public:
        enum class Kind { integer, floatingPoint, notApplicable, unknown };

        static Resolution integer(int bits) { return {Kind::integer, bits}; }
        static Resolution floatingPoint(int bits) { return {Kind::floatingPoint, bits}; }
        static Resolution notApplicable() { return {Kind::notApplicable, 0}; }
        static Resolution unknown() { return {Kind::unknown, 0}; }

        Kind kind() const { return kind_; }
        int bits() const { return bits_; } // 0 unless integer or floatingPoint
        QString text() const;

        bool operator==(const Resolution &) const = default;

    private:
        Resolution(Kind kind, int bits) : kind_(kind), bits_(bits) {}
        Kind kind_;
        int bits_;
    };

    std::optional<double> sampleRate;
    Resolution resolution = Resolution::unknown();
    bool assumed = false; // from SD2 recovery parameters the user chose, not from the file

    // From the decoder's description of a file's stream.
    static AudioSourceFormat fromFileFormat(const AudioFileFormat &fileFormat);

    // The rate in kHz in the user's locale ("44.1 kHz", "48 kHz"), "*" when assumed; "—" unknown.
    QString sampleRateText() const;
    QString summary() const;

    bool operator==(const AudioSourceFormat &) const = default;
};

} // namespace tampod
