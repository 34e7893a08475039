#pragma once

#include "views/library/library_row.h"

#include <vector>

namespace tampod {

class PlayerModel;

// The library table's rows: one per visible library row, in order, from the player's tracks,
// current track, repeat, section loop and the detection, recovery and pairing states. Pure:
// the same state gives equal rows. thread: main only.
std::vector<LibraryRow> libraryRows(PlayerModel &player);

} // namespace tampod
