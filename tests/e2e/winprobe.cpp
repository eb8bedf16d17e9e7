// winprobe serve: reads commands for the end-to-end tests, one a line (UTF-8, tab-separated), and
// answers each with its UTF-8 output and a line "\x1e<exit code>" (0: found). X tools see neither
// dialog texts nor client rectangles. Commands: boxes (title<TAB>text per visible dialog box),
// press <title> [id], window <class> [title] (outer and client rectangle), children <class> [title],
// post <class> <msg> <wparam> <lparam>, threads (class<TAB>thread id per visible top-level window),
// focus <xid> (whether keys typed now reach the window whose X window is <xid>; prints what is in
// front either way), activate <xid>.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string utf8(const wchar_t* s)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::wstring text(HWND h)
{
    wchar_t buf[4096] = {};
    GetWindowTextW(h, buf, 4096);
    return buf;
}

std::wstring className(HWND h)
{
    wchar_t buf[256] = {};
    GetClassNameW(h, buf, 256);
    return buf;
}

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

// Escapes line ends so that one box stays one line.
std::string oneLine(const std::wstring& s)
{
    std::string out;
    for (char c : utf8(s.c_str())) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

HWND findTop(const wchar_t* cls, const wchar_t* title)
{
    for (HWND h : topLevel()) {
        if (className(h) != cls)
            continue;
        if (title && text(h) != title)
            continue;
        return h;
    }
    return nullptr;
}

// Wine keeps each top-level window's X window in this property; it is how an X
// window id from xdotool is matched with its HWND.
HWND fromXWindow(const wchar_t* xid)
{
    const uintptr_t want = static_cast<uintptr_t>(wcstoull(xid, nullptr, 0));
    for (HWND h : topLevel()) {
        if (want && reinterpret_cast<uintptr_t>(GetPropW(h, L"__wine_x11_whole_window")) == want)
            return h;
    }
    return nullptr;
}

std::wstring wide(const std::string& s)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
    if (n <= 1)
        return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, &out[0], n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::string describe(HWND h)
{
    if (!h)
        return "-";
    char handle[32];
    std::snprintf(handle, sizeof handle, "%p ", static_cast<void*>(h));
    return handle + utf8(className(h).c_str()) + " \"" + utf8(text(h).c_str()) + "\"";
}

int command(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    std::wstring cmd = argv[1];
    if (cmd == L"boxes") {
        int found = 0;
        for (HWND h : topLevel()) {
            if (className(h) != L"#32770" || !IsWindowVisible(h))
                continue;
            HWND st = GetDlgItem(h, 0xFFFF);
            std::printf("%s\t%s\n", oneLine(text(h)).c_str(), st ? oneLine(text(st)).c_str() : "");
            ++found;
        }
        return found ? 0 : 1;
    }
    if (cmd == L"threads") {
        for (HWND h : topLevel())
            if (IsWindowVisible(h))
                std::printf("%s\t%lu\n", utf8(className(h).c_str()).c_str(),
                            GetWindowThreadProcessId(h, nullptr));
        return 0;
    }
    if (cmd == L"press" && argc >= 3) {
        int id = argc >= 4 ? _wtoi(argv[3]) : IDOK;
        for (HWND h : topLevel()) {
            if (className(h) != L"#32770" || text(h) != argv[2])
                continue;
            PostMessageW(h, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(h, id)));
            return 0;
        }
        return 1;
    }
    if (cmd == L"window" && argc >= 3) {
        HWND h = findTop(argv[2], argc >= 4 ? argv[3] : nullptr);
        if (!h)
            return 1;
        RECT w, c;
        GetWindowRect(h, &w);
        GetClientRect(h, &c);
        std::printf("window %ld %ld %ld %ld client %ld %ld visible %d style %08lx\n", w.left, w.top,
                    w.right - w.left, w.bottom - w.top, c.right, c.bottom, IsWindowVisible(h) ? 1 : 0,
                    static_cast<unsigned long>(GetWindowLongPtrW(h, GWL_STYLE)));
        return 0;
    }
    if (cmd == L"children" && argc >= 3) {
        HWND h = findTop(argv[2], argc >= 4 ? argv[3] : nullptr);
        if (!h)
            return 1;
        EnumChildWindows(
            h,
            [](HWND c, LPARAM p) -> BOOL {
                HWND parent = reinterpret_cast<HWND>(p);
                if (GetParent(c) != parent)
                    return TRUE;
                RECT r;
                GetWindowRect(c, &r);
                MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
                std::printf("%s %ld %ld %ld %ld\n", utf8(className(c).c_str()).c_str(), r.left, r.top,
                            r.right - r.left, r.bottom - r.top);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(h));
        return 0;
    }
    if (cmd == L"post" && argc >= 6) {
        HWND h = findTop(argv[2], nullptr);
        if (!h)
            return 1;
        PostMessageW(h, static_cast<UINT>(wcstoul(argv[3], nullptr, 0)),
                     static_cast<WPARAM>(wcstoull(argv[4], nullptr, 0)),
                     static_cast<LPARAM>(wcstoll(argv[5], nullptr, 0)));
        return 0;
    }
    if (cmd == L"focus" && argc >= 3) {
        HWND target = fromXWindow(argv[2]);
        HWND front = GetForegroundWindow();
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        HWND focus = front && GetGUIThreadInfo(GetWindowThreadProcessId(front, nullptr), &info)
                         ? info.hwndFocus
                         : nullptr;
        std::printf("target %s\nforeground %s\nfocus %s\n", describe(target).c_str(), describe(front).c_str(),
                    describe(focus).c_str());
        // Without a focus window a key arrives as WM_SYSKEYDOWN at the active window.
        const bool inside = focus && (focus == target || IsChild(target, focus));
        return target && front == target && inside ? 0 : 1;
    }
    if (cmd == L"activate" && argc >= 3) {
        HWND target = fromXWindow(argv[2]);
        return target && SetForegroundWindow(target) ? 0 : 1;
    }
    return 2;
}

int serve()
{
    char line[8192];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
            s.pop_back();
        std::vector<std::wstring> words{L"winprobe"};
        for (size_t start = 0;;) {
            const size_t tab = s.find('\t', start);
            words.push_back(wide(s.substr(start, tab == std::string::npos ? tab : tab - start)));
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        std::vector<wchar_t*> args;
        for (std::wstring& w : words)
            args.push_back(&w[0]);
        args.push_back(nullptr);
        const int rc = command(static_cast<int>(words.size()), args.data());
        std::printf("\x1e%d\n", rc);
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    return argc == 2 && std::wstring(argv[1]) == L"serve" ? serve() : command(argc, argv);
}
