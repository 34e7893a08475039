#pragma once

#include "help/help_section.h"

#include <QList>

namespace tampod::TempoHelp {

const QList<HelpSection> &sections();

} // namespace tampod::TempoHelp
