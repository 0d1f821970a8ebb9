#pragma once
// The project's version ("1.0.0"), set in CMakeLists.txt: the one the DLL's version resource and
// the archive's name carry. F4SE is told another number, the plugin version in the information
// record (plugin/f4se.h), which stays 16.

#ifndef FREEPLOT_VERSION
#error "FREEPLOT_VERSION comes from the build (CMakeLists.txt)"
#endif

namespace freeplot {

inline constexpr const char* kVersion = FREEPLOT_VERSION;

}  // namespace freeplot
