// The application folders: created with their parents, found when present, refused
// when a file stands in the way.

#include "app/AppFolders.h"

#include <knownfolders.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>

using namespace PomaroApp;

namespace {

class Folders : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        root = std::wstring(temp) + L"pomaro-folders-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    }
    void TearDown() override
    {
        std::wstring from = root;
        from.push_back(L'\0'); // double-terminated list
        SHFILEOPSTRUCTW op{};
        op.wFunc = FO_DELETE;
        op.pFrom = from.c_str();
        op.fFlags = FOF_NO_UI;
        SHFileOperationW(&op);
    }
    std::wstring root;
};

} // namespace

TEST_F(Folders, ParentsAreCreatedAPresentFolderIsAcceptedAndAFileInTheWayFails)
{
    ASSERT_TRUE(CreateDirectoryTree((root + L"\\a\\b\\c\\").c_str()));
    EXPECT_TRUE(PathIsDirectoryW((root + L"\\a\\b\\c").c_str()));
    EXPECT_TRUE(CreateDirectoryTree((root + L"\\a\\b\\c\\").c_str())); // present
    EXPECT_TRUE(CreateDirectoryTree((root + L"\\a").c_str()));         // present, no backslash
    const std::wstring file = root + L"\\blocked";
    CloseHandle(
        CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(PathFileExistsW(file.c_str()));
    EXPECT_FALSE(CreateDirectoryTree(file.c_str()));
    EXPECT_FALSE(CreateDirectoryTree((file + L"\\below\\").c_str()));
    EXPECT_FALSE(PathIsDirectoryW(file.c_str()));
}

// The leaf, the closing backslash and the nested creation show in the tuning folder.
TEST_F(Folders, KnownSubFoldersEndWithABackslashAndExist)
{
    wchar_t destination[MAX_PATH] = {};
    EXPECT_FALSE(GetKnownSubFolder(nullptr, FOLDERID_Documents, L"x", nullptr));
    EXPECT_FALSE(GetKnownSubFolder(destination, FOLDERID_Documents, nullptr, nullptr));
    ASSERT_TRUE(PrepareAppFolders());
    EXPECT_TRUE(foldersReady);
    const std::wstring documents(documentsFolder), tuning(tuningFolder);
    EXPECT_EQ(documents.substr(documents.size() - 8), L"\\Pomaro\\");
    EXPECT_EQ(tuning.substr(tuning.size() - 23), L"\\Kelvane\\Pomaro\\Tuning\\");
    EXPECT_TRUE(PathIsDirectoryW(documentsFolder) && PathIsDirectoryW(tuningFolder));
}
