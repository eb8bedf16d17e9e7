// Answers the end-to-end tests' questions about windows that X tools cannot. Reads one command a line
// (UTF-8, tab-separated), answers with its output and a line "\x1e<exit code>" (0: the window was found):
//   boxes (title<TAB>text\x1f of each dialog box), press|click <title> <id>, window <class> (the client
//   area's screen x y, its width height, visible, style), children <class> (class x y width height),
//   post <class> <msg> <wparam> <lparam> (to a top-level window, else to a child of one), threads
//   (class<TAB>thread id of each top-level window), focus|activate <xid>.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string utf8(const std::wstring& s)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, &out[0], n, nullptr, nullptr);
    out.pop_back(); // the terminator
    return out;
}

std::wstring wide(const std::string& s)
{
    std::wstring out(s.size(), L'\0');
    out.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()),
                                                       &out[0], static_cast<int>(out.size()))));
    return out;
}

std::wstring text(HWND h, bool ofClass = false)
{
    wchar_t buf[4096] = {};
    ofClass ? GetClassNameW(h, buf, 256) : GetWindowTextW(h, buf, 4096);
    return buf;
}

std::wstring className(HWND h) { return text(h, true); }

std::vector<HWND> topLevel()
{
    std::vector<HWND> all;
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

HWND findTop(const std::wstring& cls, const std::wstring& title = std::wstring())
{
    for (HWND h : topLevel())
        if (className(h) == cls && (title.empty() || text(h) == title))
            return h;
    return nullptr;
}

// Wine keeps each top-level window's X window in this property; it is how an X
// window id from xdotool is matched with its HWND.
HWND fromXWindow(const std::wstring& xid)
{
    const uintptr_t want = static_cast<uintptr_t>(wcstoull(xid.c_str(), nullptr, 0));
    for (HWND h : topLevel())
        if (want && reinterpret_cast<uintptr_t>(GetPropW(h, L"__wine_x11_whole_window")) == want)
            return h;
    return nullptr;
}

int command(const std::vector<std::wstring>& a)
{
    auto arg = [&](size_t i) { return i < a.size() ? a[i] : std::wstring(); };
    auto number = [&](size_t i) { return wcstoull(arg(i).c_str(), nullptr, 0); };
    const std::wstring& cmd = a[0];
    if (cmd == L"boxes" || cmd == L"threads") {
        for (HWND h : topLevel())
            if (IsWindowVisible(h) && cmd == L"threads")
                std::printf("%s\t%lu\n", utf8(className(h)).c_str(), GetWindowThreadProcessId(h, nullptr));
            else if (IsWindowVisible(h) && className(h) == L"#32770")
                std::printf("%s\t%s\x1f", utf8(text(h)).c_str(), utf8(text(GetDlgItem(h, 0xFFFF))).c_str());
        return 0;
    }
    const bool byX = cmd == L"focus" || cmd == L"activate";
    HWND h = byX                                  ? fromXWindow(arg(1))
             : cmd == L"press" || cmd == L"click" ? findTop(L"#32770", arg(1))
                                                  : findTop(arg(1));
    if (cmd == L"focus") {
        HWND front = GetForegroundWindow();
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        HWND focus = front && GetGUIThreadInfo(GetWindowThreadProcessId(front, nullptr), &info)
                         ? info.hwndFocus
                         : nullptr;
        // Without a focus window a key arrives as WM_SYSKEYDOWN at the active window.
        return h && front == h && focus && (focus == h || IsChild(h, focus)) ? 0 : 1;
    }
    if (!h && cmd == L"post") // the first child of that class of any top-level window
        for (HWND top : topLevel())
            if (!h)
                h = FindWindowExW(top, nullptr, arg(1).c_str(), nullptr);
    if (!h)
        return 1;
    const int id = static_cast<int>(number(2));
    if (cmd == L"activate")
        return SetForegroundWindow(h) ? 0 : 1;
    if (cmd == L"click")
        return PostMessageW(GetDlgItem(h, id), BM_CLICK, 0, 0) ? 0 : 1;
    if (cmd == L"press")
        PostMessageW(h, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(h, id)));
    else if (cmd == L"post")
        PostMessageW(h, static_cast<UINT>(id), static_cast<WPARAM>(number(3)),
                     static_cast<LPARAM>(number(4)));
    else if (cmd == L"window") {
        RECT c;
        GetClientRect(h, &c);
        POINT origin = {0, 0};
        ClientToScreen(h, &origin);
        std::printf("%ld %ld %ld %ld %d %lld\n", origin.x, origin.y, c.right, c.bottom,
                    IsWindowVisible(h) ? 1 : 0, static_cast<long long>(GetWindowLongPtrW(h, GWL_STYLE)));
    } else if (cmd == L"children")
        EnumChildWindows(
            h,
            [](HWND c, LPARAM p) -> BOOL {
                HWND parent = reinterpret_cast<HWND>(p);
                RECT r;
                GetWindowRect(c, &r);
                MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
                if (GetParent(c) == parent)
                    std::printf("%s %ld %ld %ld %ld\n", utf8(className(c)).c_str(), r.left, r.top,
                                r.right - r.left, r.bottom - r.top);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(h));
    else
        return 2;
    return 0;
}

} // namespace

int main()
{
    _setmode(_fileno(stdout), _O_BINARY); // a box's text keeps its line breaks as they are
    char line[8192];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string s(line);
        s.erase(s.find_last_not_of("\r\n") + 1);
        std::vector<std::wstring> words;
        size_t start = 0;
        for (size_t tab; (tab = s.find('\t', start)) != std::string::npos; start = tab + 1)
            words.push_back(wide(s.substr(start, tab - start)));
        words.push_back(wide(s.substr(start)));
        std::printf("\x1e%d\n", command(words));
        std::fflush(stdout);
    }
    return 0;
}
