// Reads the recorder's log (format documented in plugins/recorder/RecorderEntry.cpp).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace TestPlugins {

struct LogLine
{
    unsigned long seq{0};
    unsigned long tid{0};
    std::string call; // "<object>.<method>"
    std::map<std::string, std::string> args;
    std::string result;

    std::string arg(const std::string& key) const
    {
        auto it = args.find(key);
        return it == args.end() ? std::string() : it->second;
    }
};

// Lines sorted by seq (the order in which the calls began).
std::vector<LogLine> readLog(const std::wstring& path);

} // namespace TestPlugins
