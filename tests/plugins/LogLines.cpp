#include "tests/plugins/LogLines.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace TestPlugins {

std::vector<LogLine> readLog(const std::wstring& path)
{
    std::vector<LogLine> lines;
    std::string all;
    if (FILE* f = _wfopen(path.c_str(), L"rb")) {
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof(buf), f)) > 0;)
            all.append(buf, n);
        fclose(f);
    }
    std::istringstream file(all);
    for (std::string text; std::getline(file, text);) {
        const size_t arrow = text.rfind(" -> ");
        if (text.empty() || arrow == std::string::npos)
            continue;
        LogLine line;
        std::istringstream in(text.substr(0, arrow));
        in >> line.seq >> line.tid >> line.call;
        for (std::string token; in >> token;)
            if (token.find('=') != std::string::npos)
                line.args[token.substr(0, token.find('='))] = token.substr(token.find('=') + 1);
        line.result = text.substr(arrow + 4);
        lines.push_back(line);
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const LogLine& a, const LogLine& b) { return a.seq < b.seq; });
    return lines;
}

} // namespace TestPlugins
