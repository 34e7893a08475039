#pragma once

#include "help/help_section.h"

#include <QList>

namespace tampod::EncodingHelp {

const QList<HelpSection> &sections();

} // namespace tampod::EncodingHelp
