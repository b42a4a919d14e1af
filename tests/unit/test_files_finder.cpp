// The directory finder class on a directory made for the test.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <string>
#include <vector>
#include "builtins/FileFinder.h"

namespace {

struct FinderDir : ::testing::Test {
    std::string dir;
    void SetUp() override
    {
        char tmp[MAX_PATH];
        GetTempPathA(MAX_PATH, tmp);
        char full[MAX_PATH];
        GetFullPathNameA(tmp, MAX_PATH, full, nullptr);
        dir = std::string(full) + "kestrin_finder_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(dir.c_str(), nullptr);
        for (const char* n : {"a.txt", "b.txt", "c.log"}) {
            HANDLE h = CreateFileA((dir + "\\" + n).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            CloseHandle(h);
        }
    }
    void TearDown() override
    {
        for (const char* n : {"a.txt", "b.txt", "c.log"}) DeleteFileA((dir + "\\" + n).c_str());
        RemoveDirectoryA(dir.c_str());
    }
};

}

TEST_F(FinderDir, ListsEveryMatchOnceWithTheReadAheadAndKeepsTheRoot)
{
    CFileFinder f;
    ASSERT_TRUE(f.FindFirst((dir + "/*.txt").c_str()));
    EXPECT_EQ(f.GetFileName(), "");   // nothing moved to yet
    std::string root = f.root;
    std::replace(root.begin(), root.end(), '/', '\\');
    EXPECT_EQ(root, dir);

    std::vector<std::string> names;
    while (f.FindNext()) names.push_back(f.GetFileName());
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
    names.push_back(f.GetFileName());   // the last entry is found when the read-ahead fails
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt"}));

    f.Close();
    EXPECT_EQ(f.GetFileName(), "");
    EXPECT_FALSE(f.FindNext());   // no search any more

    // A finder can start again after it was closed.
    ASSERT_TRUE(f.FindFirst((dir + "\\c.log").c_str()));
    EXPECT_FALSE(f.FindNext());
    EXPECT_EQ(f.GetFileName(), "c.log");
}

TEST_F(FinderDir, FailedStartLeavesNothingOpenAndReportsTheReason)
{
    CFileFinder f;
    EXPECT_FALSE(f.FindFirst((dir + "\\*.none").c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(f.found, nullptr);
    EXPECT_EQ(f.next, nullptr);
    EXPECT_FALSE(f.FindNext());
    EXPECT_EQ(f.GetFileName(), "");

    // An empty pattern lists the current directory.
    EXPECT_TRUE(f.FindFirst(""));
    EXPECT_TRUE(f.FindNext());
    EXPECT_NE(f.GetFileName(), "");

    // A pattern beyond the path limit: no overrun of the entry's name field.
    std::string longName = dir + "\\" + std::string(400, 'x');
    EXPECT_FALSE(f.FindFirst(longName.c_str()));
    EXPECT_EQ(f.next, nullptr);
}
