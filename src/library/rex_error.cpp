#include "library/rex_error.h"

#include "core/number_text.h"

namespace tampod {

namespace {

QString text(REXError::Kind kind, std::int32_t code)
{
    switch (kind) {
    case REXError::Kind::sdk:
        if (code == 106)
            return QStringLiteral("This REX file is damaged or is not a supported REX encoding.");
        if (code == 107)
            return QStringLiteral("This REX file needs a newer decoder.");
        if (code == 108)
            return QStringLiteral("This REX file has no loop length. Set its loop length in ReCycle and save a copy.");
        return QStringLiteral("The REX decoder could not prepare this file (code ") + NumberText::wholeQ(code) +
               QStringLiteral("). The original is unchanged.");
    case REXError::Kind::unavailable:
        return QStringLiteral("The REX decoder library is not included with tamPOD and could not be loaded from "
                              "lib/tampod/librex.so in tamPOD’s installation folder. REX files are refused "
                              "without it.");
    case REXError::Kind::limits:
        return QStringLiteral("This REX file exceeds the supported limits: 32 MB input, 256 MB decoded audio, "
                              "8\u2013192 kHz and original tempo 20\u2013450 BPM.");
    case REXError::Kind::changed:
        return QStringLiteral("The REX source changed while loading. Reopen the file and try again.");
    case REXError::Kind::verification:
        break;
    }
    return QStringLiteral("The REX listening copy could not be verified. The original is unchanged.");
}

int codeOf(REXError::Kind kind, std::int32_t sdkCode)
{
    return kind == REXError::Kind::sdk ? sdkCode : static_cast<int>(kind);
}

} // namespace

REXError::REXError(Kind kind, std::int32_t sdkCode)
    : Error(kind == Kind::sdk ? QStringLiteral("tampod.rex.sdk") : QStringLiteral("tampod.rex"),
            codeOf(kind, sdkCode), text(kind, sdkCode)),
      kind_(kind), sdkCode_(sdkCode)
{
}

} // namespace tampod
