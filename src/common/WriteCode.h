#pragma once
// The only way the plugin changes the game's code and its read-only data: make the bytes
// writable, copy, and put the protection back as it was.

#include <cstddef>
#include <cstdint>

namespace freeplot {

// Makes [address, address + length) writable and executable, copies `bytes` there and sets the
// protection back to what it was. When the protection cannot be changed nothing is written,
// the protection stays as it was, one line is logged and the result is false.
bool writeCode(std::uintptr_t address, const void* bytes, std::size_t length);

}  // namespace freeplot
