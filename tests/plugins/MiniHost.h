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
	unsigned long audioThreadId {0};
	float noteBlockPeak {0.f};
	std::vector<std::pair<unsigned, double>> performEdits; // from the editor, via IComponentHandler
	std::vector<int> restartFlags;
};

// While the plug-in is loaded (before unloading): the editor's child window, if any.
using WhileLoaded = std::function<void (void* editorWindow)>;

std::wstring pluginPath (const std::wstring& variant);
std::wstring logPathFor (const std::wstring& variant); // POMARO_RECORDER_LOG is set to this
std::string resultName (long r);

Outcome runMiniHost (const std::wstring& variant, RunDetails* details = nullptr, const WhileLoaded& whileLoaded = {});

} // namespace TestPlugins
