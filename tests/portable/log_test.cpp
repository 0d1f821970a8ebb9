// The log file under the documents folder: the folders made on the way, the share-deny-write
// open, and the numbered names taken while other openers hold the earlier ones. The folder is
// named in letters no ANSI code page of the West holds, as a user's folder is in much of the
// world: the log must be written there all the same.

#include "common/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "os/os.h"
#include "test_memory.h"

using namespace freeplot;

namespace {
// The log is a text stream: its line end is the platform's.
#if defined(_WIN32)
constexpr const char* kEol = "\r\n";
#else
constexpr const char* kEol = "\n";
#endif
}  // namespace

TEST(Log, OpensUnderTheDocumentsFolderAndFallsBackToNumberedNames) {
    const testmem::Scratch folder;
    const std::string& scratch = folder.path;
    ASSERT_FALSE(scratch.empty());
    const std::string user = "Документы 文档";
    testmem::DocumentsIn here(scratch + user + scratch.back());
    char docs[os::kMaxPathUtf8];
    ASSERT_EQ(os::documentsFolder(docs), 0);
    ASSERT_NE(std::string(docs).find(user), std::string::npos) << docs;
    const std::string path = std::string(docs) + "\\My Games\\Fallout4\\F4SE\\freeplot_plugin.log";
    const std::string native = os::nativePath(path.c_str());
    auto name = [&](int i) { return i < 0 ? native : native + std::to_string(i); };
    for (int i = -1; i < 5; ++i) ASSERT_TRUE(testmem::removeFile(name(i))) << name(i);

    // The folders on the way are made, the file is opened and each line lands in it.
    logOpen();
    logLine("first line");
    logLine("%s", "");
    EXPECT_EQ(testmem::readFile(native), std::string("first line") + kEol + kEol);

    // While the file is held by another opener (here the earlier opening, which stays open), a
    // new opening takes the name with 0 appended, then 1, and so on up to 4.
    ASSERT_EQ(os::openShareDenyWrite(path.c_str()), nullptr) << "the log holds its file";
    logOpen();
    logLine("in zero");
    for (int i = 1; i < 5; ++i) {
        logOpen();
        logLine("in %d", i);
    }
    EXPECT_EQ(testmem::readFile(name(0)), std::string("in zero") + kEol);
    for (int i = 1; i < 5; ++i)
        EXPECT_EQ(testmem::readFile(name(i)), "in " + std::to_string(i) + kEol) << i;
    EXPECT_EQ(testmem::readFile(native), std::string("first line") + kEol + kEol)
        << "a held file is left as it was";

    // With all six names held the log stays closed and lines go to standard output only.
    logOpen();
    logLine("nowhere");
    for (int i = -1; i < 5; ++i)
        EXPECT_EQ(testmem::readFile(name(i)).find("nowhere"), std::string::npos) << i;
}
