#!/usr/bin/python
# Copyright: (c) 2026, Tarvanix Utility developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# Modules' settings brought to given values with tarvanix-cli set, which reads each module
# first and writes only when something differs.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: settings
short_description: Bring modules' settings to given values
description:
  - Runs C(tarvanix-cli set --targets FILE --json NAME=VALUE ...) on the managed host. The CLI
    reads each module first, checks the values exactly as the configuration window's "Save to
    Module" does and writes (and so restarts the module) only when a value differs.
  - A module that already holds every value is not written; the task reports C(changed=false)
    when none was.
  - Modules given the same values go in one run of the CLI; I(target_settings) gives a module
    values of its own, and each different set of values is one more run.
  - In check mode the CLI runs with C(--dry-run). Each module is read, nothing is written, and
    the task reports what would change. With C(--diff) it shows each changed setting's old and
    new value.
version_added: 1.0.0
author: Tarvanix Utility developers (!UNKNOWN)
extends_documentation_fragment:
  - tarvanix.devices.cli
  - tarvanix.devices.cli.targets
options:
  settings:
    description:
      - Setting names of the settings record (as C(tarvanix-cli get --json) prints them, for
        example C(devName), C(sp0_baud), C(lanPingEn)) and their values, for every target.
        Numbers and booleans are given to the CLI as text (C(true) as C(1)).
      - A choice takes the window's item text or the module's code for it.
      - A name that is or looks like a password (C(passwd), C(newPasswd), C(password), ...) is
        refused, and its value is never shown; give a new password in I(new_password).
    type: dict
    default: {}
  target_settings:
    description:
      - Values of a module's own on top of I(settings), by target as given in I(target) or
        I(targets), for example C(tarvanix_module_settings) by MAC address. A target named here
        that is not among the targets is left alone, with a warning.
    type: dict
    default: {}
  new_password:
    description:
      - A new password for every target (C(set --change-password), the new password in
        C(TARVANIX_NEW_PASSWORD)); an empty text removes the password.
      - A module that logs in with it (given in I(password) or I(passwords)) has it already and
        is not written for it, so the task is idempotent when both say the same.
      - Never on a command line, never logged or returned.
    type: str
attributes:
  check_mode:
    support: full
    description: The CLI reads each module and writes nothing (C(set --dry-run)).
  diff_mode:
    support: full
    description: Each changed setting's old and new value, a module at a time.
notes:
  - Fails with the CLI's message (a value the window would refuse, a wrong password, a module
    that does not answer) and its exit status in I(rc); with several targets the message names
    each module that failed, and I(modules) has each module's result.
'''

EXAMPLES = r'''
- name: Serial baseline on one module
  tarvanix.devices.settings:
    target: "02:54:58:01:00:0B"
    settings:
      sp0_baud: 9600
      sp0_dataFmt: N81
      lanPingEn: false

- name: The baseline on every module the site's host found, in one run of the CLI
  tarvanix.devices.settings:
    targets: "{{ tarvanix_modules | map(attribute='lanMac') | list }}"
    settings: "{{ tarvanix_baseline }}"
    target_settings: "{{ tarvanix_module_settings }}"
    passwords: "{{ tarvanix_passwords }}"

- name: A new password, idempotent once set
  tarvanix.devices.settings:
    target: "02:54:58:01:00:0C"
    password: "{{ vault_press_line_2_password }}"
    new_password: "{{ vault_press_line_2_password }}"
'''

RETURN = r'''
result:
  description: With I(target), the CLI's result for the module, C(ok) (written), C(unchanged)
    or C(dry-run).
  returned: success, with target
  type: str
  sample: unchanged
changes:
  description: With I(target), each setting that differs, with its value before and after.
  returned: success, with target
  type: list
  elements: dict
  sample: [{"name": "sp0_baud", "old": "115200", "new": "9600"}]
module:
  description: With I(target), the module as the CLI found it.
  returned: success, with target
  type: dict
  sample: {"devName": "TX-01000B", "lanIp": "192.0.2.11", "lanMac": "02:54:58:01:00:0B"}
modules:
  description: One entry a target, in the order given, with the keys above and C(target),
    C(changed), and C(failed) and C(msg) for a module that failed.
  returned: always
  type: list
  elements: dict
'''

import re

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.six import string_types
from ansible_collections.tarvanix.devices.plugins.module_utils.cli import (
    COMMON_OPTIONS, PASSWORD_LIKE, TARGETS_OPTIONS,
    TARGETS_MUTUALLY_EXCLUSIVE, TARGETS_REQUIRED_ONE_OF, CliFailure, TarvanixCli, finish,
    outcome, target_list, targets_args)

_NAME = re.compile(r'^[A-Za-z][A-Za-z0-9_]*$')


def value_text(value):
    if isinstance(value, bool):
        return '1' if value else '0'
    if isinstance(value, (int, float)) or isinstance(value, string_types):
        return str(value)
    return None


def assignments_of(module, values, where):
    out = []
    for name, value in sorted(values.items()):
        if PASSWORD_LIKE.search(name):
            # Not even a failed task may show it.
            if isinstance(value, string_types) and value:
                module.no_log_values.add(value)
            module.fail_json(msg='%s: %s is a password and is not taken here; give a new '
                             'password in new_password (no_log)' % (where, name), rc=2)
        text = value_text(value)
        if not _NAME.match(name) or text is None:
            module.fail_json(msg='%s: %s must be a setting name with a text or number value'
                             % (where, name), rc=2)
        out.append('%s=%s' % (name, text))
    return out


def main():
    options = dict(settings=dict(type='dict', default={}),
                   target_settings=dict(type='dict', default={}),
                   new_password=dict(type='str', no_log=True))
    options.update(TARGETS_OPTIONS)
    options.update(COMMON_OPTIONS)
    module = AnsibleModule(argument_spec=options, supports_check_mode=True,
                           mutually_exclusive=TARGETS_MUTUALLY_EXCLUSIVE,
                           required_one_of=TARGETS_REQUIRED_ONE_OF)
    targets = target_list(module)
    params = module.params
    base = assignments_of(module, params['settings'], 'settings')
    own = params['target_settings'] or {}
    for name, values in own.items():
        if not isinstance(values, dict):
            module.fail_json(msg='target_settings: %s must map setting names to values' % name,
                             rc=2)
        own[name] = dict((n, v) for n, v in values.items())
    for name in sorted(set(own) - set(targets)):
        module.warn('target_settings names %s, which is not among the targets' % name)
    new_password = params['new_password']

    # Targets with the same values share a run of the CLI.
    groups = {}
    for target in targets:
        values = dict(params['settings'])
        values.update(own.get(target) or {})
        key = tuple(assignments_of(module, values, 'target_settings for %s' % target)
                    if target in own else base)
        groups.setdefault(key, []).append(target)

    cli = TarvanixCli(module)
    rows = {}
    for assignments, group in groups.items():
        if not assignments and new_password is None:
            for target in group:
                rows[target] = dict(target=target, result='unchanged', module={}, changes=[])
            continue

        def args_of(path, assignments=assignments):
            args = ['set'] + targets_args(path, module) + ['--json']
            if module.check_mode:
                args.append('--dry-run')
            if new_password is not None:
                args.append('--change-password')
            return args + list(assignments)

        try:
            rows.update(cli.summaries(group, params['passwords'], params['password'], args_of,
                                      new_password))
        except CliFailure as failure:
            cli.fail(failure.message, failure.rc)

    items = []
    before = []
    after = []
    for target in targets:
        row = rows[target]
        item = outcome(row)
        changes = row.get('changes') or []
        # "ok" means written, "dry-run" that a write would change something.
        item.update(changes=changes, changed=row.get('result') in ('ok', 'dry-run'))
        items.append(item)
        if changes:
            head = '# %s\n' % target if len(targets) > 1 else ''
            before.append(head + ''.join('%s: %s\n' % (c.get('name'), c.get('old'))
                                         for c in changes))
            after.append(head + ''.join('%s: %s\n' % (c.get('name'), c.get('new'))
                                        for c in changes))
    extra = {}
    if module._diff and before:
        label = targets[0] if len(targets) == 1 else '%d modules' % len(targets)
        extra['diff'] = dict(before_header='%s (before)' % label,
                             after_header='%s (after)' % label,
                             before=''.join(before), after=''.join(after))
    finish(module, cli, targets, items, any(i['changed'] for i in items), **extra)


if __name__ == '__main__':
    main()
