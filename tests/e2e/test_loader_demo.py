"""The program with its demo instrument: the editor appears above the 30-pixel strip
in a frame whose client area is the editor's size plus 30 pixels; the log shows the
load before the run's second separator; File > Exit and the close box both end the
run through the message loop, unloading the instrument, with exit code 0."""
import os

from pomaro_e2e import BIN_DIR, Session, check, install_program, run_test, wait_for

WM_CLOSE = 0x0010
WM_COMMAND = 0x0111
SEP = "-" * 40


def start_and_wait(s, exe):
    p = s.start(exe)
    # A session without an audio device shows the no-driver box first.
    title, text = s.wait_box(60, proc=p)[0]
    check(text == "オーディオドライバが使用できません。\r\n", "unexpected box %r" % text)
    s.press_box(title)
    s.wait_window("^Pomaro$", 60, proc=p)
    wait_for(lambda: (s.window_info("HostWindow") or {}).get("visible"), 30, what="the frame to be shown")
    return p


def check_layout(s):
    frame = s.window_info("HostWindow")
    kids = {c[0]: c for c in s.children("HostWindow")}
    check("VstWindow" in kids and "KeyboardWindow" in kids, "children %r" % kids)
    _, vx, vy, vw, vh = kids["VstWindow"]
    _, kx, ky, kw, kh = kids["KeyboardWindow"]
    check((vx, vy) == (0, 0), "editor at the top left")
    check(frame["client_width"] == vw and frame["client_height"] == vh + 30,
          "client %dx%d for editor %dx%d" % (frame["client_width"], frame["client_height"], vw, vh))
    check((kw, kh) == (591, 30) and ky == vh and kx == (vw - 591) // 2 if vw >= 591 else True,
          "keyboard strip at %r" % (kids["KeyboardWindow"],))
    return vw, vh


def ended(s, p):
    wait_for(lambda: p.poll() is not None, 30, what="the program to end")
    check(p.returncode == 0, "exit code %r" % p.returncode)
    lines = [l[13:] for l in s.log_text().split("\r\n") if l]
    loaded = lines.index("VSTiプラグインを読み込みました : VST3\\Pomaro.vst3")
    seps = [i for i, l in enumerate(lines) if l == SEP]
    check(len(seps) >= 3 and seps[0] < loaded < seps[1], "load line between the first two separators:\n%s"
          % "\n".join(lines))
    unload = lines.index("VSTiプラグインをアンロードしました。")
    check(seps[1] < unload < seps[-1] and lines[-1] == SEP, "unload after the loop, then the closing separator")
    return lines


def main():
    plugin = os.path.join(BIN_DIR, "VST3", "Pomaro.vst3")
    with Session("loader_demo", lang="ja_JP.UTF-8") as s:
        exe = install_program(os.path.join(s.dir, "app"), plugin)
        p = start_and_wait(s, exe)
        vw, vh = check_layout(s)
        check(vw >= 300 and vh >= 200, "the demo editor has its own size, not 10x10: %dx%d" % (vw, vh))
        s.screenshot(os.path.join(s.dir, "editor.png"))
        s.post("HostWindow", WM_COMMAND, 40001, 0)  # File > Exit
        ended(s, p)

        # The close box takes the same road.
        p = start_and_wait(s, exe)
        s.post("HostWindow", WM_CLOSE, 0, 0)
        ended(s, p)


run_test(main)
