#include "tags/internal/tempo_text.h"

namespace tampod::TempoText {

QString trimmed(const QString &text)
{
    const auto blank = [](QChar c) {
        return c == QChar(0) || c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
    };
    qsizetype begin = 0, end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace tampod::TempoText
