#include "common/write_code.h"

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

}  // namespace

CodeWriterLock::CodeWriterLock() { writerMutex().lock(); }

CodeWriterLock::~CodeWriterLock() { writerMutex().unlock(); }

bool writeCode(std::uintptr_t address, const void* bytes, std::size_t length) {
    const CodeWriterLock lock;
    std::uint32_t oldProtection = 0;
    if (!os::protect(address, length, os::kPageExecuteReadWrite, oldProtection)) {
        logLine("Could not make " FREEPLOT_X64 " (%u bytes) writable (error %08X), left as it was",
                static_cast<std::uint64_t>(address), static_cast<unsigned>(length),
                os::lastError());
        return false;
    }
    std::memcpy(reinterpret_cast<void*>(address), bytes, length);
    std::uint32_t unused = 0;
    if (!os::protect(address, length, oldProtection, unused)) {
        logLine("Could not restore the protection %08X of " FREEPLOT_X64 " (error %08X)",
                oldProtection, static_cast<std::uint64_t>(address), os::lastError());
    }
    os::flushInstructionCache(address, length);
    return true;
}

void codeWritten(std::uintptr_t address, std::size_t length) {
    os::flushInstructionCache(address, length);
}

}  // namespace freeplot
