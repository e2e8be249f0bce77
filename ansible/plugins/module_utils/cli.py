# Copyright: (c) 2026, Tarvanix Utility developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# Runs tarvanix-cli on the managed host and reads its JSON. Every protocol detail stays in
# the CLI: these modules only choose its arguments and turn its answers into results.
# Standard library only, as on any managed host.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import subprocess

PASSWORD_VARIABLE = 'TARVANIX_PASSWORD'
NEW_PASSWORD_VARIABLE = 'TARVANIX_NEW_PASSWORD'
JSON_VERSION = 1

# The CLI's exit statuses.
EXIT_OK = 0
EXIT_TARGET_FAILED = 1
EXIT_REFUSED = 2
EXIT_NO_MODULE = 3
EXIT_OUTPUT_FAILED = 4
EXIT_INTERRUPTED = 130

# Options every module takes.
COMMON_ARGUMENT_SPEC = dict(
    cli=dict(type='str', default='tarvanix-cli'),
)

TARGET_ARGUMENT_SPEC = dict(
    target=dict(type='str', required=True),
    password=dict(type='str', no_log=True),
)

class CliFailure(Exception):
    """The CLI ended without doing what was asked: its own message and exit status."""

    def __init__(self, message, rc, stdout='', stderr='', summary=None):
        super(CliFailure, self).__init__(message)
        self.message = message
        self.rc = rc
        self.stdout = stdout
        self.stderr = stderr
        self.summary = summary


def _last_line(text):
    for line in reversed(text.splitlines()):
        line = line.strip()
        if line:
            prefix = 'tarvanix-cli: '
            return line[len(prefix):] if line.startswith(prefix) else line
    return ''


class TarvanixCli:
    def __init__(self, module, password=None):
        self.module = module
        self.password = password
        self.commands = []
        name = module.params['cli']
        if os.sep in name:
            self.path = name
        else:
            self.path = module.get_bin_path(name, required=False)
        if not self.path or not os.access(self.path, os.X_OK):
            module.fail_json(msg='%s is not an executable program on this host' % name, rc=127)

    def _environment(self):
        env = dict(os.environ)
        # The module's option decides; a password left in the login environment must not.
        env.pop(PASSWORD_VARIABLE, None)
        env.pop(NEW_PASSWORD_VARIABLE, None)
        if self.password:
            env[PASSWORD_VARIABLE] = self.password
        return env

    def run(self, args):
        """(rc, stdout, stderr) of one CLI run, never waiting at a password prompt."""
        argv = [self.path] + list(args)
        self.commands.append(argv)
        try:
            # A session of its own has no controlling terminal: a module whose password is
            # missing fails with the CLI's message instead of waiting at a prompt.
            proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, env=self._environment(),
                                    start_new_session=True)
            out, err = proc.communicate()
        except OSError as e:
            raise CliFailure('cannot run %s: %s' % (self.path, e), 127)
        return (proc.returncode, out.decode('utf-8', 'replace'), err.decode('utf-8', 'replace'))

    @staticmethod
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

    def objects(self, args):
        """Objects of a command that prints JSON on success (discover, get)."""
        rc, out, err = self.run(args)
        if rc != EXIT_OK:
            raise CliFailure(_last_line(err) or 'tarvanix-cli exited with status %d' % rc,
                             rc, out, err)
        try:
            return self.parse(out)
        except ValueError as e:
            raise CliFailure(str(e), rc, out, err)

    def summary(self, args, target):
        """The summary object of one target of set, reboot or upgrade; a CliFailure unless
        its result is ok, unchanged or dry-run."""
        rc, out, err = self.run(args)
        row = None
        if out.strip():
            try:
                rows = self.parse(out)
            except ValueError as e:
                if rc == EXIT_OK:
                    raise CliFailure(str(e), rc, out, err)
                rows = []
            row = next((r for r in rows if r.get('target') == target), rows[0] if rows else None)
        if row is not None and row.get('result') in ('failed', 'interrupted'):
            raise CliFailure(row.get('message') or _last_line(err)
                             or 'tarvanix-cli: %s %s' % (target, row.get('result')),
                             rc if rc != EXIT_OK else EXIT_TARGET_FAILED, out, err, row)
        if rc != EXIT_OK:
            raise CliFailure(_last_line(err) or 'tarvanix-cli exited with status %d' % rc,
                             rc, out, err, row)
        if row is None:
            raise CliFailure('tarvanix-cli printed no summary for %s' % target, rc, out, err)
        return row

    def fail(self, failure, **extra):
        result = dict(msg=failure.message, rc=failure.rc, stdout=failure.stdout,
                      stderr=failure.stderr, cmd=self.commands[-1] if self.commands else [])
        if failure.summary is not None:
            result['summary'] = failure.summary
        result.update(extra)
        self.module.fail_json(**result)


def check_target(module):
    """The target as given; the CLI judges it, but nothing may pass for one of its options."""
    target = module.params['target']
    if not target or target.startswith('-'):
        module.fail_json(msg='target must be an IP address or a MAC address, not %r' % target,
                         rc=EXIT_REFUSED)
    return target
