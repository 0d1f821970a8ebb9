#pragma once
// Shared fixture of the settings tests: writes settings files into a private folder, reads
// them as the plugin does and collects the log lines written meanwhile.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "common/log.h"
#include "config/ini_text.h"
#include "config/reading.h"
#include "config/settings.h"
#include "report/checker.h"

namespace freeplot::config_tests {

// A POSIX path as the Windows path the plugin would be given for it (drive Z:).
inline std::string windowsPathOf(const std::string& posixPath) {
    std::string out = "Z:" + posixPath;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

// Runs the settings checker on a file and returns its exit status and printout.
inline std::pair<int, std::string> runChecker(const std::string& posixPath) {
    const SettingsCheck check = checkSettings(windowsPathOf(posixPath), posixPath);
    std::FILE* out = std::tmpfile();
    const int status = printSettingsCheck(check, out);
    std::rewind(out);
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;)
        text.append(buffer, n);
    std::fclose(out);
    return {status, text};
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        restoreDefaultSettings();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::temp_directory_path() /
               ("freeplot-" + std::to_string(::getpid()) + "-" + info->test_suite_name() + "-" +
                info->name());
        std::filesystem::create_directories(dir_);
        setLogObserver([](const char* line,
                          void* self) { static_cast<SettingsTest*>(self)->log.emplace_back(line); },
                       this);
    }

    void TearDown() override {
        setLogObserver(nullptr, nullptr);
        restoreDefaultSettings();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // Writes `bytes` as a file and returns its POSIX path.
    std::string writeFile(const std::string& bytes, const std::string& name = "freeplot.ini") {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Writes the file and reads it through loadSettings, as the plugin's Load does.
    bool load(const std::string& bytes) { return loadSettings(windowsPathOf(writeFile(bytes))); }

    // The file's lines as the plugin reads them.
    static IniText parse(const std::string& bytes) { return parseIni(bytes); }

    std::vector<std::string> log;
    std::filesystem::path dir_;
};

}  // namespace freeplot::config_tests
