// A minimal host for proving the test plug-ins: the loader's calls in the loader's
// order, a short processing run on a second thread, and the unload, with the outcome
// of every step recorded by name.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace Steinberg {
class IPlugView;
namespace Vst {
class IEditController;
}
} // namespace Steinberg

namespace TestPlugins {

// Steps in the order they ran, each with its outcome (a tresult name, a count, ...).
using Outcome = std::vector<std::pair<std::string, std::string>>;

struct RunDetails
{
    unsigned long audioThreadId{0};
    float noteBlockPeak{0.f};
    std::vector<std::pair<unsigned, double>> performEdits; // from the editor, via IComponentHandler
    std::vector<int> restartFlags;
};

struct Hooks
{
    // After the processing run, before unloading: the editor's child window, if any.
    std::function<void(void* editorWindow)> whileLoaded;
    // After the processing run's blocks, while processing is still on.
    std::function<void()> whileProcessing;
};

std::wstring pluginPath(const std::wstring& variant);
std::wstring logPathFor(const std::wstring& variant); // POMARO_RECORDER_LOG is set to this
std::string resultName(long r);

Outcome runMiniHost(const std::wstring& variant, RunDetails* details = nullptr, const Hooks& hooks = {});

} // namespace TestPlugins
