// libFuzzer target: arbitrary bytes as the settings file, read through loadSettings and the
// settings checker exactly as the plugin and the checker read a file, then every invariant
// the rest of the plugin relies on is checked. Each input is also tried as a message format:
// a text the format check lets through must format safely with its value.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "report/checker.h"
#include "report/report.h"
#include "config/messages.h"
#include "config/settings.h"
#include "config/steps.h"

namespace {

// The input goes into one file on a memory-backed folder, unlinked as soon as it is made: the
// readers open it by its /proc/self/fd name, and nothing is left behind however the run ends.
int g_inputFd = -1;
std::string g_windowsPath;
std::FILE* g_sink = nullptr;

#define FUZZ_CHECK(cond)                                           \
    do {                                                           \
        if (!(cond)) {                                             \
            std::fprintf(stderr, "invariant broken: %s\n", #cond); \
            __builtin_trap();                                      \
        }                                                          \
    } while (0)

void checkTable(std::int32_t count, std::int32_t index) {
    FUZZ_CHECK(count >= 1 && count <= static_cast<std::int32_t>(freeplot::kStepCapacity));
    FUZZ_CHECK(index >= 0 && index < count);
}

void tryFormat(const std::string& text) {
    using freeplot::FormatArg;
    char buffer[freeplot::kMessageBufferSize];
    if (!freeplot::formatProblem(text.c_str(), FormatArg::real))
        std::snprintf(buffer, sizeof buffer, text.c_str(), 1.5);
    if (!freeplot::formatProblem(text.c_str(), FormatArg::integer))
        std::snprintf(buffer, sizeof buffer, text.c_str(), 150);
    if (!freeplot::formatProblem(text.c_str(), FormatArg::letter))
        std::snprintf(buffer, sizeof buffer, text.c_str(), 'X');
    // A text fit for no value holds no conversion at all.
    if (!freeplot::formatProblem(text.c_str(), FormatArg::none))
        std::snprintf(buffer, sizeof buffer, text.c_str(), static_cast<char*>(nullptr));
}

// A folder on memory for the input file: /dev/shm where there is one, else $TMPDIR or /tmp.
std::string inputFolder() {
    struct stat info {};
    if (stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The plugin's log copies every line to standard output; keep the fuzzer's own output
    // readable.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    std::string path = inputFolder() + "/freeplot-fuzz-XXXXXX";
    g_inputFd = mkstemp(path.data());
    if (g_inputFd < 0) std::abort();
    unlink(path.c_str());
    g_windowsPath = "Z:\\proc\\self\\fd\\" + std::to_string(g_inputFd);
    // The report is formatted in full for every input; a large buffer keeps that off the system.
    g_sink = std::fopen("/dev/null", "w");
    if (!g_sink) std::abort();
    static char sinkBuffer[1 << 16];
    std::setvbuf(g_sink, sinkBuffer, _IOFBF, sizeof sinkBuffer);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (ftruncate(g_inputFd, 0) != 0) std::abort();
    if (size && pwrite(g_inputFd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();

    // checkSettings puts every default back and reads the file through loadSettings.
    const freeplot::SettingsCheck check = freeplot::checkSettings(g_windowsPath);
    FUZZ_CHECK(check.opened);
    freeplot::printSettingsCheck(check, g_sink);

    checkTable(freeplot::rotateSteps.count, freeplot::rotateSteps.index);
    checkTable(freeplot::moveSteps.count, freeplot::moveSteps.index);
    checkTable(freeplot::scaleSteps.count, freeplot::scaleSteps.index);
    for (const freeplot::KeyBinding& b : freeplot::keyBindings) FUZZ_CHECK(b.primary != 0);
    // The drawing of the keys stays within 100 columns whatever the bindings.
    const std::string picture = freeplot::keyboardPicture();
    for (std::size_t at = 0, end; at < picture.size(); at = end + 1) {
        end = picture.find('\n', at);
        if (end == std::string::npos) end = picture.size();
        FUZZ_CHECK(end - at < 100);
    }
    FUZZ_CHECK(freeplot::settings.buildTimescale == freeplot::settings.buildTimescale);

    // Every message the handlers may format, with the values they pass.
    using freeplot::Msg;
    for (std::size_t i = 0; i < freeplot::kMessageCount; ++i)
        FUZZ_CHECK(freeplot::messageText(static_cast<Msg>(i)) != nullptr);
    auto formattedLength = [](const freeplot::FormattedText& text) {
        return std::strlen(text.c_str());
    };
    FUZZ_CHECK(formattedLength(freeplot::formatMessage(Msg::rotateStepChange,
                                                       freeplot::rotateSteps.current())) < 1024);
    FUZZ_CHECK(formattedLength(freeplot::formatMessage(Msg::moveStepChange,
                                                       freeplot::moveSteps.current())) < 1024);
    FUZZ_CHECK(formattedLength(freeplot::formatMessage(Msg::scaleStepChange,
                                                       freeplot::scaleSteps.current())) < 1024);
    FUZZ_CHECK(formattedLength(freeplot::formatMessage(Msg::axisChange, 'Z')) < 1024);
    FUZZ_CHECK(formattedLength(freeplot::formatMessage(Msg::scaleChange, -2147483647 - 1)) < 1024);

    tryFormat(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
