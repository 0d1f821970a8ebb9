#pragma once
// What the two halves of the POSIX emulation share: the Windows error codes it reports and the
// per-thread last error, the page arithmetic, and the walk over the process's mappings.

#include <unistd.h>

#include <cstdint>
#include <string>

namespace freeplot::os::posix {

inline constexpr std::uintptr_t kAllocationGranularity = 0x10000;
// Windows hands out nothing below 64 KiB; the user address space ends at 128 TiB.
inline constexpr std::uintptr_t kLowestAddress = 0x10000;
inline constexpr std::uintptr_t kUserTop = std::uintptr_t{1} << 47;

// The Windows error codes this emulation reports through lastError().
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorFilenameTooLong = 206;
inline constexpr std::uint32_t kErrorInvalidAddress = 487;

// "/a/b" -> "Z:\\a\\b", as Wine shows POSIX paths; a relative path keeps its place, with
// backslashes; a path already on Z: stays as it is.
std::string toWindowsPath(const std::string& path);

// Sets the calling thread's last error and returns 0, the failure value of most calls.
std::uint32_t fail(std::uint32_t windowsError);

inline std::uintptr_t pageSize() {
    static const std::uintptr_t size = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    return size;
}
inline std::uintptr_t pageDown(std::uintptr_t address) { return address & ~(pageSize() - 1); }
inline std::uintptr_t pageUp(std::uintptr_t address) { return pageDown(address + pageSize() - 1); }

// One mapping of the process, [start, end), with its PROT_ bits.
struct Mapping {
    std::uintptr_t start, end;
    int prot;
};

// The mapping that holds `address`, else the lowest one above it. `found` is false when nothing
// is mapped at or above the address. False when the process's mappings cannot be read.
bool mappingAtOrAbove(std::uintptr_t address, Mapping& out, bool& found);

}  // namespace freeplot::os::posix
