#pragma once
// Collects the plugin's log lines printed while it lives.

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "common/log.h"

namespace testlog {

struct Capture {
    std::vector<std::string> lines;
    Capture() {
        freeplot::setLogObserver(
            [](const char* line, void* self) {
                static_cast<Capture*>(self)->lines.emplace_back(line);
            },
            this);
    }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    ~Capture() { freeplot::setLogObserver(nullptr, nullptr); }
};

// printf into a std::string, for the expected lines.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline std::string
format(const char* fmt, ...) {
    char text[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

}  // namespace testlog
