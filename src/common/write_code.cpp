#include "common/write_code.h"

#include <array>
#include <cstring>
#include <mutex>

#include "common/log.h"
#include "os/os.h"

namespace freeplot {
namespace {

std::recursive_mutex& writerMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

// The pages writes have made writable under the current outermost lock, with the protection each
// had. Only the lock's holder touches them.
struct OpenPage {
    std::uintptr_t page;
    std::uint32_t protection;
};
struct OpenPages {
    int depth = 0;  // how many CodeWriterLocks the holder has
    std::size_t count = 0;
    std::array<OpenPage, 16> pages{};
};
OpenPages& open() {
    static OpenPages pages;
    return pages;
}

bool refused(std::uintptr_t address, std::size_t length) {
    logLine("Could not make " FREEPLOT_X64 " (%u bytes) writable (error %08X), left as it was",
            static_cast<std::uint64_t>(address), static_cast<unsigned>(length), os::lastError());
    return false;
}

void giveBack(std::uintptr_t address, std::size_t length, std::uint32_t protection) {
    std::uint32_t unused = 0;
    if (!os::protect(address, length, protection, unused))
        logLine("Could not restore the protection %08X of " FREEPLOT_X64 " (error %08X)",
                protection, static_cast<std::uint64_t>(address), os::lastError());
}

// Gives every open page its protection back, one call a page: Windows changes a range in one
// call only within one allocation, and neighbouring pages need not share one.
void closePages() {
    OpenPages& o = open();
    for (std::size_t i = 0; i < o.count; ++i)
        giveBack(o.pages[i].page, os::kPageSize, o.pages[i].protection);
    o.count = 0;
}

bool isOpen(std::uintptr_t page) {
    const OpenPages& o = open();
    for (std::size_t i = 0; i < o.count; ++i)
        if (o.pages[i].page == page) return true;
    return false;
}

// Keeps a page opened now (the caller has made room).
void keepOpen(std::uintptr_t page, std::uint32_t protection) {
    OpenPages& o = open();
    o.pages[o.count++] = {page, protection};
}

}  // namespace

CodeWriterLock::CodeWriterLock() {
    writerMutex().lock();
    ++open().depth;
}

CodeWriterLock::~CodeWriterLock() {
    if (--open().depth == 0) closePages();
    writerMutex().unlock();
}

bool writeCode(std::uintptr_t address, const void* bytes, std::size_t length) {
    const CodeWriterLock lock;
    const std::uintptr_t first = address & ~(os::kPageSize - 1);
    const std::uintptr_t last = (address + (length ? length : 1) - 1) & ~(os::kPageSize - 1);
    // Without room for every page of this write, the pages opened before get their protection
    // back first; a write longer than the list holds is made and closed alone.
    const std::size_t pages = (last - first) / os::kPageSize + 1;
    if (open().count + pages > open().pages.size()) closePages();
    if (pages > open().pages.size()) {
        std::uint32_t oldProtection = 0;
        if (!os::protect(address, length, os::kPageExecuteReadWrite, oldProtection))
            return refused(address, length);
        std::memcpy(reinterpret_cast<void*>(address), bytes, length);
        giveBack(address, length, oldProtection);
    } else {
        for (std::uintptr_t page = first; page <= last; page += os::kPageSize) {
            if (isOpen(page)) continue;
            std::uint32_t oldProtection = 0;
            if (!os::protect(page, os::kPageSize, os::kPageExecuteReadWrite, oldProtection))
                return refused(address, length);
            keepOpen(page, oldProtection);
        }
        std::memcpy(reinterpret_cast<void*>(address), bytes, length);
    }
    os::flushInstructionCache(address, length);
    return true;
}

void codeWritten(std::uintptr_t address, std::size_t length) {
    os::flushInstructionCache(address, length);
}

}  // namespace freeplot
