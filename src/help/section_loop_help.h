#pragma once

#include "help/help_section.h"

#include <QList>

namespace tampod::SectionLoopHelp {

const QList<HelpSection> &sections();

} // namespace tampod::SectionLoopHelp
