// The game image: mapped at the game's image base, with the game's code at every site the
// plugin knows, its data at their start values and the console command table.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "sim/host.h"
#include "sim/internal.h"

namespace sim::detail {
namespace {

std::vector<SiteInfo> sites;

using loc::abs;

// Writes instruction bytes at a game offset. rel32 operands are computed from the address of
// the end of their instruction, which lies `tail` bytes after the operand (an immediate that
// follows it).
class Code {
public:
    explicit Code(std::uint32_t offset) : at_(offset) {}

    Code& hex(const char* text) {
        while (*text) {
            if (*text == ' ') {
                ++text;
                continue;
            }
            put(static_cast<std::uint8_t>(std::stoul(std::string(text, 2), nullptr, 16)));
            text += 2;
        }
        return *this;
    }
    Code& rel32To(std::uintptr_t target, int tail = 0) {
        auto end = static_cast<std::int64_t>(abs(at_) + 4 + static_cast<std::uint32_t>(tail));
        auto rel = static_cast<std::int64_t>(target) - end;
        if (rel < INT32_MIN || rel > INT32_MAX) throw std::runtime_error("rel32 out of reach");
        return u32(static_cast<std::uint32_t>(static_cast<std::int32_t>(rel)));
    }
    Code& rel32(std::uint32_t targetOffset, int tail = 0) {
        return rel32To(abs(targetOffset), tail);
    }
    Code& u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) put(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    std::uint32_t here() const { return at_; }

private:
    void put(std::uint8_t b) { *Game::at(at_++) = b; }
    std::uint32_t at_;
};

// Game routines the laid code calls; each is xor eax, eax; ret.
constexpr std::uint32_t helper(int n) {
    return loc::helperFunctions + 0x10 * static_cast<std::uint32_t>(n);
}
// Game data the laid code refers to.
constexpr std::uint32_t operand(int n) {
    return loc::codeOperands + 0x10 * static_cast<std::uint32_t>(n);
}

void layHelpers() {
    for (int n = 0; n < 16; ++n) Code(helper(n)).hex("31 C0 C3");
}

void laySites() {
    const Routines& r = routines();
    using namespace loc;

    // Store of the build-allowed result, then the code that goes on with al.
    Code(freeplotEnable)
        .hex("88 05")
        .rel32(buildAllowedFlag)  // mov [buildAllowedFlag], al
        .hex("88 44 24 70")       // mov [rsp+0x70], al
        .hex("E8")
        .rel32(helper(0))       // call
        .hex("48 8D 54 24 70")  // lea rdx, [rsp+0x70]
        .hex("48 8B C8")        // mov rcx, rax
        .hex("E9")
        .rel32To(r.freeplotEnableAfter);

    Code(colorBase)
        .hex("C6 05")
        .rel32(operand(0), 1)
        .hex("01")  // mov byte [rip+x], 1
        .hex("F3 0F 11 05")
        .rel32(operand(1))          // movss [rip+x], xmm0
        .hex("0F 28 74 24 40")      // movaps xmm6, [rsp+0x40]
        .hex("44 0F 28 44 24 30");  // movaps xmm8, [rsp+0x30]

    Code(selectEnable)
        .hex("8B 58 14")        // mov ebx, [rax+0x14]
        .hex("48 8D 4C 24 30")  // lea rcx, [rsp+0x30]
        .hex("45 33 C0")        // xor r8d, r8d
        .hex("8B D3")           // mov edx, ebx
        .hex("E8")
        .rel32(helper(1))
        .hex("48 8B 15")
        .rel32(operand(2))  // mov rdx, [rip+x]
        .hex("48 85 D2")    // test rdx, rdx
        .hex("74 06")       // jz +6 (over the next instruction)
        .hex("8B 05")
        .rel32(operand(3));  // mov eax, [rip+x]

    Code(buildEnable)
        .hex("0F B6 05")
        .rel32(operand(4))            // movzx eax, byte [rip+x]
        .hex("0F B6 B5 10 01 00 00")  // movzx esi, byte [rbp+0x110]
        .hex("84 C0")                 // test al, al
        .hex("0F 85")
        .rel32(buildEnable + 0x140)
        .hex("45 84 F6")  // test r14b, r14b
        .hex("74 00")     // jz +0
        .hex("40 84 F6")  // test sil, sil
        .hex("74 2C");    // jz: the jump freeplot mode makes unconditional

    Code(buildAirEnable)
        .hex("C6 05")
        .rel32(operand(5), 1)
        .hex("01")
        .hex("84 C0")      // test al, al
        .hex("75 04")      // jnz +4
        .hex("B1 02")      // mov cl, 2
        .hex("EB 03")      // jmp +3
        .hex("40 84 FF");  // test dil, dil

    // The jnz goes where freeplot mode's "jmp +0x20" goes.
    Code(buildWaterEnable)
        .hex("0F 85")
        .rel32(buildWaterEnable + 0x22)
        .hex("83 FE 01")  // cmp esi, 1
        .hex("74 0A")     // jz +10
        .hex("F3 0F 10 05")
        .rel32(operand(6))    // movss xmm0, [rip+x]
        .hex("41 0F 2E C1");  // ucomiss xmm0, xmm9

    // Snap override: store (result != 0) into snapOverrideValue.
    Code(collisionSnap)
        .hex("83 BD 58 11 00 00 00")  // cmp dword [rbp+0x1158], 0
        .hex("48 8D 8D 60 11 00 00")  // lea rcx, [rbp+0x1160]
        .hex("0F 95 05")
        .rel32(snapOverrideValue)  // setnz [snapOverrideValue]
        .hex("E8")
        .rel32(helper(2))
        .hex("80 3D")
        .rel32(operand(7), 1)
        .hex("00");  // cmp byte [rip+x], 0

    // The call of the keyboard callee, inside the routine of routines.cpp.
    Code(keyboardInput)
        .hex("E8")
        .rel32(keyboardInputCallee)
        .hex("81 BD")
        .u32(inputFrameCompare)
        .hex("00 01 00 00")  // cmp dword [rbp+0x80], 0x100
        .hex("0F 86")
        .rel32To(r.keyboardBelow)  // jbe
        .hex("48 8B CB")           // mov rcx, rbx
        .hex("E9")
        .rel32To(r.keyboardAfter);

    Code(mouseInput).hex("E8").rel32(mouseInputCallee).hex("E9").rel32To(r.mouseAfter);

    Code(timeoutFreese)
        .hex("0F 84")
        .rel32(timeoutFreese + 0x80)
        .hex("48 8B 15")
        .rel32(operand(8))
        .hex("E8")
        .rel32(helper(3))
        .hex("84 C0")     // test al, al
        .hex("0F 94 C0")  // setz al
        .hex("84 C0");

    Code(outline)
        .hex("C6 05")
        .rel32(operand(9), 1)
        .hex("01")
        .hex("88 15")
        .rel32(operand(10))  // mov [rip+x], dl
        .hex("76 13")        // jbe +0x13
        .hex("48 8B 05")
        .rel32(operand(11));  // mov rax, [rip+x]

    // The call of the outline callee, inside the routine of routines.cpp; r15 + r12 and the
    // RIP-relative operands point at readable, 16-byte aligned data.
    Code(outlineUselectable)
        .hex("E8")
        .rel32(outlineCallee)
        .hex("84 C0")  // test al, al
        .hex("0F 84")
        .rel32To(r.outlineUnselectable)
        .hex("43 0F 28 14 27")  // movaps xmm2, [r15+r12]
        .hex("F3 0F 10 1D")
        .rel32(operand(12))  // movss xmm3, [rip+x]
        .hex("0F 28 05")
        .rel32(operand(13))  // movaps xmm0, [rip+x]
        .hex("48 8D 95")
        .u32(0x90)  // lea rdx, [rbp+0x90]
        .hex("E9")
        .rel32To(r.outlineAfter);

    Code(selectButtonUnselectable)
        .hex("75 08")     // jnz +8
        .hex("48 8B CF")  // mov rcx, rdi
        .hex("40 32 F6")  // xor sil, sil
        .hex("E8")
        .rel32(helper(4));

    // Selectable test; its epilogue starts at +26, where the jz goes.
    Code(selectActionUnselectable)
        .hex("33 C0")        // xor eax, eax
        .hex("80 79 1A 41")  // cmp byte [rcx+0x1A], 0x41
        .hex("48 0F 44 C1")  // cmovz rax, rcx
        .hex("48 85 C0")     // test rax, rax
        .hex("74 0B")        // jz +11 (to +26)
        .hex("E8")
        .rel32(helper(5))
        .hex("0F B6 40 0C")  // movzx eax, byte [rax+0xC]
        .hex("24 01")        // and al, 1
        .hex("48 83 C4 28")  // add rsp, 0x28
        .hex("C3");

    Code(lockObject)
        .hex("0F 84")
        .rel32(lockObject + 0x1A0)
        .hex("48 89 5C 24 08")  // mov [rsp+8], rbx
        .hex("48 89 6C 24 10")  // mov [rsp+0x10], rbp
        .hex("48 89 74 24 18")  // mov [rsp+0x18], rsi
        .hex("48 8D 54 24 20")  // lea rdx, [rsp+0x20]
        .hex("48 8D 0D")
        .rel32(operand(14));  // lea rcx, [rip+x]

    Code(snapJump).hex("74 1D");  // jz +0x1D
    Code(clampedStore).hex("0F 84").rel32(clampedStore + 0x4D);

    sites = {
        {"freeplotEnable", freeplotEnable, 23},
        {"colorBase", colorBase, 26},
        {"selectEnable", selectEnable, 32},
        {"buildEnable", buildEnable, 32},
        {"buildAirEnable", buildAirEnable, 18},
        {"buildWaterEnable", buildWaterEnable, 23},
        {"collisionSnap", collisionSnap, 33},
        {"keyboardInput", keyboardInput, 24},
        {"timeoutFreese", timeoutFreese, 25},
        {"outline", outline, 18},
        {"outlineUselectable", outlineUselectable, 36},
        {"selectButtonUnselectable", selectButtonUnselectable, 9},
        {"selectActionUnselectable", selectActionUnselectable, 31},
        {"lockObject", lockObject, 29},
        {"mouseInput", mouseInput, 5},
        {"snapJump", snapJump, 2},
        {"clampedStore", clampedStore, 6},
    };
}

template <typename T>
void put(std::uint32_t offset, T v) {
    std::memcpy(Game::at(offset), &v, sizeof v);
}

void layData() {
    using namespace loc;
    put<float>(snapDistance, 48.0f);
    put<float>(surfaceSnapValue, 0.8f);
    put<std::uint8_t>(gridSnapSetting, 1);

    put<std::uint64_t>(timeManagerPtr, abs(obj::timeManager));
    put<std::uint64_t>(obj::timeManager + 48, abs(obj::timeState));
    put<float>(obj::timeState + 48, 1.0f);

    put<std::uint64_t>(rotationBasePtr, abs(obj::heading));
    put<std::uint8_t>(obj::heading + 0x1A, 0x3E);  // the player's character

    put<std::uint64_t>(consoleManagerPtr, abs(obj::console));
    put<std::uint64_t>(obj::console, abs(obj::console + 0x80));  // something like a vtable

    put<std::uint64_t>(scriptContextPtr, abs(obj::scriptContext));
    put<std::uint32_t>(obj::scriptContext, 0x53435458);

    // Readable 16-byte aligned data for the movaps at outlineUselectable.
    for (int i = 0; i < 4; ++i)
        put<float>(obj::alignedData + 4 * static_cast<std::uint32_t>(i), 1.0f);
    // The input routine's compare operand: above 0x100, so the jbe after the site is not taken.
    put<std::uint32_t>(inputFrame + inputFrameCompare, 0x101);
    // refQueueLock: 40 zero bytes, an unlocked pthread mutex.
}

struct CommandEntry {
    const char* longName;
    const char* shortName;
    std::uint32_t number;
};

void layCommandTable(CommandTable variant) {
    std::vector<CommandEntry> table = {
        {"Show", "", 0x100},
        {"ShowVars", "sv", 0x101},
        {"ToggleCollision", "tcl", 0x1A4},
        {"GetDebugText", "", 0x2F4},
        {"ToggleDebugText", "tdt", 0x2F5},
        {"ShowQuestTargets", "sqt", 0x2F9},
        {"PlaceAtMe", "", 0x2FA},
        {"ToggleGodMode", "tgm", 0x2FB},
    };
    if (variant == CommandTable::NoDebugText) {
        table[3].longName = "getdebugtext";  // close, but not the name
    } else if (variant == CommandTable::DebugTextLate) {
        table[3].longName = "GetDebugQuests";
        table.push_back({"GetDebugText", "", 0x2FC});
    }

    std::uint32_t strings = obj::strings;
    auto string = [&](const char* text) {
        std::uint32_t at = strings;
        std::size_t n = std::strlen(text) + 1;
        std::memcpy(Game::at(at), text, n);
        strings += static_cast<std::uint32_t>((n + 15) & ~std::size_t{15});
        return abs(at);
    };

    for (std::size_t i = 0; i < table.size(); ++i) {
        const auto& c = table[i];
        auto rec = loc::commandTable + static_cast<std::uint32_t>(80 * i);
        auto params = obj::commandParams + static_cast<std::uint32_t>(0x40 * i);
        auto idx = static_cast<std::uint32_t>(i);
        put<std::uint64_t>(rec + 0, string(c.longName));
        put<std::uint64_t>(rec + 8, string(c.shortName));
        put<std::uint32_t>(rec + 16, c.number);
        put<std::uint32_t>(rec + 20, 0x10 + idx);
        put<std::uint64_t>(rec + 24, string((std::string("Help for ") + c.longName).c_str()));
        put<std::uint8_t>(rec + 32, 1);
        put<std::uint8_t>(rec + 33, 0x21);
        put<std::uint16_t>(rec + 34, 2);
        put<std::uint32_t>(rec + 36, 0xA0 + idx);
        put<std::uint64_t>(rec + 40, abs(params));
        put<std::uint64_t>(rec + 48, commandHandlerAddress());
        put<std::uint64_t>(rec + 56, abs(helper(8)));
        put<std::uint64_t>(rec + 64, abs(helper(9)));
        put<std::uint32_t>(rec + 72, 0x4);
        put<std::uint32_t>(rec + 76, 0xC0 + idx);
        // Parameter block: the record's index, so the game's handler knows which command ran.
        put<std::uint32_t>(params, idx);
        if (std::strcmp(c.longName, "GetDebugText") == 0)
            sites.push_back({"commandTable[GetDebugText]", rec, 80});
    }
}

}  // namespace

const std::vector<SiteInfo>& watchedSites() { return sites; }

std::vector<std::uint32_t> codePages() {
    std::vector<std::uint32_t> pages;
    for (const SiteInfo& s : sites) {
        if (std::strncmp(s.name, "commandTable", 12) == 0) continue;  // data
        for (std::uint32_t page = s.offset & ~0xFFFu; page < s.offset + s.length; page += 0x1000)
            if (std::find(pages.begin(), pages.end(), page) == pages.end()) pages.push_back(page);
    }
    return pages;
}

namespace {

std::vector<std::vector<std::uint8_t>> laidBytes;  // by watched site, when protectCode ran

// A switched form of a site: bytes written over the laid ones at an offset; -1 matches any byte.
struct Patch {
    std::size_t at;
    std::vector<int> bytes;
};
struct SiteForm {
    const char* site;
    const char* group;  // sites of one switch, which are all on or all off
    std::vector<Patch> on;
};

// The 5-byte jump (E9, rel32 + 1, 90) that a switch writes over a 6-byte jump-if-equal.
std::vector<int> jumpTemplate(const std::vector<std::uint8_t>& laid) {
    std::uint32_t rel = 0;
    std::memcpy(&rel, laid.data() + 2, 4);
    ++rel;
    std::vector<int> bytes{0xE9};
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<int>((rel >> (8 * i)) & 0xFF));
    bytes.push_back(0x90);
    return bytes;
}

std::vector<SiteForm> switchedForms() {
    const std::vector<int> anyJump{0xE9, -1, -1, -1, -1};
    return {
        {"freeplotEnable", "freeplot mode", {{0, {0xFF, 0x15, -1, -1, -1, -1}}}},
        {"colorBase", "freeplot mode", {{6, {0x00}}}},
        {"selectEnable", "freeplot mode", {{0, {0x90, 0x90, 0x90}}}},
        {"buildEnable",
         "freeplot mode",
         {{0, {0x31, 0xC0, 0x90, 0x90, 0x90, 0x90, 0x90}}, {30, {0xEB}}}},
        {"buildWaterEnable", "freeplot mode", {{0, {0xEB, 0x20, 0x90, 0x90, 0x90, 0x90}}}},
        {"buildAirEnable", "freeplot mode", {{6, {0x00}}}},
        {"collisionSnap", "freeplot mode", {{0, {0x48, 0x8D, 0x8D, 0x60, 0x11, 0x00, 0x00,
                                                 0xC7, 0x05, 0x75, 0xB7, 0x67, 0x05, -1,
                                                 0x00, 0x00, 0x00, 0x90, 0x90, 0x90, 0x90}}}},
        {"snapJump", "object snap", {{0, {0x90, 0x90}}}},
        {"timeoutFreese", "timeout", {}},
        {"lockObject", "object lock", {}},
        {"clampedStore", "clamped storing", {}},
        {"outline", "outline", {{6, {0x00}}}},
        {"outlineUselectable", "extra selection", {{0, anyJump}}},
        {"selectButtonUnselectable", "extra selection", {{0, {0xEB}}}},
        {"selectActionUnselectable",
         "extra selection",
         {{0, {0xB8, 0x01, 0x00, 0x00, 0x00, 0xEB, 0x13, 0x90, 0x90, 0x90}}}},
        {"keyboardInput", "keyboard hook", {{0, anyJump}}},
        {"mouseInput", "mouse hook", {{0, anyJump}}},
    };
}

bool matches(const std::vector<std::uint8_t>& now, const std::vector<std::uint8_t>& laid,
             const std::vector<Patch>& patches) {
    std::vector<int> want(laid.begin(), laid.end());
    for (const Patch& p : patches)
        for (std::size_t i = 0; i < p.bytes.size() && p.at + i < want.size(); ++i)
            want[p.at + i] = p.bytes[i];
    for (std::size_t i = 0; i < now.size(); ++i)
        if (want[i] >= 0 && want[i] != now[i]) return false;
    return true;
}

}  // namespace

bool sitesAsSwitched(std::string& why, std::map<std::string, bool>* found, int* snapOverride) {
    std::vector<std::pair<std::string, bool>> groups;  // group, on
    // Byte 13 of freeplot mode's collision code is the snap override value, which follows object
    // snap: 01 while it is off (snapJump switched), 00 while it is on.
    std::optional<std::uint8_t> overrideByte;  // while collisionSnap is switched
    bool objectSnapOff = false;
    for (SiteForm form : switchedForms()) {
        const auto it = std::find_if(sites.begin(), sites.end(), [&](const SiteInfo& s) {
            return std::strcmp(s.name, form.site) == 0;
        });
        const auto index = static_cast<std::size_t>(it - sites.begin());
        if (it == sites.end() || index >= laidBytes.size()) continue;
        const std::vector<std::uint8_t>& laid = laidBytes[index];
        const std::vector<std::uint8_t> now = Game::bytes(it->offset, it->length);
        if (form.on.empty()) form.on = {{0, jumpTemplate(laid)}};
        bool on = false;
        if (matches(now, laid, form.on)) {
            on = true;
        } else if (now != laid) {
            why = std::string("site ") + form.site + " holds " + hex(now) +
                  ", neither the game's bytes nor its switch's";
            return false;
        }
        if (snapOverride && std::strcmp(form.site, "collisionSnap") == 0)
            *snapOverride = on ? now[13] : -1;
        if (on && std::strcmp(form.site, "collisionSnap") == 0) overrideByte = now[13];
        if (on && std::strcmp(form.site, "snapJump") == 0) objectSnapOff = true;
        const auto group = std::find_if(groups.begin(), groups.end(),
                                        [&](const auto& g) { return g.first == form.group; });
        if (group == groups.end()) {
            groups.push_back({form.group, on});
        } else if (group->second != on) {
            why = std::string("the sites of ") + form.group + " disagree: " + form.site + " is " +
                  (on ? "switched" : "the game's");
            return false;
        }
    }
    if (found)
        for (const auto& [group, on] : groups) (*found)[group] = on;
    if (overrideByte && *overrideByte != (objectSnapOff ? 0x01 : 0x00)) {
        why = std::string("collisionSnap holds snap override value ") + hex({*overrideByte}) +
              " while object snap is " + (objectSnapOff ? "off" : "on");
        return false;
    }
    return true;
}

void protectCode() {
    laidBytes.clear();
    for (const SiteInfo& s : sites) laidBytes.push_back(Game::bytes(s.offset, s.length));
    for (std::uint32_t page : codePages())
        if (!host::protect(loc::imageBase + page, 0x1000, host::Access::readExecute))
            throw std::runtime_error("cannot make the game's code read-execute");
}

bool codePagesAsLaid(std::string& why) {
    for (std::uint32_t page : codePages()) {
        const std::string perms = host::protectionAt(loc::imageBase + page);
        if (perms != "r-x") {
            char text[96];
            std::snprintf(text, sizeof text, "the code page at game+0x%X is %s, not r-x", page,
                          perms.c_str());
            why = text;
            return false;
        }
    }
    return true;
}

void buildImage(CommandTable table, bool blank, std::size_t bytes) {
    host::mapImage(loc::imageBase, bytes);
    if (bytes >= loc::imageSize) host::initGameLock(Game::at(loc::refQueueLock));
    if (blank) return;
    layHelpers();
    assembleRoutines();
    installStandIns();
    laySites();
    layData();
    layCommandTable(table);
}

}  // namespace sim::detail
