#pragma once

#include "help/help_section.h"

#include <QList>

namespace tampod::REXHelp {

const QList<HelpSection> &sections();

} // namespace tampod::REXHelp
