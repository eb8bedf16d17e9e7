// The installed-driver list: the registry walk with its edge cases, and openDriver.
#include "audio/AsioAudioDeviceList.h"
#include "audio/AsioAudioDevice.h"
#include "tests/asio/AsioTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace Kelvane;

namespace {

const wchar_t* const kClassA = L"{11111111-2222-3333-4444-55555555AAAA}";
const wchar_t* const kClassALower = L"{11111111-2222-3333-4444-55555555aaaa}";
const wchar_t* const kClassB = L"{11111111-2222-3333-4444-55555555bbbb}";

std::wstring name(const AsioDriverEntry* e) { return e ? std::wstring(e->name) : std::wstring(L"<none>"); }

} // namespace

TEST(AsioDriverRegistryWalk, EmptyDriverListGivesAnEmptyListWhoseDevicesCannotOpen)
{
    ScratchRegistry keys;
    auto* registry = new AsioDriverRegistry;
    keys.load(*registry);
    CAsioAudioDeviceList list(registry);
    EXPECT_EQ(list.getCount(), 0);
    EXPECT_EQ(list.getName(0), nullptr);
    EXPECT_EQ(list.getName(-1), nullptr);
    CAudioDevice* device = list.createDevice(0);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->getName(), nullptr);
    EXPECT_FALSE(device->open(nullptr));
    delete device;

    CAsioAudioDeviceList noRegistry(nullptr);
    EXPECT_EQ(noRegistry.getCount(), 0);
    EXPECT_EQ(noRegistry.getName(0), nullptr);
    EXPECT_EQ(noRegistry.createDevice(0), nullptr);
}

TEST(AsioDriverRegistryWalk, NamesComeFromTheDescriptionOrTheKey)
{
    ScratchRegistry keys;
    const std::wstring dll = testDriverPath();
    keys.addClass(kClassALower, dll.c_str());
    RegCloseKey(keys.addDriver(L"First Key", kClassA, L"First Driver"));
    RegCloseKey(keys.addDriver(L"Second Key", kClassA, nullptr));
    AsioDriverRegistry registry;
    keys.load(registry);
    ASSERT_EQ(registry.count, 2);
    EXPECT_EQ(name(registry.find(0)), L"First Driver");
    EXPECT_EQ(name(registry.find(1)), L"Second Key");
    EXPECT_EQ(std::wstring(registry.find(0)->dllPath), dll);
    CLSID expected;
    ASSERT_EQ(CLSIDFromString(kClassA, &expected), NOERROR);
    EXPECT_TRUE(IsEqualCLSID(registry.find(1)->clsid, expected));
    EXPECT_EQ(registry.find(2), nullptr);
}

TEST(AsioDriverRegistryWalk, DescriptionsThatDoNotFitNeverOverrun)
{
    ScratchRegistry keys;
    keys.addClass(kClassALower, testDriverPath().c_str());
    const std::wstring long200(200, L'L');
    const std::wstring long300(300, L'M'); // larger than the 512-byte read
    RegCloseKey(keys.addDriver(L"A Long", kClassA, long200.c_str()));
    RegCloseKey(keys.addDriver(L"B Longer", kClassA, long300.c_str()));
    HKEY unterminated = keys.addDriver(L"C Unterminated", kClassA, nullptr);
    ScratchRegistry::setRaw(unterminated, L"description", REG_SZ, L"Exact", 5 * sizeof(wchar_t));
    RegCloseKey(unterminated);
    HKEY binary = keys.addDriver(L"D Binary", kClassA, nullptr);
    const unsigned char bytes[6] = {'X', 0, 'Y', 0, 'Z', 0};
    ScratchRegistry::setRaw(binary, L"description", REG_BINARY, bytes, sizeof bytes);
    RegCloseKey(binary);
    HKEY number = keys.addDriver(L"E Number", kClassA, nullptr);
    const DWORD value = 0x00410041;
    ScratchRegistry::setRaw(number, L"description", REG_DWORD, &value, sizeof value);
    RegCloseKey(number);
    HKEY empty = keys.addDriver(L"F Empty", kClassA, L"");
    RegCloseKey(empty);

    AsioDriverRegistry registry;
    keys.load(registry);
    ASSERT_EQ(registry.count, 6);
    EXPECT_EQ(name(registry.find(0)), std::wstring(127, L'L'));
    EXPECT_EQ(name(registry.find(1)), L"B Longer");
    EXPECT_EQ(name(registry.find(2)), L"Exact");
    EXPECT_EQ(name(registry.find(3)), L"D Binary");
    EXPECT_EQ(name(registry.find(4)), L"E Number");
    EXPECT_EQ(name(registry.find(5)), L"F Empty");
}

TEST(AsioDriverRegistryWalk, UnusableDriversAreLeftOutAndShiftTheNumbers)
{
    ScratchRegistry keys;
    keys.addClass(kClassALower, L"C:\\nowhere\\missing-driver.dll");
    keys.addClass(kClassB, testDriverPath().c_str());
    keys.addClass(L"{22222222-0000-0000-0000-000000000000}", L"C:\\windows"); // a folder
    keys.addClass(L"{33333333-0000-0000-0000-000000000000}", nullptr);        // no server key
    RegCloseKey(keys.addDriver(L"1 Missing File", kClassA, L"Missing"));
    RegCloseKey(keys.addDriver(L"2 Folder", L"{22222222-0000-0000-0000-000000000000}", L"Folder"));
    RegCloseKey(keys.addDriver(L"3 No Server", L"{33333333-0000-0000-0000-000000000000}", L"No Server"));
    RegCloseKey(keys.addDriver(L"4 Unregistered", L"{44444444-0000-0000-0000-000000000000}", L"Unknown"));
    RegCloseKey(keys.addDriver(L"5 No Class", nullptr, L"No clsid"));
    HKEY wrongType = keys.addDriver(L"6 Wrong Type", nullptr, L"Wrong type");
    const DWORD value = 1;
    ScratchRegistry::setRaw(wrongType, L"clsid", REG_DWORD, &value, sizeof value);
    RegCloseKey(wrongType);
    RegCloseKey(keys.addDriver(L"7 Good", kClassB, L"Good"));

    AsioDriverRegistry registry;
    keys.load(registry);
    ASSERT_EQ(registry.count, 1);
    EXPECT_EQ(name(registry.find(0)), L"Good");
    EXPECT_EQ(registry.pHead->number, 0);
    EXPECT_EQ(registry.pHead->pNext, nullptr);
}

TEST(AsioDriverRegistryWalk, ClassIdsMatchWhateverTheirCase)
{
    ScratchRegistry keys;
    keys.addClass(kClassALower, testDriverPath().c_str()); // lower-case class key
    keys.addClass(L"{11111111-2222-3333-4444-55555555BBBB}", testDriverPath().c_str()); // upper-case key
    RegCloseKey(keys.addDriver(L"Upper Text", kClassA, L"upper text, lower key"));
    RegCloseKey(keys.addDriver(L"Lower Text", kClassB, L"lower text, upper key"));
    RegCloseKey(keys.addDriver(L"Mixed Text", L"{11111111-2222-3333-4444-55555555AaAa}", L"mixed"));
    AsioDriverRegistry registry;
    keys.load(registry);
    ASSERT_EQ(registry.count, 3);
    EXPECT_EQ(name(registry.find(2)), L"upper text, lower key"); // keys enumerate sorted
    EXPECT_EQ(name(registry.find(0)), L"lower text, upper key");
    EXPECT_EQ(name(registry.find(1)), L"mixed");
}

TEST(AsioDriverRegistryWalk, ServerPathsThatDoNotFitNeverOverrun)
{
    ScratchRegistry keys;
    const std::wstring dll = testDriverPath();
    keys.addClass(kClassALower, L"placeholder");
    keys.addClass(kClassB, L"placeholder");
    RegCloseKey(keys.addDriver(L"A Unterminated", kClassA, L"Unterminated path"));
    RegCloseKey(keys.addDriver(L"B Too Long", kClassB, L"Too long path"));
    HKEY server = nullptr;
    ASSERT_EQ(RegOpenKeyExW(keys.clsidKey(), (std::wstring(kClassALower) + L"\\InprocServer32").c_str(), 0,
                            KEY_ALL_ACCESS, &server),
              ERROR_SUCCESS);
    // The real path, stored without its terminator.
    ScratchRegistry::setRaw(server, nullptr, REG_SZ, dll.c_str(), DWORD(dll.size() * sizeof(wchar_t)));
    RegCloseKey(server);
    ASSERT_EQ(RegOpenKeyExW(keys.clsidKey(), (std::wstring(kClassB) + L"\\InprocServer32").c_str(), 0,
                            KEY_ALL_ACCESS, &server),
              ERROR_SUCCESS);
    const std::wstring tooLong = dll + std::wstring(600, L'x');
    ScratchRegistry::setRaw(server, nullptr, REG_SZ, tooLong.c_str(),
                            DWORD((tooLong.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(server);

    AsioDriverRegistry registry;
    keys.load(registry);
    ASSERT_EQ(registry.count, 1);
    EXPECT_EQ(name(registry.find(0)), L"Unterminated path");
    EXPECT_EQ(std::wstring(registry.find(0)->dllPath), dll);

    wchar_t text[64];
    lstrcpyW(text, L"{11111111-2222-3333-4444-55555555BBBB}");
    wchar_t found[512];
    EXPECT_FALSE(findAsioDriverFile(keys.clsidKey(), text, found, 512));
    EXPECT_STREQ(text, kClassB) << "the text is lowered in place";
    EXPECT_EQ(found[0], 0);
}

TEST(AsioDriverRegistryOpen, ResultsForEveryCase)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    registerTestDriverClass();
    ScratchRegistry keys;
    keys.addClass(POMARO_TEST_ASIO_CLSID_TEXT, testDriverPath().c_str());
    keys.addClass(L"{not-a-class-id}", testDriverPath().c_str());
    RegCloseKey(keys.addDriver(L"A Test", POMARO_TEST_ASIO_CLSID_TEXT, L"Test Driver"));
    RegCloseKey(keys.addDriver(L"B Broken", L"{NOT-A-CLASS-ID}", L"Broken"));
    TestDriverHooks hooks;
    ASSERT_NE(hooks.module, nullptr);
    hooks.configure("");
    hooks.reset();

    auto* registry = new AsioDriverRegistry;
    keys.load(*registry);
    ASSERT_EQ(registry->count, 2);
    IAsioDriver* driver = nullptr;
    EXPECT_EQ(registry->openDriver(0, nullptr), kAsioOpenNoPointer);
    EXPECT_EQ(registry->openDriver(7, &driver), kAsioOpenNoEntry);
    EXPECT_EQ(driver, nullptr);

    // An unparsable class id still lists, but cannot be instantiated.
    const AsioDriverEntry* broken = registry->find(1);
    ASSERT_NE(broken, nullptr);
    EXPECT_TRUE(IsEqualCLSID(broken->clsid, CLSID_NULL));
    const int32_t failed = registry->openDriver(1, &driver);
    EXPECT_LT(failed, 0);
    EXPECT_EQ(registry->find(1)->pDriver, nullptr);

    ASSERT_EQ(registry->openDriver(0, &driver), 0);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(registry->find(0)->pDriver, driver);
    IAsioDriver* second = nullptr;
    EXPECT_EQ(registry->openDriver(0, &second), kAsioOpenInUse);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(registry->find(0)->pDriver, driver) << "the first instance stays";
    EXPECT_EQ(hooks.stats().instances, 1);
    EXPECT_EQ(hooks.stats().liveInstances, 1);

    // The list's destruction releases what its entries still hold.
    delete new CAsioAudioDeviceList(registry);
    EXPECT_EQ(hooks.stats().liveInstances, 0);
    hooks.configure(nullptr);
    CoUninitialize();
}
