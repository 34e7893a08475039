#include "help/help_section.h"

namespace tampod {

QString HelpSection::searchText() const
{
    QStringList lines{title};
    lines << paragraphs << steps << bullets << note.value_or(QString()) << terms;
    return lines.join(u'\n');
}

} // namespace tampod
