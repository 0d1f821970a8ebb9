#pragma once
// Memory the portable tests lay out for themselves, made with the system's own calls (not the
// plugin's operating-system layer, which is what the tests check). One implementation per
// backend: tests/portable/posix/test_memory.cpp and tests/windows/test_memory.cpp.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace testmem {

// The allocation granularity: address space is taken and given back in units of 64 KiB.
inline constexpr std::size_t kUnit = 0x10000;

enum class Access { none, read, readWrite, executeRead, executeReadWrite };

// Start of `size` bytes of free address space, 64 KiB aligned, found at run time (nothing is
// left there).
std::uintptr_t freeRange(std::size_t size);

// One allocation of [address, address + size), committed with `access`. `address` must be 64 KiB
// aligned. False when the range is not free.
bool take(std::uintptr_t address, std::size_t size, Access access);

// One allocation of [address, address + size) that is in use but not accessible and costs no
// memory (a reservation).
bool reserve(std::uintptr_t address, std::size_t size);

// Gives back the allocation made at `address` of `size` bytes.
void release(std::uintptr_t address, std::size_t size);

// Gives back a reservation made by reserve().
void unreserve(std::uintptr_t address, std::size_t size);

// Changes the access of committed pages; false when the system refuses.
bool setAccess(std::uintptr_t address, std::size_t size, Access access);

// The access of the page holding `address`, as the system reports it; none for a free page.
Access accessAt(std::uintptr_t address);

// An allocation owned by a test, given back when it goes.
class Block {
public:
    Block(std::uintptr_t address, std::size_t size, Access access)
        : size_(size), address_(take(address, size, access) ? address : 0) {}
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    ~Block() {
        if (address_) release(address_, size_);
    }
    bool ok() const { return address_ != 0; }

private:
    std::size_t size_;
    std::uintptr_t address_;
};

// A reservation owned by a test.
class Reservation {
public:
    Reservation(std::uintptr_t address, std::size_t size)
        : size_(size), address_(reserve(address, size) ? address : 0) {}
    Reservation(const Reservation&) = delete;
    Reservation& operator=(const Reservation&) = delete;
    ~Reservation() {
        if (address_) unreserve(address_, size_);
    }
    bool ok() const { return address_ != 0; }

private:
    std::size_t size_;
    std::uintptr_t address_;
};

// A new empty folder for the test, as a native path with a trailing separator.
std::string scratchFolder();

// A scratch folder removed with everything in it when the test is done (what cannot be removed,
// such as a file another opener still holds on Windows, stays).
struct Scratch {
    std::string path = scratchFolder();
    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

// While it lives, the documents folder is <folder>Documents (`folder` ends in a separator): POSIX
// takes $HOME; on Windows the user's shell folder setting points there, and is put back after.
class DocumentsIn {
public:
    explicit DocumentsIn(const std::string& folder);
    DocumentsIn(const DocumentsIn&) = delete;
    DocumentsIn& operator=(const DocumentsIn&) = delete;
    ~DocumentsIn();

private:
    bool hadValue_ = false;
    std::string saved_;
};

// A native path as the plugin names files: a Windows path (on POSIX, on drive Z:).
std::string pluginPath(const std::string& nativePath);

// A critical section as the game keeps one, ready to be entered; and its end.
void* newCriticalSection();
void deleteCriticalSection(void* section);

// Deletes a file given by its native path; true when it is gone.
bool removeFile(const std::string& nativePath);

// The whole content of a file given by its native path ("" when it cannot be read).
std::string readFile(const std::string& nativePath);

}  // namespace testmem
