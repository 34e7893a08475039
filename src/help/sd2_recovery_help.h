#pragma once

#include "help/help_section.h"

#include <QList>

namespace tampod::SD2RecoveryHelp {

const QList<HelpSection> &sections();

} // namespace tampod::SD2RecoveryHelp
