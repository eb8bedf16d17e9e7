#pragma once
// Where the instrument's module is loaded from: "VST3\Pomaro.vst3" in the program's
// own folder, as an absolute path, so neither the current directory nor PATH can
// substitute another module.

#include <string>

namespace PomaroApp {

// The path as the log shows it.
constexpr wchar_t kPluginRelativePath[] = L"VST3\\Pomaro.vst3";

// The absolute module path beside the program's executable; empty when the program's
// own path cannot be read.
std::wstring pluginModulePath();

} // namespace PomaroApp
