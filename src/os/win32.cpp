// The Windows calls the plugin makes. This is the only file that includes <windows.h>.

#include <direct.h>
#include <share.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "os/os.h"

namespace freeplot::os {

std::uintptr_t mainModule() { return reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)); }

std::size_t mainModuleSize() {
    const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
    if (!base) return 0;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return 0;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return 0;
    return nt->OptionalHeader.SizeOfImage;
}

std::uint32_t mainModuleFileName(char* buffer, std::uint32_t size) {
    return GetModuleFileNameA(GetModuleHandleA(nullptr), buffer, size);
}

bool queryRegion(std::uintptr_t address, Region& out) {
    MEMORY_BASIC_INFORMATION info{};
    static_assert(sizeof info == 48);
    if (!VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info)) return false;
    out = {reinterpret_cast<std::uintptr_t>(info.BaseAddress), info.RegionSize,
           info.State == MEM_FREE};
    return true;
}

std::uintptr_t allocateAt(std::uintptr_t address, std::size_t size) {
    return reinterpret_cast<std::uintptr_t>(VirtualAlloc(
        reinterpret_cast<void*>(address), size, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
}

bool protect(std::uintptr_t address, std::size_t size, std::uint32_t protection,
             std::uint32_t& oldProtection) {
    DWORD old = 0;
    const BOOL ok = VirtualProtect(reinterpret_cast<void*>(address), size, protection, &old);
    oldProtection = old;
    return ok != FALSE;
}

void flushInstructionCache(std::uintptr_t address, std::size_t size) {
    FlushInstructionCache(GetCurrentProcess(), reinterpret_cast<const void*>(address), size);
}

std::uint32_t lastError() { return GetLastError(); }

std::int32_t documentsFolder(char* buffer) {
    return SHGetFolderPathA(nullptr, CSIDL_MYDOCUMENTS | CSIDL_FLAG_CREATE, nullptr,
                            SHGFP_TYPE_CURRENT, buffer);
}

std::string nativePath(const char* path) { return path; }

void makeDirectory(const char* path) { _mkdir(path); }

std::FILE* openShareDenyWrite(const char* path) { return _fsopen(path, "w", _SH_DENYWR); }

bool replaceFileWhole(const char* path, const std::string& bytes) {
    const std::string temporary = std::string(path) + ".tmp";
    const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool written = true;
    for (std::size_t done = 0; written && done < bytes.size();) {
        DWORD n = 0;
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        written = WriteFile(file, bytes.data() + done, chunk, &n, nullptr) && n > 0;
        done += n;
    }
    written = CloseHandle(file) && written;
    // A file another program holds open without sharing its deletion is not replaced.
    if (written)
        written = MoveFileExA(temporary.c_str(), path,
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!written) DeleteFileA(temporary.c_str());
    return written;
}

bool fileStamp(const char* path, FileStamp& out) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    out.written =
        static_cast<std::int64_t>((std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                                  data.ftLastWriteTime.dwLowDateTime);
    out.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    return true;
}

std::uint32_t scanCodeToVirtualKey(std::uint32_t scanCode) {
    return MapVirtualKeyA(scanCode, MAPVK_VSC_TO_VK_EX);
}

void enterCriticalSection(void* section) {
    EnterCriticalSection(static_cast<CRITICAL_SECTION*>(section));
}

void leaveCriticalSection(void* section) {
    LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(section));
}

}  // namespace freeplot::os
