#pragma once

#include "help/help_section.h"

#include <QList>

namespace tampod::BatchExportHelp {

const QList<HelpSection> &sections();

} // namespace tampod::BatchExportHelp
