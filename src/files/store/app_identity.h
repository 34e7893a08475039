#pragma once

namespace tampod::AppIdentity {

// The application's reverse-domain identifier. Owner signatures and freeform tag names are
// built from it; it is a fixed text of the program, never read from the environment.
inline constexpr char bundleIdentifier[] = "org.tampod.tamPOD";

} // namespace tampod::AppIdentity
