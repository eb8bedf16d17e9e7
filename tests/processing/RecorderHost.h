#pragma once
// A CHost holding the recorder test plug-in as the loader leaves it (created,
// initialised: state 2).

#include "app/Host.h"
#include "tests/plugins/LogLines.h"

#include <string>
#include <vector>

namespace ProcessingTest {

// Loads testplugins\<variant>.vst3 into host (hModule, pComponent, pProcessor) and
// initialises the component; the recorder writes its log to logPath().
bool loadRecorder(PomaroApp::CHost& host, const std::wstring& variant);
std::wstring recorderLogPath(const std::wstring& variant);

// The recorder's calls of the given names, in the order they began.
std::vector<TestPlugins::LogLine> recorderCalls(const std::wstring& variant,
                                                const std::vector<std::string>& calls);
// "<call> <arg>=<value>" shorthand of a line, for comparing sequences.
std::string brief(const TestPlugins::LogLine& line, const char* arg = nullptr);

} // namespace ProcessingTest
