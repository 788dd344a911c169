#!/usr/bin/python3
"""tools/install-deps.sh against a mirror caught mid-sync, with no real apt call:
shims of apt-get, dpkg-query, dpkg and id come first on PATH. apt-get update
fails on one index file, and the plain install fails on a multiarch pair, as
they did on a fresh machine; the install from the release's own suite works,
or not."""
import os
import subprocess
import tempfile
import unittest
from pathlib import Path

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'install-deps.sh')
INDEX = 'http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz'
SHIMS = {
    'apt-get': f'''#!/bin/bash
echo "$*" >> "$SHIM_LOG"
case "$1" in
  update) echo "E: Failed to fetch {INDEX}  File has unexpected size (374820 != 376004). Mirror sync in progress?"
          echo "E: Some index files failed to download."; exit 100 ;;
esac
if [[ " $* " == *" -t "* ]] && [ -z "$SHIM_SUITE_FAILS" ]; then exit 0; fi
echo " libc6:i386 : Depends: libgcc-s1:i386 but it is not going to be installed"
echo "E: Unable to correct problems, you have held broken packages."; exit 100
''',
    'dpkg-query': '#!/bin/sh\nexit 1\n',          # nothing installed
    'dpkg': '#!/bin/sh\necho i386\n',
    'id': '#!/bin/sh\necho 0\n',                   # as root
}


def codename():
    lines = Path('/etc/os-release').read_text().splitlines()
    return dict(line.split('=', 1) for line in lines if '=' in line)['VERSION_CODENAME'].strip('"')


class MirrorMidSync(unittest.TestCase):
    def run_script(self, suite_fails):
        folder = tempfile.mkdtemp(prefix='kestlo-deps-')
        for name, text in SHIMS.items():
            Path(folder, name).write_text(text)
            os.chmod(os.path.join(folder, name), 0o755)
        log = os.path.join(folder, 'apt-get.log')
        env = dict(os.environ, PATH=folder + os.pathsep + os.environ['PATH'], SHIM_LOG=log,
                   KESTLO_APT_RETRY_DELAY='0', SHIM_SUITE_FAILS='1' if suite_fails else '')
        result = subprocess.run([SCRIPT, 'release'], env=env, capture_output=True, text=True)
        return result, Path(log).read_text().splitlines()

    def test_retries_the_update_then_installs_from_the_release_suite(self):
        result, calls = self.run_script(suite_fails=False)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual([call.split()[0] for call in calls], ['update'] * 3 + ['install'] * 2)
        self.assertNotIn('-t', calls[3].split())
        self.assertIn(f'-t {codename()}', calls[4])
        self.assertIn('could not fetch these index files', result.stderr)
        self.assertIn(INDEX, result.stderr)

    def test_says_what_to_try_when_even_the_release_suite_fails(self):
        result, calls = self.run_script(suite_fails=True)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(len(calls), 5)
        self.assertIn('held broken packages', result.stdout + result.stderr)  # apt's own words
        self.assertIn('could not install', result.stderr)
        self.assertIn('run this again later', result.stderr)


if __name__ == '__main__':
    unittest.main(verbosity=2)
