#include "tagger_tags.h"

#include <cstdint>

namespace tampod::test {

QByteArray id3v1Tag()
{
    return "TAG" + QByteArray("Take one").leftJustified(125, '\0');
}

QByteArray apeTag(bool withHeader)
{
    const auto u32 = [](uint32_t v) { return QByteArray(reinterpret_cast<const char *>(&v), 4); };
    const QByteArray item = u32(8) + u32(0) + QByteArray("Title", 6) + "Take one";
    const auto frame = [&](uint32_t flags) {
        return "APETAGEX" + u32(2000) + u32(uint32_t(item.size() + 32)) + u32(1) + u32(flags) + QByteArray(8, '\0');
    };
    const uint32_t headerPresent = withHeader ? 0x80000000u : 0;
    return (withHeader ? frame(headerPresent | 0x20000000u) : QByteArray()) + item + frame(headerPresent);
}

QByteArray lyrics3Tag()
{
    const QByteArray fields = "IND00003010LYR00020[00:01]Take one, two";
    return "LYRICSBEGIN" + fields + QByteArray::number(fields.size() + 11).rightJustified(6, '0') + "LYRICS200";
}

} // namespace tampod::test
