// The host as the plug-in sees it: interfaces, reference count, and what its
// construction and destruction set up and undo.

#include "TestHost.h"

#include "pluginterfaces/vst/ivstmidicontrollers.h"

#include <gtest/gtest.h>

using namespace PomaroTest;
using namespace Steinberg;

TEST(HostInterfaces, EveryBaseHandsOutTheSameInterfacesCountsThemAndDeletesAtZero)
{
    useTestModule();
    auto* host = new RecordingHost();
    FUnknown* const bases[] = {static_cast<Vst::IHostApplication*>(host), static_cast<IPlugFrame*>(host),
                               static_cast<Vst::IComponentHandler*>(host)};
    const struct
    {
        const TUID& iid;
        void* pointer; // null: refused
    } expected[] = {
        {IPlugFrame::iid, static_cast<IPlugFrame*>(host)},
        {Vst::IComponentHandler::iid, static_cast<Vst::IComponentHandler*>(host)},
        {FUnknown::iid, bases[0]},
        {Vst::IHostApplication::iid, bases[0]},
        {Vst::IMidiMapping::iid, nullptr},
        {IPlugView::iid, nullptr},
    };
    int32_t count = 1;
    for (FUnknown* base : bases) {
        for (const auto& e : expected) {
            void* obj = &obj; // anything but null
            EXPECT_EQ(base->queryInterface(e.iid, &obj), e.pointer ? kResultOk : kResultFalse);
            EXPECT_EQ(obj, e.pointer);
            EXPECT_EQ(host->refCount.load(), count += e.pointer != nullptr);
        }
    }
    EXPECT_EQ(host->queryInterface(IPlugFrame::iid, nullptr), kInvalidArgument);
    EXPECT_EQ(host->getName(nullptr), kResultOk);
    for (int i = 2; i < count; ++i)
        bases[i % 3]->release();
    EXPECT_EQ(host->refCount.load(), 2);

    const uint8_t volume[4] = {0xB0, 7, 127, 0}; // no controller is assigned before a plug-in says so
    EXPECT_FALSE(PomaroApp::decodeMidiMessage(host->midiCtrlMap, volume).hasParam);
    // Flush-to-zero and denormals-are-zero on the thread that made the host.
    EXPECT_EQ(_mm_getcsr() & 0xFFC0u, 0x9FC0u);
    // Deleted at zero, which unregisters the window classes so that another host can
    // register them again.
    auto registered = [] {
        WNDCLASSW wc{};
        int n = 0;
        for (const wchar_t* name : {L"HostWindow", L"VstWindow", L"KeyboardWindow"})
            n += GetClassInfoW(GetModuleHandleW(nullptr), name, &wc) != FALSE;
        return n;
    };
    EXPECT_EQ(bases[1]->release(), 1u);
    EXPECT_EQ(registered(), 3);
    EXPECT_EQ(bases[2]->release(), 0u);
    EXPECT_EQ(registered(), 0);
    drainThreadQueue();
}
