// The Windows calls the plugin makes. This is the only file that includes <windows.h>.
// Names go to and come from Windows through the wide (UTF-16) calls and cross the os interface
// as UTF-8: an ANSI call would turn every letter outside the user's code page into '?'.

#include <direct.h>
#include <share.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "os/long_names.h"
#include "os/os.h"
#include "os/utf8.h"

namespace freeplot::os {
namespace {

// The longest name the wide calls take ("\\?\" names included), in UTF-16 units.
constexpr DWORD kLongestName = 32768;

// A UTF-8 name as the wide calls take it; empty when the text is not UTF-8, which then names
// no file.
std::wstring widen(std::string_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int units =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (units <= 0) return {};
    std::wstring out(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, out.data(), units);
    return out;
}

// A file's name as the wide file calls take it, long names with their prefix (long_names.h).
std::wstring widePath(std::string_view path) { return longNameForm(widen(path)); }

// A name from a wide call as UTF-8.
std::string narrow(const wchar_t* text, std::size_t units) {
    if (units == 0) return {};
    const int length = static_cast<int>(units);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), bytes, nullptr, nullptr);
    return out;
}

}  // namespace

std::uintptr_t mainModule() { return reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr)); }

std::size_t mainModuleSize() {
    const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    if (!base) return 0;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return 0;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return 0;
    return nt->OptionalHeader.SizeOfImage;
}

std::uint32_t mainModuleFileName(char* buffer, std::uint32_t size) {
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wstring wide(kLongestName, L'\0');
    const DWORD units = GetModuleFileNameW(GetModuleHandleW(nullptr), wide.data(), kLongestName);
    if (units == 0 || units >= kLongestName) return 0;
    const std::string path = narrow(wide.data(), units);
    if (path.empty()) return 0;
    // As GetModuleFileNameA answers, with the error saying the buffer was too small.
    const std::uint32_t copied = utf8::copyOrCut(path, buffer, size);
    if (copied == size) SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return copied;
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
    wchar_t wide[MAX_PATH] = {};
    const HRESULT result = SHGetFolderPathW(nullptr, CSIDL_MYDOCUMENTS | CSIDL_FLAG_CREATE, nullptr,
                                            SHGFP_TYPE_CURRENT, wide);
    buffer[0] = '\0';
    if (FAILED(result)) return result;
    // MAX_PATH units always fit kMaxPathUtf8 bytes.
    static_assert(kMaxPathUtf8 >= MAX_PATH * 3);
    const std::string path = narrow(wide, wcsnlen(wide, MAX_PATH));
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return result;
}

std::string nativePath(const char* path) { return path; }

std::FILE* openNative(const std::string& nativePath, const char* mode) {
    const std::wstring name = widePath(nativePath);
    const std::wstring wideMode = widen(mode);
    if (name.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    return _wfopen(name.c_str(), wideMode.c_str());
}

void makeDirectory(const char* path) {
    const std::wstring name = widePath(path);
    if (!name.empty()) _wmkdir(name.c_str());
}

std::FILE* openShareDenyWrite(const char* path) {
    const std::wstring name = widePath(path);
    if (name.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    return _wfsopen(name.c_str(), L"w", _SH_DENYWR);
}

bool replaceFileWhole(const char* path, const std::string& bytes) {
    const std::wstring name = widePath(path);
    if (name.empty()) return false;
    const std::wstring temporary = widePath(std::string(path) + ".tmp");
    const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
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
        written = MoveFileExW(temporary.c_str(), name.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!written) DeleteFileW(temporary.c_str());
    return written;
}

bool fileStamp(const char* path, FileStamp& out) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const std::wstring name = widePath(path);
    if (name.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) return false;
    out.written =
        static_cast<std::int64_t>((std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                                  data.ftLastWriteTime.dwLowDateTime);
    out.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    return true;
}

std::uint32_t scanCodeToVirtualKey(std::uint32_t scanCode) {
    return MapVirtualKeyW(scanCode, MAPVK_VSC_TO_VK_EX);
}

void enterCriticalSection(void* section) {
    EnterCriticalSection(static_cast<CRITICAL_SECTION*>(section));
}

void leaveCriticalSection(void* section) {
    LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(section));
}

}  // namespace freeplot::os
