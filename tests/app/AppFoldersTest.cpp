// The application folders: created with their parents, found when present, refused
// when a file stands in the way. That the program makes them in a new profile is the
// end-to-end tests'.

#include "app/AppFolders.h"

#include <knownfolders.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace PomaroApp;

TEST(Folders, ParentsAreCreatedAPresentFolderIsAcceptedAndAFileInTheWayFails)
{
    const std::wstring root =
        (std::filesystem::temp_directory_path() / ("pomaro-folders-" + std::to_string(GetCurrentProcessId())))
            .wstring();
    ASSERT_TRUE(CreateDirectoryTree((root + L"\\a\\b\\c\\").c_str()));
    EXPECT_TRUE(PathIsDirectoryW((root + L"\\a\\b\\c").c_str()));
    EXPECT_TRUE(CreateDirectoryTree((root + L"\\a\\b\\c\\").c_str())); // present
    const std::wstring file = root + L"\\blocked";
    CloseHandle(
        CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(PathFileExistsW(file.c_str()));
    EXPECT_FALSE(CreateDirectoryTree(file.c_str()));
    EXPECT_FALSE(CreateDirectoryTree((file + L"\\below\\").c_str()));
    wchar_t destination[MAX_PATH] = {};
    EXPECT_FALSE(GetKnownSubFolder(nullptr, FOLDERID_Documents, L"x", nullptr));
    EXPECT_FALSE(GetKnownSubFolder(destination, FOLDERID_Documents, nullptr, nullptr));
    std::filesystem::remove_all(root);

    ASSERT_TRUE(PrepareAppFolders());
    const std::wstring tuning(tuningFolder); // the end-to-end tests read the log in the other
    EXPECT_EQ(tuning.substr(tuning.size() - 23), L"\\Kelvane\\Pomaro\\Tuning\\");
}
