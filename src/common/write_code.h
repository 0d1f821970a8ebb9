#pragma once
// The one writer of the game's code and of the game data the plugin patches. Several threads
// switch building rules (the input thread, the console thread, the scale worker), and switches
// whose sites share a page would otherwise race on that page's protection: one thread could put
// the protection back between another's unprotect and its copy, or read the other's temporary
// protection as the "old" one and leave the page writable for good. So every write holds one
// lock across unprotect, copy, restore and the instruction-cache flush.

#include <cstddef>
#include <cstdint>

namespace freeplot {

// Holds the code writer's lock for its lifetime. A switch holds it across the change of its state
// and the writes of its bytes, so that both change together; writes made while it is held take it
// again (it is recursive). Never held while calling into the game.
class CodeWriterLock {
public:
    CodeWriterLock();
    ~CodeWriterLock();
    CodeWriterLock(const CodeWriterLock&) = delete;
    CodeWriterLock& operator=(const CodeWriterLock&) = delete;
};

// Makes [address, address + length) writable and executable, copies `bytes` there, sets the
// protection back to what it was and flushes the instruction cache for the range. When the
// protection cannot be changed nothing is written, the protection stays as it was, one line is
// logged and the result is false.
bool writeCode(std::uintptr_t address, const void* bytes, std::size_t length);

// Tells the processor that code at [address, address + length) was written in place (code that
// is generated straight into executable memory, under a CodeWriterLock).
void codeWritten(std::uintptr_t address, std::size_t length);

}  // namespace freeplot
