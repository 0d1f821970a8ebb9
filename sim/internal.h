#pragma once
// Pieces of the simulated game that only the session child uses.

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim.h"

namespace sim::detail {

// --- Recording -----------------------------------------------------------------------------
// Every record goes at once to the session's event file (so a crash loses nothing already
// recorded) and, for calls, messages and console lines, into memory for the scripts.
// Event file format: one record per line, "<kind>\t<field>\t<field>...", fields escaped.
namespace kind {
inline constexpr char call = 'K';
inline constexpr char message = 'M';
inline constexpr char console = 'C';
inline constexpr char note = 'N';
inline constexpr char error = 'X';
inline constexpr char queryCalled = 'Q';
inline constexpr char queryResult = 'q';
inline constexpr char loadCalled = 'L';
inline constexpr char loadResult = 'l';
inline constexpr char info = 'I';
inline constexpr char sitesBegin = 'S';
inline constexpr char site = 's';
inline constexpr char end = 'E';
inline constexpr char step = 'P';          // a scenario step began (its line)
inline constexpr char imageChanged = 'B';  // bytes of the image Query and Load changed
}  // namespace kind

std::string escapeField(std::string_view text);
std::vector<std::string> splitRecord(std::string_view line);  // unescapes

void openRecorder(int fd);
void emit(char kind, const std::vector<std::string>& fields);
void recordCall(const std::string& line);
void recordMessage(const std::string& text);
void recordConsole(const std::string& text);
std::vector<std::string> recordedCalls(std::size_t from = 0);
std::vector<std::string> recordedMessages(std::size_t from = 0);
std::size_t recordedCallCount();
std::size_t recordedMessageCount();
std::vector<Timed> recordedTimedCalls();
std::vector<Timed> recordedTimedMessages();
// Microseconds since the session's recorder started (steady clock).
std::int64_t sessionMicros();
std::vector<std::string> recordedConsole();

// --- Image -----------------------------------------------------------------------------------
struct SiteInfo {
    const char* name;
    std::uint32_t offset;
    std::uint32_t length;  // bytes watched for changes
};
const std::vector<SiteInfo>& watchedSites();

// Maps the image (throws std::runtime_error when 0x140000000 is taken) and lays everything.
void buildImage(CommandTable table, bool blank, std::size_t bytes);

// The pages that hold the game's code at the watched sites, by image offset. The game's code is
// read-execute: protectCode() makes these pages so before the plugin loads, and
// codePagesAsLaid() tells whether every one of them is read-execute still (the plugin must put
// back the protection it changes to write).
std::vector<std::uint32_t> codePages();
void protectCode();
bool codePagesAsLaid(std::string& why);
// Whether every watched site holds either the bytes laid for it (taken by protectCode) or the
// bytes its switch writes, and the sites of one switch agree on whether it is on. `groups`, when
// given, receives each switch group with whether its sites are switched, and `snapOverride` the
// byte at collisionSnap + 13 (the snap override value) while freeplot mode's code is in.
bool sitesAsSwitched(std::string& why, std::map<std::string, bool>* groups = nullptr,
                     int* snapOverride = nullptr);

// --- Stand-ins and references ----------------------------------------------------------------
// Registers written by the entry code of the three game callees before their C++ part runs.
struct Probe {
    std::uint64_t rax, rcx, rdx, rdi;
};

struct Routines {
    // Entry points of the executed routines (Microsoft x64 convention).
    std::uintptr_t keyboard = 0, mouse = 0, freeplotEnable = 0, outline = 0;
    // Where the laid code after each site continues.
    std::uintptr_t keyboardAfter = 0, keyboardBelow = 0, mouseAfter = 0;
    std::uintptr_t freeplotEnableAfter = 0, outlineAfter = 0, outlineUnselectable = 0;
    Probe* keyboardProbe = nullptr;
    Probe* mouseProbe = nullptr;
    Probe* outlineProbe = nullptr;
};
const Routines& routines();

struct CalleeState {
    std::atomic<int> keyboardRuns{0};
    std::atomic<int> mouseRuns{0};
    std::atomic<int> outlineRuns{0};
    std::uint16_t mouseSeenFlags = 0, mouseSeenData = 0;
    std::atomic<std::uint8_t> outlineResult{0};
    std::atomic<std::size_t> refQueueTakes{0};
    std::atomic<bool> mainLoopTakes{true};           // the main loop takes refQueueSlot
    std::atomic<bool> recordInputCallees{true};      // the input callees record their calls
    std::atomic<std::int64_t> axisCommandMicros{0};  // how long an axis command takes
};
CalleeState& callees();

// Lays the absolute jumps at the game functions' offsets and the callee entries.
void installStandIns();
void assembleRoutines();                 // fills routines(); before the sites are laid
std::uintptr_t commandHandlerAddress();  // the game's handler of the table's own commands

// C++ parts of the three game callees, reached from their entry code.
#define SIM_MSABI __attribute__((ms_abi))
std::uint64_t SIM_MSABI keyboardCalleeBody(std::uint64_t rcx, std::uint64_t rdx);
std::uint64_t SIM_MSABI mouseCalleeBody(std::uint64_t rcx, std::uint64_t rdx);
std::uint64_t SIM_MSABI outlineCalleeBody(std::uint64_t rcx);

// References known to the game (for lookupRefByHandle and readable call lines).
std::string describePointer(std::uintptr_t p);
Ref addReference(const RefLayout& layout);
std::optional<Ref> findReference(std::uint32_t handle);
void dropReference(std::uint32_t handle);
std::optional<RefLayout> readReference(std::uint32_t handle);
// The game lets go of a reference: its handle resolves to nothing from now on, and the main loop
// frees it at the end of its frame (a couple of milliseconds later): its page becomes unreadable,
// so whoever still reads it crashes.
void unloadReference(std::uint32_t handle);
void freeUnloadedReferences();
// Whether the game has freed the reference at `p` (false for anything else).
bool isUnloadedReference(std::uintptr_t p);
// Whether the game let go of the reference at `p` longer ago than one action takes.
bool isStaleReference(std::uintptr_t p);
// A game function was handed a reference the game has let go of: in the game that reads freed
// memory. Records the call as an error and crashes the session, as the game would.
[[noreturn]] void calledOnUnloaded(const std::string& call);

// Formats a console line the way the game's printf-style function does, reading the
// arguments from a Microsoft va_list (8-byte slots).
std::string formatMsVaList(const char* format, const char* args);

// The game's main loop: takes what is stored in refQueueSlot under refQueueLock (while
// callees().mainLoopTakes is set).
void startMainLoop();

// Offsets in the sim objects area.
namespace obj {
inline constexpr std::uint32_t timeManager = loc::simObjects + 0x000;  // P
inline constexpr std::uint32_t timeState = loc::simObjects + 0x100;    // Q
inline constexpr std::uint32_t heading = loc::simObjects + 0x200;      // heading reference
inline constexpr std::uint32_t console = loc::simObjects + 0x400;
inline constexpr std::uint32_t scriptContext = loc::simObjects + 0x500;
inline constexpr std::uint32_t probes = loc::simObjects + 0x600;         // 3 x Probe
inline constexpr std::uint32_t alignedData = loc::simObjects + 0x700;    // movaps source
inline constexpr std::uint32_t commandParams = loc::simObjects + 0x800;  // parameter blocks
inline constexpr std::uint32_t strings = loc::simObjects + 0x2000;       // command names
}  // namespace obj

}  // namespace sim::detail
