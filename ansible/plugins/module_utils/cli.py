# Copyright: (c) 2026, Tarvanix Utility developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# Runs tarvanix-cli on the managed host and reads its JSON. Every protocol detail stays in
# the CLI: these modules only choose its arguments and turn its answers into results.
# Standard library only, as on any managed host.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

try:
    import ctypes
    _PRCTL = ctypes.CDLL(None, use_errno=True).prctl
except (ImportError, OSError, AttributeError):
    _PRCTL = None

PASSWORD_VARIABLE = 'TARVANIX_PASSWORD'
NEW_PASSWORD_VARIABLE = 'TARVANIX_NEW_PASSWORD'
JSON_VERSION = 1
PREFIX = 'tarvanix-cli: '

# The CLI's exit statuses.
EXIT_OK = 0
EXIT_TARGET_FAILED = 1
EXIT_REFUSED = 2
EXIT_NO_MODULE = 3
EXIT_OUTPUT_FAILED = 4
EXIT_INTERRUPTED = 130

# The results of set, reboot and upgrade that are no failure.
SUCCEEDED = ('ok', 'unchanged', 'dry-run')

# How long the CLI gets to end after SIGTERM (it stops its runs and removes its temporary
# ARP entries and routes) before it is killed.
STOP_GRACE_SECONDS = 10

_PR_SET_PDEATHSIG = 1
_FORWARDED_SIGNALS = (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGALRM)

# Setting names that are, or look like, passwords: never taken in settings.
PASSWORD_LIKE = re.compile(r'pass|pwd', re.IGNORECASE)

# Options every module takes.
COMMON_OPTIONS = dict(
    cli=dict(type='str', default='tarvanix-cli'),
    timeout=dict(type='float'),
)

# The modules a task acts on: one, or many in one CLI run.
TARGETS_OPTIONS = dict(
    target=dict(type='str'),
    targets=dict(type='list', elements='str'),
    password=dict(type='str', no_log=True),
    passwords=dict(type='dict', no_log=True, default={}),
    jobs=dict(type='int', default=4),
)
TARGETS_MUTUALLY_EXCLUSIVE = [('target', 'targets')]
TARGETS_REQUIRED_ONE_OF = [('target', 'targets')]


def _child_setup():
    # The CLI runs in a session of its own (no terminal to prompt on), out of the reach of
    # a signal to the module's process group; it still must not outlive the module, even
    # one killed with SIGKILL (async's timeout): it is sent SIGTERM then, and ends cleanly.
    if _PRCTL is not None:
        _PRCTL(_PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)


def error_line(stderr, target=None):
    """The CLI's last message on standard error, for `target` if given: a line it begins
    with "tarvanix-cli: ", which no progress line does."""
    found = ''
    lead = PREFIX + target + ': ' if target else PREFIX
    for line in stderr.splitlines():
        if line.startswith(lead):
            found = line[len(lead if target else PREFIX):].strip()
    return found


class CliFailure(Exception):
    """The CLI could not do what was asked: its message and exit status."""

    def __init__(self, message, rc, run=None):
        super(CliFailure, self).__init__(message)
        self.message = message
        self.rc = rc
        self.run = run


class CliRun:
    """One run of the CLI: its arguments (never a password), status and output."""

    def __init__(self, argv, rc, out, err, stopped=None):
        self.argv = argv
        self.rc = rc
        self.out = out
        self.err = err
        # Why the module stopped the CLI: 'timeout', or the signal the module was sent.
        self.stopped = stopped

    def message(self, target=None):
        """The CLI's error for `target` (or its last one), else a word on the status."""
        text = (error_line(self.err, target) if target else '') or error_line(self.err)
        ended = 'tarvanix-cli exited with status %d' % self.rc
        if self.stopped == 'timeout':
            return 'stopped at the task\'s timeout: %s' % (text or ended)
        if self.stopped:
            return 'stopped by signal %d: %s' % (self.stopped, text or ended)
        return text or ended


def parse(text):
    """The objects of one JSON document the CLI printed (always an array of version 1)."""
    try:
        doc = json.loads(text)
    except ValueError as e:
        raise ValueError('tarvanix-cli printed no JSON (%s)' % e)
    if isinstance(doc, dict):
        doc = [doc]
    if not isinstance(doc, list) or not all(isinstance(o, dict) for o in doc):
        raise ValueError('tarvanix-cli printed JSON that is not a list of objects')
    for o in doc:
        if o.get('version') != JSON_VERSION:
            raise ValueError('tarvanix-cli printed JSON version %r; this collection reads '
                             'version %d' % (o.get('version'), JSON_VERSION))
    return doc


class TarvanixCli:
    def __init__(self, module):
        self.module = module
        self.runs = []
        name = module.params['cli']
        if os.sep in name:
            self.path = name
        else:
            self.path = module.get_bin_path(name, required=False)
        if not self.path or not os.access(self.path, os.X_OK):
            module.fail_json(msg='%s is not an executable program on this host' % name, rc=127)
        timeout = module.params.get('timeout')
        self.deadline = time.monotonic() + timeout if timeout else None

    # ---- one run -----------------------------------------------------------------------
    def _environment(self, password, new_password):
        env = dict(os.environ)
        # The task's options decide; a password left in the login environment must not.
        env.pop(PASSWORD_VARIABLE, None)
        env.pop(NEW_PASSWORD_VARIABLE, None)
        if password:
            env[PASSWORD_VARIABLE] = password
        if new_password is not None:
            env[NEW_PASSWORD_VARIABLE] = new_password
        return env

    def run(self, args, password=None, new_password=None):
        """One CLI run, never waiting at a password prompt, stopped at the task's timeout and
        when the module is signalled. Passwords go in the environment, never in `args`."""
        argv = [self.path] + list(args)
        left = None
        if self.deadline is not None:
            left = self.deadline - time.monotonic()
            if left <= 0:
                run = CliRun(argv, EXIT_INTERRUPTED, '', '', 'timeout')
                self.runs.append(run)
                return run
        try:
            proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE,
                                    env=self._environment(password, new_password),
                                    start_new_session=True, preexec_fn=_child_setup)
        except OSError as e:
            raise CliFailure('cannot run %s: %s' % (self.path, e), 127)

        heard = []

        def forward(signum, frame):
            # Ansible ends a module with a signal (a task's end, an interrupt): the CLI is told
            # to stop as well, and the module waits for it to have cleaned up.
            heard.append(signum)
            try:
                proc.send_signal(signal.SIGTERM)
            except OSError:
                pass

        previous = dict((s, signal.signal(s, forward)) for s in _FORWARDED_SIGNALS)
        stopped = None
        try:
            try:
                out, err = proc.communicate(timeout=left)
            except subprocess.TimeoutExpired:
                stopped = 'timeout'
                proc.send_signal(signal.SIGTERM)
                try:
                    out, err = proc.communicate(timeout=STOP_GRACE_SECONDS)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    out, err = proc.communicate()
        finally:
            for s, handler in previous.items():
                signal.signal(s, handler)
        if heard and not stopped:
            stopped = heard[0]
        run = CliRun(argv, proc.returncode, out.decode('utf-8', 'replace'),
                     err.decode('utf-8', 'replace'), stopped)
        self.runs.append(run)
        return run

    # ---- many targets in one run -------------------------------------------------------
    def for_targets(self, targets, passwords, password, args_of, new_password=None):
        """Runs `args_of(targets_file)` for `targets`, whose passwords go in the targets file
        (a private one, removed afterwards) or, for a password the file cannot carry (one
        with a blank), in the environment, one run for each such password. The runs in order,
        each with the targets it had."""
        lines = {None: []}
        for target in targets:
            given = passwords.get(target, password) if passwords else password
            if given and re.search(r'\s', given):
                lines.setdefault(given, []).append((target, None))
            else:
                lines[None].append((target, given or None))
        done = []
        for env_password, group in lines.items():
            if not group:
                continue
            folder = tempfile.mkdtemp(prefix='tarvanix-', dir=self.module.tmpdir)
            try:
                path = os.path.join(folder, 'targets')
                fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
                with os.fdopen(fd, 'w') as f:
                    for target, pw in group:
                        f.write('%s %s\n' % (target, pw) if pw else '%s\n' % target)
                run = self.run(args_of(path), env_password, new_password)
            finally:
                shutil.rmtree(folder, ignore_errors=True)
            done.append((run, [target for target, given in group]))
        return done

    def summaries(self, targets, passwords, password, args_of, new_password=None):
        """For set, reboot and upgrade --json: each target's summary object; a target the
        CLI printed none for (refused input, no search) gets one of its own with the CLI's
        message. Keyed by target, with 'rc' added."""
        rows = {}
        for run, group in self.for_targets(targets, passwords, password, args_of,
                                           new_password):
            printed = {}
            try:
                for o in parse(run.out) if run.out.strip() else []:
                    printed[o.get('target')] = o
            except ValueError:
                printed = {}
            for target in group:
                row = printed.get(target)
                if row is None:
                    row = dict(target=target, module={}, result='failed', message='')
                ok = row.get('result') in SUCCEEDED
                if not ok and (run.stopped or not row.get('message')):
                    row['message'] = run.message(target)
                row['rc'] = EXIT_OK if ok else (run.rc if run.rc != EXIT_OK
                                                else EXIT_TARGET_FAILED)
                rows[target] = row
        return rows

    def settings_of(self, targets, passwords, password):
        """get --json for `targets`: each target's object (without version), or a
        CliFailure with the CLI's message for it."""
        found = {}
        for run, group in self.for_targets(targets, passwords, password,
                                           lambda f: ['get', '--targets', f, '--json']):
            printed = {}
            try:
                for o in parse(run.out) if run.out.strip() else []:
                    printed[o.get('target')] = dict((k, v) for k, v in o.items()
                                                    if k != 'version' and not
                                                    PASSWORD_LIKE.search(k))
            except ValueError as e:
                if run.rc == EXIT_OK:
                    for target in group:
                        found[target] = CliFailure(str(e), run.rc, run)
                    continue
            for target in group:
                if target in printed and not run.stopped:
                    found[target] = printed[target]
                else:
                    found[target] = CliFailure(run.message(target),
                                               run.rc if run.rc != EXIT_OK
                                               else EXIT_TARGET_FAILED, run)
        return found

    # ---- results -----------------------------------------------------------------------
    def last_command(self):
        return self.runs[-1].argv if self.runs else []

    def fail(self, message, rc, **extra):
        run = self.runs[-1] if self.runs else None
        result = dict(msg=message, rc=rc, cmd=run.argv if run else [],
                      stdout=run.out if run else '', stderr=run.err if run else '')
        result.update(extra)
        self.module.fail_json(**result)


def target_list(module):
    """The targets as given, one or a list; the CLI judges each, but nothing may pass for one
    of its options or break a line of the targets file."""
    params = module.params
    targets = [params['target']] if params.get('target') is not None else params['targets']
    seen = set()
    for t in targets:
        if not t or t.startswith('-') or t.startswith('#') or re.search(r'\s', t):
            module.fail_json(msg='target must be an IP address or a MAC address, not %r' % t,
                             rc=EXIT_REFUSED)
        if t in seen:
            module.fail_json(msg='target %s is given twice' % t, rc=EXIT_REFUSED)
        seen.add(t)
    if not targets:
        module.fail_json(msg='targets is empty: no module to act on', rc=EXIT_REFUSED)
    if not 1 <= params['jobs'] <= 64:
        module.fail_json(msg='jobs takes a number from 1 to 64', rc=EXIT_REFUSED)
    return targets


def targets_args(targets_file, module):
    return ['--targets', targets_file, '--jobs', str(module.params['jobs'])]


def outcome(row):
    """One module's part of a task's result, from its summary object."""
    item = dict(target=row.get('target'), result=row.get('result'),
                module=row.get('module') or {}, rc=row.get('rc', EXIT_OK))
    if row.get('result') not in SUCCEEDED:
        item.update(failed=True, msg=row.get('message') or 'failed')
    return item


def took_command(row):
    """Whether a reboot or an upgrade reached the module: it did, and it restarted, also when
    it then failed to answer again or to be read."""
    message = row.get('message') or ''
    return row.get('result') == 'ok' or message.startswith(('did not answer discovery',
                                                            'answered again'))


def finish(module, cli, targets, items, changed, single_extra=None, **extra):
    """Exits with one result: for one target its own keys, for many a list `modules`; a
    failure of any target fails the task with that target's message (several: counted)."""
    failed = [i for i in items if i.get('failed')]
    result = dict(changed=changed, modules=items)
    result.update(extra)
    if module.params.get('target') is not None and items:
        one = dict((k, v) for k, v in items[0].items() if k not in ('target', 'failed', 'msg'))
        result.update(one)
        if single_extra:
            result.update(single_extra)
    if failed:
        if len(targets) == 1:
            msg = failed[0]['msg']
        else:
            msg = '%d of %d modules failed: %s' % (
                len(failed), len(targets),
                '; '.join('%s: %s' % (i['target'], i['msg']) for i in failed))
        rc = failed[0].get('rc') or EXIT_TARGET_FAILED
        result.pop('rc', None)
        cli.fail(msg, rc, **result)
    module.exit_json(**result)
