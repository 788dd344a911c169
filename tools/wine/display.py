"""The X display of the Wine runs: finding the launcher's message box, and
closing it after a screenshot."""
import subprocess
import time


def window_named(title):
    """The X window with exactly this title, or None. (xdotool's own --name
    search does not match titles outside ASCII, so every name is compared.)"""
    windows = subprocess.run(['xdotool', 'search', '--name', '.'], capture_output=True, text=True).stdout.split()
    for window in windows:
        name = subprocess.run(['xdotool', 'getwindowname', window], capture_output=True).stdout
        if name.decode('utf-8', 'replace').strip() == title:
            return window
    return None


def close_after_screenshot(window, screenshot):
    """Saves the screen to `screenshot`, then answers the message box with Return."""
    time.sleep(0.5)  # let it paint
    subprocess.run(['import', '-window', 'root', screenshot], capture_output=True, timeout=30)
    subprocess.run(['xdotool', 'windowfocus', '--sync', window], capture_output=True, timeout=10)
    subprocess.run(['xdotool', 'key', '--window', window, 'Return'], capture_output=True, timeout=10)
    subprocess.run(['xdotool', 'key', 'Return'], capture_output=True, timeout=10)
