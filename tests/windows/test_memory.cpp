// The Windows side of the portable tests' memory and file helpers.

#include "test_memory.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>

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
    char temp[MAX_PATH];
    const DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp) return "";
    for (unsigned i = 0;; ++i) {
        char name[MAX_PATH + 32];
        std::snprintf(name, sizeof name, "%sfreeplot-test-%lu-%u", temp, GetCurrentProcessId(), i);
        if (CreateDirectoryA(name, nullptr)) return std::string(name) + "\\";
        if (GetLastError() != ERROR_ALREADY_EXISTS) return "";
    }
}

DocumentsIn::DocumentsIn(const std::string&) {}
DocumentsIn::~DocumentsIn() = default;

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
    DeleteFileA(nativePath.c_str());
    return GetFileAttributesA(nativePath.c_str()) == INVALID_FILE_ATTRIBUTES;
}

std::string readFile(const std::string& nativePath) {
    std::ifstream in(nativePath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace testmem
