#!/usr/bin/python3
"""Tests of tools/release.sh, with a throwaway CA and certificates made by
openssl for this run only (none is ever committed).

    tools/release_test.py BUILD_WINDOWS

BUILD_WINDOWS is the windows preset's build folder (build/windows), already
built: its exe is the reference for the unsigned bytes, and its Wine helpers
run the signed exe (where Wine cannot run 32-bit programs, the windows-x64
build beside it, signed the same way, runs instead). Needs openssl, osslsigncode and, for the Wine part, what
tools/wine_scenarios.py needs.
"""
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RELEASE = os.path.join(ROOT, 'tools', 'release.sh')
EXE = 'Kestlo desktop.exe'
BUILD_WINDOWS = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else os.path.join(ROOT, 'build', 'windows')
RELEASE_BUILD = os.path.join(ROOT, 'build', 'release-test')
FACTS = os.path.join(BUILD_WINDOWS, 'kestlo-facts.json')  # written by the build
PASSWORD = 'correct horse battery\n'
NOTICES = 'THIRD-PARTY-NOTICES.txt'
# What a release folder holds before each run: a failed run must leave it so.
PREVIOUS = {EXE: 'the previous release\n', 'SHA256SUMS': 'its sums\n', 'BUILD-INFO.txt': 'its build\n'}
PREVIOUS_BYTES = {name: text.encode() for name, text in PREVIOUS.items()}

CA_CONFIG = """[ ca ]
default_ca = test
[ test ]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = anything
unique_subject = no
[ anything ]
commonName = supplied
"""
# openssl ts -reply's settings for the local time-stamp authority.
TSA_CONFIG = """[ tsa ]
default_tsa = local
[ local ]
serial = tsa-serial
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha1
ess_cert_id_alg = sha1
"""


def time_stamp_authority(certificates):
    """A local RFC 3161 time-stamp server (openssl ts -reply over HTTP); returns its URL."""
    folder = certificates.folder
    certificates.issue('tsa', 'critical,timeStamping')
    certificates.write('tsa.cnf', TSA_CONFIG)
    certificates.write('tsa-serial', '01\n')

    class Responder(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            Path(folder, 'query.tsq').write_bytes(self.rfile.read(int(self.headers['Content-Length'])))
            run('openssl', 'ts', '-reply', '-config', 'tsa.cnf', '-queryfile', 'query.tsq', '-inkey', 'tsa.key',
                '-signer', 'tsa.pem', '-chain', 'ca.pem', '-out', 'reply.tsr', cwd=folder)
            reply = Path(folder, 'reply.tsr').read_bytes()
            self.send_response(200)
            self.send_header('Content-Type', 'application/timestamp-reply')
            self.send_header('Content-Length', str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(('127.0.0.1', 0), Responder)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f'http://127.0.0.1:{server.server_port}/'


def run(*command, cwd=None, env=None, check=True):
    result = subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True)
    if check and result.returncode != 0:
        raise AssertionError(f'{command} failed ({result.returncode}):\n{result.stdout}\n{result.stderr}')
    return result


def write(path, text):
    Path(path).write_text(text)
    return path


def sha256(path):
    return run('sha256sum', path).stdout.split()[0]


def previous_release(parent):
    dist = tempfile.mkdtemp(dir=parent, prefix='dist-')
    for name, text in PREVIOUS.items():
        write(os.path.join(dist, name), text)
    return dist


def contents(folder):
    """Every file under `folder` (dotfiles included) with its bytes."""
    found = {}
    for base, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(base, name)
            found[os.path.relpath(path, folder)] = Path(path).read_bytes()
    return found


class Certificates:
    """A CA and leaf certificates issued by it, each in a PKCS#12 file."""

    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder)
        for name, text in (('ca.cnf', CA_CONFIG), ('index.txt', ''), ('serial', '1000\n')):
            self.write(name, text)
        self.password_file = self.write('password', PASSWORD)
        self.ca = os.path.join(folder, 'ca.pem')
        run('openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'ca.key', '-out', 'ca.pem',
            '-days', '30', '-subj', '/CN=Kestlo Test CA',
            '-addext', 'basicConstraints=critical,CA:TRUE', '-addext', 'keyUsage=critical,keyCertSign,cRLSign',
            cwd=folder)

    def write(self, name, text):
        return write(os.path.join(self.folder, name), text)

    def issue(self, name, usage, start='20250101000000Z', end='20351231000000Z'):
        """A PKCS#12 file for a new leaf certificate with that extended key usage."""
        extensions = self.write(f'{name}.ext', f'basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\n'
                                               f'extendedKeyUsage={usage}\n')
        run('openssl', 'req', '-newkey', 'rsa:2048', '-nodes', '-keyout', f'{name}.key', '-out', f'{name}.csr',
            '-subj', f'/CN=Kestlo Test Signer {name}', cwd=self.folder)
        run('openssl', 'ca', '-batch', '-config', 'ca.cnf', '-cert', 'ca.pem', '-keyfile', 'ca.key',
            '-in', f'{name}.csr', '-out', f'{name}.pem', '-notext', '-startdate', start, '-enddate', end,
            '-extfile', extensions, cwd=self.folder)
        run('openssl', 'pkcs12', '-export', '-in', f'{name}.pem', '-inkey', f'{name}.key', '-certfile', 'ca.pem',
            '-out', f'{name}.p12', '-passout', f'file:{self.password_file}', cwd=self.folder)
        return os.path.join(self.folder, f'{name}.p12')


class ReleaseTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix='kestlo-release-')
        shutil.rmtree(RELEASE_BUILD, ignore_errors=True)  # this test's own build folder
        cls.certificates = Certificates(os.path.join(cls.scratch, 'pki'))
        cls.signing = cls.certificates.issue('good', 'codeSigning')
        cls.timestamp_url = time_stamp_authority(cls.certificates)
        # osslsigncode seen through a wrapper that records its arguments.
        wrapper_folder = os.path.join(cls.scratch, 'bin')
        os.makedirs(wrapper_folder)
        cls.osslsigncode_log = os.path.join(cls.scratch, 'osslsigncode.log')
        os.chmod(write(os.path.join(wrapper_folder, 'osslsigncode'), f'''#!/bin/bash
printf '%s\\n' "$*" >> '{cls.osslsigncode_log}'
exec /usr/bin/osslsigncode "$@"
'''), 0o755)
        cls.path_with_wrapper = wrapper_folder + os.pathsep + os.environ['PATH']
        # One signed release, with a time-stamp server, for the tests that look at it.
        cls.signed, cls.signed_dist = cls.release(cls.signing_env())
        cls.signed_exe = os.path.join(cls.signed_dist, EXE)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    @classmethod
    def release(cls, signing=None, extra_env=None, args=(), dist=None, timestamp=True):
        """Runs tools/release.sh; by default into a fresh dist folder that holds
        a previous release (PREVIOUS). Returns (result, dist)."""
        if dist is None:
            dist = previous_release(cls.scratch)
        env = {k: v for k, v in os.environ.items() if not k.startswith('KESTLO_SIGN_')}
        env['PATH'] = cls.path_with_wrapper
        if signing and timestamp:
            env['KESTLO_SIGN_TIMESTAMP_URL'] = cls.timestamp_url
        env.update(signing or {})
        env.update(extra_env or {})
        command = [RELEASE, '--allow-dirty', '--dist', dist, '--build', RELEASE_BUILD, *args]
        return run(*command, env=env, check=False), dist

    @classmethod
    def signing_env(cls, pkcs12=None, password_file=None):
        return {'KESTLO_SIGN_PKCS12': pkcs12 or cls.signing,
                'KESTLO_SIGN_PASSWORD_FILE': password_file or cls.certificates.password_file}

    def test_signs_with_sha256_and_a_time_stamp_or_not_at_all(self):
        self.assertEqual(self.signed.returncode, 0, self.signed.stdout + self.signed.stderr)
        self.assertEqual(sorted(os.listdir(self.signed_dist)), ['BUILD-INFO.txt', EXE, 'SHA256SUMS', NOTICES])
        signing_call = Path(self.osslsigncode_log).read_text().split('\n')[0]
        self.assertIn(f'-ts {self.timestamp_url}', signing_call)
        self.assertIn('-h sha256', signing_call)
        self.assertIn(f'-readpass {self.certificates.password_file}', signing_call)
        self.assertNotIn(PASSWORD.strip(), signing_call, 'the password never reaches a command line')

        # Without a time-stamp server, signing is refused unless --no-timestamp says so.
        result, dist = self.release(self.signing_env(), timestamp=False)
        self.assertEqual(result.returncode, 1)
        self.assertIn('KESTLO_SIGN_TIMESTAMP_URL is not set', result.stderr)
        self.assertIn('--no-timestamp', result.stderr)
        self.assertEqual(contents(dist), PREVIOUS_BYTES)

    def test_signature_and_time_stamp_verify_and_checksums_hold(self):
        ca = self.certificates.ca
        verified = run('osslsigncode', 'verify', '-CAfile', ca, '-TSA-CAfile', ca, '-in', self.signed_exe, check=False)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn('Signature verification: ok', verified.stdout)
        self.assertIn('Timestamp Server Signature verification: ok', verified.stdout)
        self.assertIn('Timestamp time: ', verified.stdout)
        self.assertEqual(run('sha256sum', '-c', 'SHA256SUMS', cwd=self.signed_dist).stdout.split(),
                         ['Kestlo', 'desktop.exe:', 'OK', f'{NOTICES}:', 'OK'])
        self.assertIn('Redistributions in binary form must reproduce', Path(self.signed_dist, NOTICES).read_text())

    def test_unsigned_bytes_are_reproducible(self):
        # The signature taken off, the release folder's build, and the windows
        # preset's build in another folder all give the same bytes.
        unsigned = os.path.join(self.scratch, 'unsigned.exe')
        run('osslsigncode', 'remove-signature', '-in', self.signed_exe, '-out', unsigned)
        reference = os.path.join(BUILD_WINDOWS, EXE)
        self.assertEqual(sha256(unsigned), sha256(reference))
        self.assertEqual(sha256(os.path.join(RELEASE_BUILD, EXE)), sha256(reference))
        info = Path(self.signed_dist, 'BUILD-INFO.txt').read_text()
        self.assertIn(f'unsigned SHA-256: {sha256(reference)}', info)
        self.assertIn('commit: ' + run('git', 'rev-parse', 'HEAD', cwd=ROOT).stdout.strip(), info)
        host = json.loads(Path(FACTS).read_text())['login_host']
        for line in (f'KESTLO_LOGIN_HOST: {host}', 'KESTLO_COMPANY_NAME: ', 'KESTLO_COPYRIGHT: ',
                     'compiler: ', 'binutils: ', 'work tree: ', 'signed: yes, by '):
            self.assertIn(line, info)

    def test_signed_file_passes_the_file_checks(self):
        checked = run('/usr/bin/python3', os.path.join(ROOT, 'resources', 'executable_test.py'), self.signed_exe,
                      FACTS, check=False)
        self.assertEqual(checked.returncode, 0, checked.stderr[-3000:])

    def test_signed_file_runs_under_wine(self):
        """The signed exe, with the Wine helpers of its build: one start, one message box.

        Where Wine cannot run 32-bit programs, the 64-bit test build
        (build/windows-x64), signed the same way, stands in for it."""
        build, exe = BUILD_WINDOWS, self.signed_exe
        if subprocess.run([os.path.join(ROOT, 'tools', 'wine32-runs.sh')]).returncode != 0:
            build = os.path.join(os.path.dirname(BUILD_WINDOWS), 'windows-x64')
            if not os.path.exists(os.path.join(build, EXE)):
                self.skipTest('Wine cannot run 32-bit programs here, and build/windows-x64 is not built')
            exe = os.path.join(self.scratch, 'signed-x64.exe')
            run('osslsigncode', 'sign', '-pkcs12', self.signing, '-readpass', self.certificates.password_file,
                '-h', 'sha256', '-in', os.path.join(build, EXE), '-out', exe)
        folder = os.path.join(self.scratch, 'wine-build')
        os.makedirs(folder, exist_ok=True)
        for helper in ('trace_collector.exe', 'fake_browser.exe'):
            shutil.copy(os.path.join(build, helper), folder)
        shutil.copy(exe, os.path.join(folder, EXE))
        result = run('/usr/bin/python3', os.path.join(ROOT, 'tools', 'wine_scenarios.py'), '--arch', 'win32',
                     '--build', folder, '--out', os.path.join(self.scratch, 'wine'),
                     '--standin-run', os.path.join(ROOT, 'build', 'host-tool', 'kestlo-standin-run'),
                     os.path.join(ROOT, 'scenarios', 'chrome-and-firefox.scenario'),
                     os.path.join(ROOT, 'scenarios', 'nothing-installed.scenario'), check=False)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn('3 passed, 0 failed', result.stdout)  # the two machines, and the registry left as found

    def test_unsigned_release_says_so(self):
        result, dist = self.release()
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn('NOT SIGNED', result.stdout)
        self.assertEqual(self.leftovers(dist), [])
        self.assertEqual(sorted(os.listdir(dist)), ['BUILD-INFO.txt', EXE, 'SHA256SUMS', NOTICES])
        self.assertEqual(sha256(os.path.join(dist, EXE)), sha256(os.path.join(BUILD_WINDOWS, EXE)))
        self.assertIn('signed: no', Path(dist, 'BUILD-INFO.txt').read_text())

    def test_a_failed_signing_keeps_the_previous_release(self):
        wrong_password = self.certificates.write('wrong-password', 'not the password\n')
        cases = [
            ('wrong password', self.signing_env(password_file=wrong_password), 'wrong password'),
            ('expired', self.signing_env(self.certificates.issue(
                'expired', 'codeSigning', start='20200101000000Z', end='20210101000000Z')), 'expired on'),
            ('not for code signing', self.signing_env(self.certificates.issue('server', 'serverAuth')),
             'not for code signing'),
            ('misspelt certificate path', self.signing_env(os.path.join(self.scratch, 'absent.p12')),
             'does not exist'),
            ('missing password file', self.signing_env(password_file=os.path.join(self.scratch, 'absent')),
             'does not exist'),
            ('password file without certificate',
             {'KESTLO_SIGN_PASSWORD_FILE': self.certificates.password_file}, 'give both'),
        ]
        for what, signing, message in cases:
            with self.subTest(what):
                result, dist = self.release(signing)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(contents(dist), PREVIOUS_BYTES)
                self.assertEqual(self.leftovers(dist), [])

    def test_warns_of_a_password_file_others_can_read(self):
        readable = self.certificates.write('readable-password', PASSWORD)
        os.chmod(readable, 0o644)
        # Stopped after the warning by a certificate that is not for code signing.
        result, _ = self.release(self.signing_env(self.certificates.issue('server2', 'serverAuth'), readable))
        self.assertIn(f'warning: the password file {readable} can be read by others', result.stderr)
        self.assertIn('not for code signing', result.stderr)

    def test_dist_at_the_checkout_deletes_nothing(self):
        clone = self.clone()
        before = contents(clone)
        result = run(os.path.join(clone, 'tools', 'release.sh'), '--dist', '.', cwd=clone, check=False)
        self.assertEqual(result.returncode, 1)
        self.assertIn('which a release does not write; nothing was changed', result.stderr)
        self.assertEqual(contents(clone), before)

    def test_dist_with_another_file_is_refused_and_the_file_kept(self):
        dist = previous_release(self.scratch)
        write(os.path.join(dist, '.notes'), 'mine\n')
        result, _ = self.release(dist=dist)
        self.assertEqual(result.returncode, 1)
        self.assertIn(f'{dist} holds .notes, which a release does not write', result.stderr)
        self.assertEqual(contents(dist), {**PREVIOUS_BYTES, '.notes': b'mine\n'})

    def test_build_folder_of_someone_else_is_refused_and_kept(self):
        folder = os.path.join(self.scratch, 'not-a-build')
        os.makedirs(folder)
        write(os.path.join(folder, 'keep.txt'), 'keep\n')
        dist = os.path.join(self.scratch, 'new-dist')
        result = run(RELEASE, '--allow-dirty', '--dist', dist, '--build', folder, check=False)
        self.assertEqual(result.returncode, 1)
        self.assertIn('is not a release build folder of this script', result.stderr)
        self.assertEqual(contents(folder), {'keep.txt': b'keep\n'})
        self.assertFalse(os.path.exists(dist), 'dist is created only by a release that succeeds')

    def test_a_missing_option_value_is_a_usage_error(self):
        for option in ('--dist', '--build'):
            with self.subTest(option):
                result = run(RELEASE, option, check=False)
                self.assertEqual(result.returncode, 2)
                self.assertIn(f'{option} needs a folder', result.stderr)
                self.assertIn('usage:', result.stderr)

    def test_term_during_the_build_keeps_the_previous_release_and_no_staging(self):
        dist = previous_release(self.scratch)
        env = {k: v for k, v in os.environ.items() if not k.startswith('KESTLO_SIGN_')}
        build = os.path.join(self.scratch, 'term-build')
        process = subprocess.Popen([RELEASE, '--allow-dirty', '--dist', dist, '--build', build], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        deadline = time.time() + 120
        while not os.path.exists(os.path.join(build, 'CMakeCache.txt')) and time.time() < deadline:
            time.sleep(0.1)
        self.assertIsNone(process.poll(), 'the build had not begun when the release ended')
        process.terminate()
        try:
            _, stderr = process.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            raise AssertionError('TERM did not stop the release within 30 s')
        self.assertEqual(process.returncode, 143, stderr)
        self.assertEqual(contents(dist), PREVIOUS_BYTES)
        self.assertEqual(self.leftovers(dist), [])

    def test_refuses_a_tree_with_uncommitted_changes(self):
        clone = self.clone()
        with open(os.path.join(clone, 'tools', 'release.sh'), 'a') as f:
            f.write('# an edit\n')
        dist = os.path.join(self.scratch, 'dirty-dist')
        result = run(os.path.join(clone, 'tools', 'release.sh'), '--dist', dist, check=False)
        self.assertEqual(result.returncode, 1)
        self.assertIn('uncommitted changes', result.stderr)
        self.assertIn('--allow-dirty', result.stderr)
        self.assertFalse(os.path.exists(dist))

    def clone(self):
        """A throwaway repository holding the release script, with an untracked file."""
        repository = tempfile.mkdtemp(dir=self.scratch, prefix='repository-')
        os.makedirs(os.path.join(repository, 'tools'))
        shutil.copy(RELEASE, os.path.join(repository, 'tools'))
        run('git', 'init', '-q', cwd=repository)
        run('git', '-c', 'user.name=t', '-c', 'user.email=t@t', 'add', '.', cwd=repository)
        run('git', '-c', 'user.name=t', '-c', 'user.email=t@t', 'commit', '-qm', 'release script', cwd=repository)
        write(os.path.join(repository, 'untracked.txt'), 'not in git\n')
        return repository

    def leftovers(self, dist):
        """Staging folders left beside `dist`."""
        return [name for name in os.listdir(os.path.dirname(dist)) if name.startswith('.kestlo-release.')]


if __name__ == '__main__':
    unittest.main(verbosity=2)
