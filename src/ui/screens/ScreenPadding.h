#pragma once

// The toolkit's padding of a view that names none. Every screen pads with this one value, so that their
// contents start at the same place when the user moves from tab to tab.
inline constexpr int platformDefaultPadding = 16;
