#pragma once

#include "help/help_section.h"

#include <QList>

namespace tampod::MenuHelp {

const QList<HelpSection> &sections();

} // namespace tampod::MenuHelp
