"""Running one exported scenario (kestlo-standin-run --export) with the real
executable under trace_collector.exe, and checking what an observer sees:
the trace byte for byte, the program started and its command line, the
message box, the exit code."""
import json
import os
import re
import shutil
import subprocess

from prefix import DOWNLOADS, PrefixError, TOOLS, host_path

COLLECT_TIMEOUT = 40        # seconds the launcher and the browser it starts may run
STARTED_LOG = r'C:\kestlo-e2e\started.log'  # written by tools/windows/fake_browser.cpp


def load(export_dir, name):
    with open(os.path.join(export_dir, name + '.json'), encoding='utf-8') as f:
        expected = json.load(f)
    expected['trace'] = [bytes.fromhex(line) for line in expected['trace']]
    expected['calls'] = [bytes.fromhex(call) for call in expected['calls']]
    return expected


# The two keys a member exports for support (README, Support), as reg.exe names them.
MEMBER_KEYS = (('machine', r'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'),
               ('user', r'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall'))


def replay_member_exports(prefix, name, work, standin_run):
    """Wine's own reg.exe exports the two keys as a member would (a key the
    machine lacks gives no file), and the host tool replays the files: what
    support would see. Returns the replay's JSON, or None without a file."""
    files = []
    for part, key in MEMBER_KEYS:
        out = os.path.join(work, f'{name}.{part}.reg')
        if os.path.exists(out):
            os.remove(out)
        options = prefix.view_options() if part == 'machine' else []
        code, _ = prefix.wine('reg', 'export', key, host_path(out), *options, '/y')
        if code == 0:
            files += ['--reg', out]
    if not files:
        return None  # neither key exists: a member would have nothing to send
    result = subprocess.run([standin_run, *files, '--json', '--wine'], capture_output=True, text=True)
    if result.returncode != 0:
        raise PrefixError(f'the replay of reg.exe\'s exports failed: {result.stderr.strip()}')
    return json.loads(result.stdout)


def run(prefix, export_dir, name, work, standin_run):
    """Imports the scenario, replays reg.exe's exports of it, runs the
    launcher, and undoes the import. Returns (expected, observed)."""
    expected = load(export_dir, name)
    base = os.path.join(export_dir, name)
    views = [(view, other) for view, other in (('.own.reg', False), ('.other.reg', True))
             if os.path.exists(base + view)]
    for view, other_view in views:
        prefix.import_reg(base + view, other_view)
    created = []
    for file in expected['files']:
        target = prefix.unix(file)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(os.path.join(prefix.build, 'fake_browser.exe'), target)
        created.append(target)
    started_log = prefix.unix(STARTED_LOG)
    if os.path.exists(started_log):
        os.remove(started_log)
    try:
        replay = replay_member_exports(prefix, name, work, standin_run)
        observed = observe(prefix, name, work, expected, started_log)
        observed['replay'] = replay
    finally:
        for target in created:
            if os.path.exists(target):
                os.remove(target)
        for view, other_view in views:  # the registry back as the prefix was made
            prefix.import_reg(base + '.undo' + view, other_view)
    return expected, observed


def observe(prefix, name, work, expected, started_log):
    """What an observer of the run sees: the trace, the exit code, the message
    box (answered by the collector) and the browser started."""
    observed = {'trace': [], 'calls': [], 'exit': None, 'boxes': [], 'started': None, 'command': None,
                'records': 0}
    trace_file = os.path.join(work, name + '.trace')
    # The collector returns once the launcher and whatever it started have ended.
    prefix.wine(TOOLS + r'\trace_collector.exe', host_path(trace_file), str(COLLECT_TIMEOUT), prefix.launcher,
                timeout=COLLECT_TIMEOUT + 30, cwd=prefix.unix(DOWNLOADS))  # as after a download
    read_trace(trace_file, observed)
    if os.path.exists(started_log):
        with open(started_log, 'rb') as f:
            record = f.read().decode('gbk', 'replace').splitlines()
        observed['started'] = record[0][len('module '):] if record else ''
        observed['command'] = record[1][len('command '):] if len(record) > 1 else ''
        observed['records'] = len(record) // 2
    return observed


def read_trace(trace_file, observed):
    """The collector's record: each debug string, a message box, then the exit code."""
    with open(trace_file) as f:
        for line in f:
            kind, _, rest = line.strip().partition(' ')
            if kind == 'S':
                observed['calls'].append(bytes.fromhex(rest))
            elif kind == 'M':
                observed['boxes'].append(tuple(bytes.fromhex(part) for part in (rest.split(' ') + [''])[:2]))
            elif kind == 'X':
                observed['exit'] = int(rest)
            elif kind == 'T':
                observed['exit'] = 'still running (or a program it started) after %d s' % COLLECT_TIMEOUT
    observed['trace'] = trace_lines(observed['calls'])


def trace_lines(calls):
    """The debug strings read as trace lines: text up to each "\n", and an
    unended last line as a line of its own."""
    lines = b''.join(calls).split(b'\n')
    return lines[:-1] if lines[-1] == b'' else lines


def check(expected, observed):
    """The differences between what was expected and what was observed, as sentences."""
    problems = []
    if observed['trace'] != expected['trace']:
        problems.append('trace differs:\n' + diff_lines(expected['trace'], observed['trace']))
    elif observed['calls'] != expected['calls']:
        problems.append('the lines are right but not the OutputDebugStringA calls that wrote them')
    if observed['exit'] != 0:
        problems.append(f'exit code {observed["exit"]}, expected 0')
    boxes = [(expected['caption'].encode('gbk'), expected['text'].encode('gbk'))] if expected['message'] else []
    if observed['boxes'] != boxes:
        problems.append(f'message boxes {observed["boxes"]}, expected {boxes}')
    if observed['replay'] is not None:
        problems += check_replay(expected, observed['replay'])
    want = expected['start']
    if want is not None:
        # The shell expands environment references before it opens the file.
        want = re.sub('%SystemDrive%', lambda m: 'C:', want, flags=re.IGNORECASE)
    if want is None and observed['started'] is not None:
        problems.append(f'started {observed["started"]} unexpectedly')
    if want is not None:
        if observed['started'] is None:
            problems.append(f'{want} was not started')
        else:
            # The program runs from the resolved path: doubled backslashes collapse.
            if observed['started'] != re.sub(r'\\+', lambda m: '\\', want):
                problems.append(f'started {observed["started"]}, expected {want}')
            expected_command = f'"{want}" {expected["argument"]}'
            if observed['command'] != expected_command:
                problems.append(f'command line {observed["command"]!r}, expected {expected_command!r}')
            if observed['records'] != 1:
                problems.append(f'{observed["records"]} browsers started')
    return problems


def check_replay(expected, replay):
    """The differences between the scenario and the replay of its registry exports."""
    problems = []
    traced = [bytes.fromhex(call) for call in replay['debug_strings']]
    if traced != expected['calls']:
        problems.append('the replay of reg.exe\'s exports traces otherwise:\n' +
                        diff_lines(expected['trace'], trace_lines(traced)))
    started = replay['started'] and bytes.fromhex(replay['started']['file']).decode('gbk', 'replace')
    if expected['start'] is not None and started != expected['start']:
        problems.append(f'the replay starts {started}, expected {expected["start"]}')
    if expected['start'] is None and started is not None and started in expected['files']:
        problems.append(f'the replay starts {started}, which is there, but the real run started nothing')
    if replay['message_box'] != expected['message']:
        problems.append('the replay ' + ('shows no' if expected['message'] else 'shows a') + ' message box')
    return problems


def diff_lines(expected, actual):
    rows = []
    for i in range(max(len(expected), len(actual))):
        e = expected[i] if i < len(expected) else None
        a = actual[i] if i < len(actual) else None
        mark = ' ' if e == a else '!'
        rows.append(f'  {mark} {i + 1:3} expected {show(e)}  actual {show(a)}')
    return '\n'.join(rows)


def show(line):
    return '<none>' if line is None else repr(line.decode('gbk', 'replace'))


def describe(name, arch, expected, observed):
    print(f'--- {name} ({arch})')
    print(f'Debugger trace ({len(observed["trace"])} lines):')
    for line in observed['trace']:
        print('  | ' + line.decode('gbk', 'replace'))
    if observed['started'] is not None:
        print(f'Started: {observed["started"]}  (a stand-in browser that records how it was started)')
        print(f'  with the command line: {observed["command"]}')
    for caption, text in observed['boxes']:
        print(f'Message box "{caption.decode("gbk")}": {text.decode("gbk")} (answered with OK)')
    if observed['started'] is None and not observed['boxes']:
        print('Nothing started and no message shown.')
    print(f'Exit code: {observed["exit"]}')
