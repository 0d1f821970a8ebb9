#pragma once
// The one writer of the game's code and of the game data the plugin patches. Several threads
// switch building rules (the input thread, the console thread, the scale worker), and switches
// whose sites share a page would otherwise race on that page's protection: one thread could put
// the protection back between another's unprotect and its copy, or read the other's temporary
// protection as the "old" one and leave the page writable for good. So every write holds one
// lock across unprotect, copy, restore and the instruction-cache flush.
//
// A page made writable stays so until the outermost lock ends, and then gets its protection
// back: a switch whose sites lie on a few pages changes each page's protection twice, not every
// site's. Taking a protection away makes the system flush the page from every processor's
// translation cache, the costly part of a write.

#include <cstddef>
#include <cstdint>

namespace freeplot {

// Holds the code writer's lock for its lifetime. A switch holds it across the change of its state
// and the writes of its bytes, so that both change together; writes made while it is held take it
// again (it is recursive). Never held while calling into the game. The outermost one gives the
// pages its writes opened their protection back as it ends.
class CodeWriterLock {
public:
    CodeWriterLock();
    ~CodeWriterLock();
    CodeWriterLock(const CodeWriterLock&) = delete;
    CodeWriterLock& operator=(const CodeWriterLock&) = delete;
};

// Makes [address, address + length) writable and executable, copies `bytes` there and flushes
// the instruction cache for the range; the protection is what it was once the outermost
// CodeWriterLock ends (this call's own, when none is held). When the protection cannot be
// changed nothing is written, the protection stays as it was, one line is logged and the result
// is false.
bool writeCode(std::uintptr_t address, const void* bytes, std::size_t length);

// Tells the processor that code at [address, address + length) was written in place (code that
// is generated straight into executable memory, under a CodeWriterLock).
void codeWritten(std::uintptr_t address, std::size_t length);

}  // namespace freeplot
