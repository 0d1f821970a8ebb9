#include "config/reading.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "common/log.h"
#include "os/os.h"

namespace freeplot {
namespace {

// A text saved as UTF-16 without its byte-order mark: its first characters, in pairs of bytes,
// have a zero on one side in at least half of the pairs (the ASCII ones) and on the other side in
// none.
FileState utf16Shape(const std::string& bytes, bool& bigEndian) {
    const std::size_t pairs = std::min<std::size_t>(bytes.size() / 2, 256);
    std::size_t firstZero = 0, secondZero = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        firstZero += bytes[2 * i] == '\0';
        secondZero += bytes[2 * i + 1] == '\0';
    }
    if (pairs == 0) return FileState::read;
    if (firstZero == 0 && secondZero * 2 >= pairs) return FileState::utf16;
    if (secondZero == 0 && firstZero * 2 >= pairs) {
        bigEndian = true;
        return FileState::utf16;
    }
    return FileState::read;
}

}  // namespace

FileBytes settingsBytesOf(std::string bytes) {
    FileBytes file;
    file.size = bytes.size();
    if (bytes.size() > kMaxSettingsBytes) {
        file.state = FileState::tooLarge;
        return file;
    }
    file.state = FileState::read;
    if (bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0) {
        file.state = FileState::utf16;
        file.byteOrderMark = true;
        file.bigEndian = bytes[0] == '\xFE';
    } else {
        file.state = utf16Shape(bytes, file.bigEndian);
    }
    if (file.state == FileState::read) file.bytes = std::move(bytes);
    return file;
}

FileBytes readSettingsBytes(const std::string& windowsPath) {
    FileBytes file;
    std::FILE* stream = os::openNative(os::nativePath(windowsPath.c_str()), "rb");
    if (!stream) return file;
    std::string bytes;
    char chunk[16384];
    for (std::size_t n; bytes.size() <= kMaxSettingsBytes &&
                        (n = std::fread(chunk, 1, sizeof chunk, stream)) > 0;)
        bytes.append(chunk, n);
    const bool failed = std::ferror(stream) != 0;
    std::fclose(stream);
    if (failed) return file;
    return settingsBytesOf(std::move(bytes));
}

void Reading::note(NoteKind kind, std::string section, std::string name, std::string detail,
                   const IniEntry* entry) {
    const std::int32_t index =
        entry ? static_cast<std::int32_t>(entry - ini.entries.data()) : std::int32_t{-1};
    if (index >= 0) used[static_cast<std::size_t>(index)] = true;
    notes.push_back({kind, std::move(section), std::move(name), std::move(detail), index});
}

void Reading::log(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    logLines.emplace_back(line);
}

Reading readSettings(std::string windowsPath, FileBytes file) {
    Reading reading;
    reading.path = std::move(windowsPath);
    reading.file = std::move(file);
    // Load says so of a file it cannot read; of one saved as UTF-16 it says nothing, as of lines
    // that do not parse.
    if (reading.file.state == FileState::unreadable || reading.file.state == FileState::tooLarge)
        reading.log("Could not read/parse config file %s", reading.path.c_str());
    if (!reading.read()) return reading;
    reading.ini = parseIni(reading.file.bytes);
    reading.used.assign(reading.ini.entries.size(), false);
    readKeys(reading);
    readMessages(reading);
    readSettingTable(reading);
    return reading;
}

bool loadSettings(const std::string& windowsPath) {
    const Reading reading = readSettings(windowsPath, readSettingsBytes(windowsPath));
    for (const std::string& line : reading.logLines) logLine("%s", line.c_str());
    applySettings(reading.inForce);
    return reading.read();
}

std::int32_t saturateToInt32(long value) {
    // long is 32 bits on Windows (nothing to do) and 64 bits here.
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

bool startsWithInteger(const std::string& text) {
    char* end = nullptr;
    (void)std::strtol(text.c_str(), &end, 0);
    return end > text.c_str();
}

std::int32_t readInteger(const std::string& text, std::int32_t fallback) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    return end > text.c_str() ? saturateToInt32(value) : fallback;
}

}  // namespace freeplot
