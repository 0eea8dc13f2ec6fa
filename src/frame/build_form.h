// The build-time choice between the full library and its compact form.
// Everything that differs between the two forms asks this one constant.
#pragma once

namespace tarnvale {

#if defined(TARNVALE_COMPACT)
inline constexpr bool kCompactForm = true;
#else
inline constexpr bool kCompactForm = false;
#endif

}  // namespace tarnvale
