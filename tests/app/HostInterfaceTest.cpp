// The host as the plug-in sees it: interfaces, reference count and name.

#include "TestHost.h"

#include "pluginterfaces/vst/ivstmidicontrollers.h"

#include <gtest/gtest.h>

#include <string>

using namespace PomaroTest;
using namespace Steinberg;

namespace {

class Interfaces : public ::testing::Test
{
protected:
    void SetUp() override
    {
        useTestModule();
        host = new RecordingHost(&deleted);
    }
    void TearDown() override
    {
        while (!deleted && host->release() != 0) {
        }
        drainThreadQueue();
    }

    // The same request through each of the three plug-in-facing bases.
    FUnknown* base(int i)
    {
        switch (i) {
        case 0:
            return static_cast<Vst::IHostApplication*>(host);
        case 1:
            return static_cast<IPlugFrame*>(host);
        default:
            return static_cast<Vst::IComponentHandler*>(host);
        }
    }

    bool deleted = false;
    RecordingHost* host = nullptr;
};

} // namespace

TEST_F(Interfaces, EveryBaseHandsOutTheSameInterfacesAndCountsThem)
{
    struct Expected
    {
        const TUID& iid;
        void* pointer;
    };
    void* primary = static_cast<Vst::IHostApplication*>(host);
    const Expected expected[] = {
        {IPlugFrame::iid, static_cast<IPlugFrame*>(host)},
        {Vst::IComponentHandler::iid, static_cast<Vst::IComponentHandler*>(host)},
        {FUnknown::iid, primary},
        {Vst::IHostApplication::iid, primary},
    };
    int32_t count = 1;
    for (int b = 0; b < 3; ++b) {
        for (const Expected& e : expected) {
            void* obj = nullptr;
            ASSERT_EQ(base(b)->queryInterface(e.iid, &obj), kResultOk);
            EXPECT_EQ(obj, e.pointer) << "base " << b;
            EXPECT_EQ(host->refCount.load(), ++count);
        }
    }
    for (int i = 1; i < count; ++i)
        host->release();
    EXPECT_EQ(host->refCount.load(), 1);
}

TEST_F(Interfaces, UnknownInterfacesAreRefusedWithResultFalseAndNull)
{
    for (const TUID* iid :
         {&Vst::IMidiMapping::iid.toTUID(), &Vst::IAudioProcessor::iid.toTUID(), &IPlugView::iid.toTUID()}) {
        void* obj = &obj; // anything but null
        EXPECT_EQ(base(1)->queryInterface(*iid, &obj), kResultFalse);
        EXPECT_EQ(obj, nullptr);
    }
    EXPECT_EQ(host->refCount.load(), 1);
    EXPECT_EQ(host->queryInterface(IPlugFrame::iid, nullptr), kInvalidArgument);
}

TEST_F(Interfaces, ReleaseThroughAnyBaseDeletesAtZero)
{
    EXPECT_EQ(base(2)->addRef(), 2u);
    EXPECT_EQ(base(1)->release(), 1u);
    EXPECT_FALSE(deleted);
    EXPECT_EQ(base(0)->release(), 0u);
    EXPECT_TRUE(deleted);
}

TEST_F(Interfaces, NameIsTheProductName)
{
    Vst::String128 name;
    for (auto& c : name)
        c = u'x';
    ASSERT_EQ(host->getName(name), kResultOk);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name)), u"Pomaro");
    EXPECT_EQ(host->getName(nullptr), kResultOk);
}

TEST_F(Interfaces, ConstructionSetsTheStartingStateAndDestructionUndoesIt)
{
    EXPECT_EQ(host->keyboard.owner, host);
    EXPECT_EQ(host->midiRing.capacity.load(), 0); // the ring gets its entries with the device
    const uint8_t volume[4] = {0xB0, 7, 127, 0};  // no controller is assigned before a plug-in says so
    EXPECT_FALSE(PomaroApp::decodeMidiMessage(host->midiCtrlMap, volume).hasParam);
    // Flush-to-zero and denormals-are-zero on the thread that made the host.
    EXPECT_EQ(_mm_getcsr() & 0xFFC0u, 0x9FC0u);
    const wchar_t* classes[] = {L"HostWindow", L"VstWindow", L"KeyboardWindow"};
    WNDCLASSW wc{};
    for (const wchar_t* name : classes)
        EXPECT_TRUE(GetClassInfoW(GetModuleHandleW(nullptr), name, &wc)) << name;
    host->release();
    ASSERT_TRUE(deleted);
    for (const wchar_t* name : classes)
        EXPECT_FALSE(GetClassInfoW(GetModuleHandleW(nullptr), name, &wc)) << name;
}
