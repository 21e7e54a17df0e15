"""A display of its own for Windows programs under Wine, in Xvfb."""
import os
import shutil
import subprocess
import tempfile

import screen


def windows_path(path):
    """The path as Wine's Z: drive (the whole Unix tree) names it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def stop_wine():
    server = "/usr/lib/wine/wineserver64"
    subprocess.run([server if os.path.exists(server) else "wineserver", "-k"],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def start_display(test_class, size=None):
    """Starts Xvfb for the whole class (its screen `size` as "WxH", the screenshots' size when not
    given), with Wine's server restarted to use it.

    Wine's desktop process, which every window needs, starts with the first window and stays
    bound to that display, so the prefix's server is stopped before and after. Returns the folder
    of the screen's frame buffer."""
    folder = tempfile.mkdtemp(prefix="muvra-wine-screen-")
    test_class.addClassCleanup(shutil.rmtree, folder, ignore_errors=True)
    stop_wine()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                             f"{size or f'{screen.WIDTH}x{screen.HEIGHT}'}x24", "-fbdir", folder],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    os.environ["DISPLAY"] = ":" + xvfb.stdout.readline().strip()
    os.environ.pop("XAUTHORITY", None)

    def stop():
        stop_wine()
        xvfb.terminate()
        xvfb.wait()
        xvfb.stdout.close()
    test_class.addClassCleanup(stop)
    return folder
