#pragma once

#include <QString>

#include <cstdint>
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

    // What a decoder reports of a file's stream: the format identifier as a four-character
    // code ('lpcm', 'flac', 'alac', 'aac ', …), its flags and the bits per channel.
    struct StreamDescription {
        double sampleRate = 0;
        std::uint32_t formatID = 0;
        std::uint32_t formatFlags = 0;
        std::uint32_t bitsPerChannel = 0;
    };

    static constexpr std::uint32_t fourCC(const char (&code)[5])
    {
        return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16) |
               (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
    }
    static constexpr std::uint32_t floatFlag = 1; // bit 0 of an 'lpcm' description's flags

    std::optional<double> sampleRate;
    Resolution resolution = Resolution::unknown();
    bool assumed = false; // from SD2 recovery parameters the user chose, not from the file

    static AudioSourceFormat fromFileFormat(const StreamDescription &description);

    // The rate in kHz in the user's locale ("44.1 kHz", "48 kHz"), "*" when assumed; "—" unknown.
    QString sampleRateText() const;
    QString summary() const;

    bool operator==(const AudioSourceFormat &) const = default;
};

} // namespace tampod
