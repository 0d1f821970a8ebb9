// libFuzzer target: arbitrary bytes as the settings file, read through loadSettings and the
// settings checker exactly as the plugin and the checker read a file, then every invariant
// the rest of the plugin relies on is checked. Each input is also tried as a message format:
// a text the format check lets through must format safely with its value.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/checker.h"
#include "config/messages.h"
#include "config/settings.h"
#include "config/steps.h"

namespace {

std::string g_posixPath;
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
        std::snprintf(buffer, sizeof buffer, text.c_str(), 'X');
    // A text fit for no value holds no conversion at all.
    if (!freeplot::formatProblem(text.c_str(), FormatArg::none))
        std::snprintf(buffer, sizeof buffer, text.c_str(), static_cast<char*>(nullptr));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The plugin's log copies every line to standard output; keep the fuzzer's own output
    // readable.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    const char* tmp = std::getenv("TMPDIR");
    g_posixPath = std::string(tmp && *tmp ? tmp : "/tmp") + "/freeplot-fuzz-" +
                  std::to_string(getpid()) + ".ini";
    g_windowsPath = "Z:" + g_posixPath;
    for (char& c : g_windowsPath)
        if (c == '/') c = '\\';
    g_sink = std::fopen("/dev/null", "w");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(g_posixPath.c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    // checkSettings puts every default back and reads the file through loadSettings.
    const freeplot::SettingsCheck check = freeplot::checkSettings(g_windowsPath);
    FUZZ_CHECK(check.opened);
    freeplot::printSettingsCheck(check, g_sink);

    checkTable(freeplot::rotateSteps.count, freeplot::rotateSteps.index);
    checkTable(freeplot::moveSteps.count, freeplot::moveSteps.index);
    checkTable(freeplot::scaleSteps.count, freeplot::scaleSteps.index);
    for (const freeplot::KeyBinding& b : freeplot::keyBindings) FUZZ_CHECK(b.primary != 0);
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
