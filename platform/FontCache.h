#pragma once
// Fontconfig writes a cache for every font folder whose cache is missing or
// stale. When none of its cache folders can be written (a user without a
// writable home, as some lockers run as), it says so on stderr, where only
// this program's own lines belong, and goes on with the fonts read afresh.
namespace hakop::platform {

// Loads fontconfig's configuration with one more cache folder at the end of
// its list, a private one made for the purpose, builds the font list (so
// writing goes to a usual folder when one can be written, else there), makes
// that the configuration the toolkit uses, and removes the folder with
// whatever went into it. Call before the toolkit looks at any font. Does
// nothing when the user's own cache folder can be written, as it can for most.
void prepareFontCache();

} // namespace hakop::platform
