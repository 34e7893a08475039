#pragma once

// The names under which tempo tags of our own are stored in files.
namespace tampod::TempoIdentity {

// The mean of the freeform MPEG-4 tempo item: the application's reverse-domain identifier.
// Files already written carry it and are recognised by it, so it must never change.
inline constexpr char freeformMean[] = "org.tampod.tamPOD";

} // namespace tampod::TempoIdentity
