"""Running one exported machine (kestlo-standin-run --export) with the real
executable under trace_collector.exe, and having the host tool check what an
observer saw (kestlo-standin-run --check-wine): the trace byte for byte, the
program started and its command line, the message box, the exit code, and the
replay of reg.exe's exports of the machine."""
import json
import os
import shutil
import subprocess

from prefix import DOWNLOADS, TOOLS, host_path

COLLECT_TIMEOUT = 40        # seconds the launcher and the browser it starts may run
STARTED_LOG = r'C:\kestlo-e2e\started.log'  # written by tools/windows/fake_browser.cpp
# The two keys a member exports for support (README, Support), as reg.exe names them.
MEMBER_KEYS = (('machine', r'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'),
               ('user', r'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall'))


def export_member_keys(prefix, name, work):
    """Wine's own reg.exe exports the two keys as a member would; a key the
    machine lacks gives no file. Returns the host tool's --reg options."""
    options = []
    for part, key in MEMBER_KEYS:
        out = os.path.join(work, f'{name}.{part}.reg')
        if os.path.exists(out):
            os.remove(out)
        view = prefix.view_options() if part == 'machine' else []
        if prefix.wine('reg', 'export', key, host_path(out), *view, '/y')[0] == 0:
            options += ['--reg', out]
    return options


def run(prefix, export_dir, name, source, work, standin_run):
    """Imports the machine, runs the launcher, exports the keys, undoes the
    import, and checks. `source` names the machine for the host tool (a
    scenario file, or --random SEED). Returns (passed, the host tool's report)."""
    base = os.path.join(export_dir, name)
    with open(base + '.json', encoding='utf-8') as f:
        files = json.load(f)['files']
    views = [(view, other) for view, other in (('.own.reg', False), ('.other.reg', True))
             if os.path.exists(base + view)]
    for view, other_view in views:
        prefix.import_reg(base + view, other_view)
    created = []
    for file in files:
        target = prefix.unix(file)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(os.path.join(prefix.build, 'fake_browser.exe'), target)
        created.append(target)
    started_log = prefix.unix(STARTED_LOG)
    if os.path.exists(started_log):
        os.remove(started_log)
    trace = os.path.join(work, name + '.trace')
    try:
        # The collector returns once the launcher and whatever it started have ended.
        prefix.wine(TOOLS + r'\trace_collector.exe', host_path(trace), str(COLLECT_TIMEOUT), prefix.launcher,
                    timeout=COLLECT_TIMEOUT + 30, cwd=prefix.unix(DOWNLOADS))  # as after a download
        exports = export_member_keys(prefix, name, work)
    finally:
        for target in created:
            os.remove(target)
        for view, other_view in views:  # the registry back as the prefix was made
            prefix.import_reg(base + '.undo' + view, other_view)
    checked = subprocess.run([standin_run, '--check-wine', trace, started_log, *source, *exports],
                             capture_output=True, text=True)
    return checked.returncode == 0, checked.stdout + checked.stderr
