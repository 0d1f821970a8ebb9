// The game's path and folder as the plugin finds them: from the running program's own path.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/runtime_paths.h"
#include "os/os.h"

using namespace freeplot;

TEST(RuntimePaths, TheProgramsPathAndFolderNameAnExistingFile) {
    char expected[4096];
    ASSERT_GT(os::mainModuleFileName(expected, sizeof expected), 0u);
    const std::string path = appPath();
    EXPECT_EQ(path, expected);
    std::FILE* program = std::fopen(os::nativePath(path.c_str()).c_str(), "rb");
    EXPECT_NE(program, nullptr) << path;
    if (program) std::fclose(program);

    const std::string& directory = appDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(directory.back(), '\\');
    EXPECT_EQ(path.rfind(directory, 0), 0u);
    EXPECT_EQ(path.find('\\', directory.size()), std::string::npos);
    // Asked again, the same text.
    EXPECT_EQ(&appDirectory(), &directory);
    EXPECT_EQ(appDirectory(), directory);
}
