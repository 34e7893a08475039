#pragma once

#include "help/help_section.h"

#include <QList>

namespace tampod::GettingStartedHelp {

const QList<HelpSection> &welcome();
const QList<HelpSection> &opening();
const QList<HelpSection> &playback();
const QList<HelpSection> &removing();
const QList<HelpSection> &repeating();
const QList<HelpSection> &windows();

} // namespace tampod::GettingStartedHelp
