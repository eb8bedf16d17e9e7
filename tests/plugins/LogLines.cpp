#include "tests/plugins/LogLines.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace TestPlugins {

LogLine parseLine(const std::string& text)
{
    LogLine line;
    line.text = text;
    const size_t arrow = text.rfind(" -> ");
    std::istringstream in(text.substr(0, arrow));
    in >> line.seq >> line.tid >> line.call;
    std::string token;
    while (in >> token) {
        const size_t eq = token.find('=');
        if (eq != std::string::npos)
            line.args[token.substr(0, eq)] = token.substr(eq + 1);
    }
    if (arrow != std::string::npos)
        line.result = text.substr(arrow + 4);
    return line;
}

std::vector<LogLine> readLog(const std::wstring& path)
{
    std::vector<LogLine> lines;
    std::string all;
    if (FILE* f = _wfopen(path.c_str(), L"rb")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
            all.append(buf, n);
        fclose(f);
    }
    std::istringstream in(all);
    std::string text;
    while (std::getline(in, text))
        if (!text.empty())
            lines.push_back(parseLine(text));
    std::stable_sort(lines.begin(), lines.end(),
                     [](const LogLine& a, const LogLine& b) { return a.seq < b.seq; });
    return lines;
}

std::vector<LogLine> select(const std::vector<LogLine>& lines, const std::string& call)
{
    std::vector<LogLine> out;
    for (const LogLine& l : lines)
        if (l.call == call)
            out.push_back(l);
    return out;
}

bool contains(const std::vector<LogLine>& lines, const std::string& call)
{
    return !select(lines, call).empty();
}

} // namespace TestPlugins
