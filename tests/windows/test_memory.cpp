// The Windows side of the portable tests' memory and file helpers. Names are UTF-8 here as in
// the plugin's os layer, and reach Windows through the wide calls.

#include "test_memory.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace testmem {
namespace {

DWORD toProtect(Access access) {
    switch (access) {
        case Access::none:
            return PAGE_NOACCESS;
        case Access::read:
            return PAGE_READONLY;
        case Access::readWrite:
            return PAGE_READWRITE;
        case Access::executeRead:
            return PAGE_EXECUTE_READ;
        case Access::executeReadWrite:
            return PAGE_EXECUTE_READWRITE;
    }
    return PAGE_NOACCESS;
}

void* at(std::uintptr_t address) { return reinterpret_cast<void*>(address); }

std::wstring wide(const std::string& text) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string utf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

// Where the user's shell keeps the documents folder: SHGetFolderPath reads it from here.
constexpr const wchar_t* kShellFolders =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr const wchar_t* kDocuments = L"Personal";

}  // namespace

std::uintptr_t freeRange(std::size_t size) {
    // Reservations start on 64 KiB boundaries already.
    void* p = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
    if (!p) return 0;
    VirtualFree(p, 0, MEM_RELEASE);
    return reinterpret_cast<std::uintptr_t>(p);
}

bool take(std::uintptr_t address, std::size_t size, Access access) {
    void* p = VirtualAlloc(at(address), size, MEM_RESERVE | MEM_COMMIT, toProtect(access));
    if (p == at(address)) return true;
    if (p) VirtualFree(p, 0, MEM_RELEASE);
    return false;
}

bool reserve(std::uintptr_t address, std::size_t size) {
    void* p = VirtualAlloc(at(address), size, MEM_RESERVE, PAGE_NOACCESS);
    if (p == at(address)) return true;
    if (p) VirtualFree(p, 0, MEM_RELEASE);
    return false;
}

void release(std::uintptr_t address, std::size_t) { VirtualFree(at(address), 0, MEM_RELEASE); }

void unreserve(std::uintptr_t address, std::size_t size) { release(address, size); }

bool setAccess(std::uintptr_t address, std::size_t size, Access access) {
    DWORD old = 0;
    return VirtualProtect(at(address), size, toProtect(access), &old) != FALSE;
}

Access accessAt(std::uintptr_t address) {
    MEMORY_BASIC_INFORMATION info{};
    if (!VirtualQuery(at(address), &info, sizeof info) || info.State != MEM_COMMIT)
        return Access::none;
    switch (info.Protect & 0xFF) {
        case PAGE_READONLY:
            return Access::read;
        case PAGE_READWRITE:
            return Access::readWrite;
        case PAGE_EXECUTE_READ:
            return Access::executeRead;
        case PAGE_EXECUTE_READWRITE:
            return Access::executeReadWrite;
        default:
            return Access::none;
    }
}

std::string scratchFolder() {
    wchar_t temp[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) return "";
    for (unsigned i = 0;; ++i) {
        const std::wstring name = temp + std::wstring(L"freeplot-test-") +
                                  std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(i);
        if (CreateDirectoryW(name.c_str(), nullptr)) return utf8(name) + "\\";
        if (GetLastError() != ERROR_ALREADY_EXISTS) return "";
    }
}

// The user's shell folder setting for the documents is pointed at <folder>Documents (made here,
// as a user's is), and put back as it was when the object goes.
DocumentsIn::DocumentsIn(const std::string& folder) {
    const std::wstring documents = wide(folder + "Documents");
    CreateDirectoryW(wide(folder).c_str(), nullptr);
    CreateDirectoryW(documents.c_str(), nullptr);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key, kDocuments, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS) {
        std::vector<wchar_t> value(bytes / sizeof(wchar_t) + 1, L'\0');
        if (RegQueryValueExW(key, kDocuments, nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                             &bytes) == ERROR_SUCCESS) {
            hadValue_ = true;
            saved_ = utf8(value.data());
        }
    }
    RegSetValueExW(key, kDocuments, 0, REG_EXPAND_SZ,
                   reinterpret_cast<const BYTE*>(documents.c_str()),
                   static_cast<DWORD>((documents.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

DocumentsIn::~DocumentsIn() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    if (hadValue_) {
        const std::wstring value = wide(saved_);
        RegSetValueExW(key, kDocuments, 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteValueW(key, kDocuments);
    }
    RegCloseKey(key);
}

std::string pluginPath(const std::string& nativePath) { return nativePath; }

void* newCriticalSection() {
    auto* section = new CRITICAL_SECTION;
    InitializeCriticalSection(section);
    return section;
}

void deleteCriticalSection(void* section) {
    DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(section));
    delete static_cast<CRITICAL_SECTION*>(section);
}

bool removeFile(const std::string& nativePath) {
    const std::wstring name = wide(nativePath);
    DeleteFileW(name.c_str());
    return GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES;
}

std::string readFile(const std::string& nativePath) {
    std::FILE* file = _wfopen(wide(nativePath).c_str(), L"rb");
    if (!file) return "";
    std::string text;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
    std::fclose(file);
    return text;
}

}  // namespace testmem
