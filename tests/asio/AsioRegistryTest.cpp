// The installed-driver list: the registry walk with its edge cases, and openDriver.
#include "audio/AsioAudioDeviceList.h"
#include "audio/AsioAudioDevice.h"
#include "tests/asio/AsioTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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
    std::unique_ptr<CAudioDevice> device(list.createDevice(0));
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->getName(), nullptr);
    EXPECT_FALSE(device->open(nullptr));

    CAsioAudioDeviceList noRegistry(nullptr);
    EXPECT_EQ(noRegistry.getCount(), 0);
    EXPECT_EQ(noRegistry.getName(0), nullptr);
    EXPECT_EQ(noRegistry.createDevice(0), nullptr);
}

TEST(AsioDriverRegistryWalk, NamesFitTheirFieldAndUnusableDriversAreLeftOut)
{
    ScratchRegistry keys;
    const std::wstring dll = testDriverPath();
    keys.addClass(kClassALower, dll.c_str()); // a lower-case class key for upper-case texts
    keys.addClass(kClassB, dll.c_str());
    keys.addClass(L"{11111111-2222-3333-4444-55555555CCCC}", dll.c_str());    // and an upper-case one
    keys.addClass(L"{22222222-0000-0000-0000-000000000000}", L"C:\\windows"); // a folder
    keys.addClass(L"{33333333-0000-0000-0000-000000000000}", nullptr);        // no server key
    keys.addClass(L"{55555555-0000-0000-0000-000000000000}", L"C:\\nowhere\\missing-driver.dll");
    // Keys enumerate sorted; a null clsid leaves the value out, type 0 the description.
    const struct
    {
        const wchar_t* key;
        const wchar_t* clsid;
        DWORD type;
        std::wstring description;
        bool terminated;
        std::wstring listedAs; // empty: left out
    } drivers[] = {
        {L"01 First", kClassA, REG_SZ, L"First Driver", true, L"First Driver"},
        {L"02 No Description", kClassA, 0, L"", true, L"02 No Description"},
        {L"03 Long", kClassA, REG_SZ, std::wstring(200, L'L'), true, std::wstring(127, L'L')},
        {L"04 Longer Than The Read", kClassA, REG_SZ, std::wstring(300, L'M'), true,
         L"04 Longer Than The Read"},
        {L"05 Unterminated", kClassA, REG_SZ, L"Exact", false, L"Exact"},
        {L"06 Binary", kClassA, REG_BINARY, L"XYZ", false, L"06 Binary"},
        {L"07 Number", kClassA, REG_DWORD, L"AA", false, L"07 Number"},
        {L"08 Empty", kClassA, REG_SZ, L"", true, L"08 Empty"},
        {L"09 Same Case", kClassB, REG_SZ, L"same case", true, L"same case"},
        {L"10 Lower Text", L"{11111111-2222-3333-4444-55555555cccc}", REG_SZ, L"upper key", true,
         L"upper key"},
        {L"11 Mixed", L"{11111111-2222-3333-4444-55555555AaAa}", REG_SZ, L"mixed", true, L"mixed"},
        {L"12 Folder", L"{22222222-0000-0000-0000-000000000000}", REG_SZ, L"Folder", true, L""},
        {L"13 No Server", L"{33333333-0000-0000-0000-000000000000}", REG_SZ, L"No Server", true, L""},
        {L"14 Unregistered", L"{44444444-0000-0000-0000-000000000000}", REG_SZ, L"Unknown", true, L""},
        {L"15 Missing File", L"{55555555-0000-0000-0000-000000000000}", REG_SZ, L"Missing", true, L""},
        {L"16 No Class", nullptr, REG_SZ, L"No clsid", true, L""},
        {L"17 Good", kClassB, REG_SZ, L"Good", true, L"Good"},
    };
    std::vector<std::wstring> expected;
    for (const auto& d : drivers) {
        HKEY key = keys.addDriver(d.key, d.clsid, nullptr);
        if (d.type)
            ScratchRegistry::setRaw(key, L"description", d.type, d.description.c_str(),
                                    DWORD((d.description.size() + d.terminated) * sizeof(wchar_t)));
        RegCloseKey(key);
        if (!d.listedAs.empty())
            expected.push_back(d.listedAs);
    }
    HKEY wrongType = keys.addDriver(L"18 Wrong Type", nullptr, L"Wrong type");
    const DWORD value = 1;
    ScratchRegistry::setRaw(wrongType, L"clsid", REG_DWORD, &value, sizeof value);
    RegCloseKey(wrongType);

    AsioDriverRegistry registry;
    keys.load(registry);
    std::vector<std::wstring> listed;
    int32_t number = 0;
    for (const AsioDriverEntry* e = registry.pHead; e; e = e->pNext, ++number) {
        listed.push_back(e->name);
        EXPECT_EQ(e->number, number);
        EXPECT_EQ(std::wstring(e->dllPath), dll);
    }
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(registry.count, int32_t(expected.size()));
    EXPECT_EQ(name(registry.find(0)), L"First Driver");
    EXPECT_EQ(registry.find(registry.count), nullptr);
    CLSID classA;
    ASSERT_EQ(CLSIDFromString(kClassA, &classA), NOERROR);
    EXPECT_TRUE(IsEqualCLSID(registry.find(1)->clsid, classA));
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
