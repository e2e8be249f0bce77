#!/usr/bin/python
# Copyright: (c) 2026, Tarvanix Utility developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# A module's settings brought to given values with tarvanix-cli set, which reads the module
# first and writes only when something differs.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: settings
short_description: Bring a module's settings to given values
description:
  - Runs C(tarvanix-cli set TARGET --json NAME=VALUE ...) on the managed host. The CLI reads the
    module first, checks the values exactly as the configuration window's "Save to Module" does
    and writes (and so restarts the module) only when a value differs.
  - When the module already holds every value nothing is written and the task reports
    C(changed=false).
  - In check mode the CLI runs with C(--dry-run). The module is read, nothing is written, and the
    task reports what would change.
  - With C(--diff) the task shows each changed setting's old and new value.
version_added: 1.0.0
author: Tarvanix Utility developers
options:
  target:
    description:
      - The module's IP address or MAC address, as the managed host sees it. A MAC address stays
        right when the settings change the module's address.
    type: str
    required: true
  settings:
    description:
      - Setting names of the settings record (as C(tarvanix-cli get --json) prints them, for
        example C(devName), C(sp0_baud), C(lanPingEn)) and their values. Numbers and booleans
        are given to the CLI as text (C(true) as C(1)).
      - A choice takes the window's item text or the module's code for it.
      - Passwords cannot be set here.
    type: dict
    required: true
  password:
    description:
      - The module's password, needed only when it has one. Handed to the CLI in the environment
        variable C(TARVANIX_PASSWORD), never on its command line, and never logged.
    type: str
  cli:
    description:
      - The CLI program on the managed host, a name looked up in C(PATH) or a path.
    type: str
    default: tarvanix-cli
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
notes:
  - Fails with the CLI's message (a value the window would refuse, a wrong password, a module
    that does not answer) and its exit status in I(rc).
'''

EXAMPLES = r'''
- name: Serial baseline on one module
  tarvanix.devices.settings:
    target: "02:54:58:01:00:0B"
    settings:
      sp0_baud: 9600
      sp0_dataFmt: N81
      lanPingEn: false

- name: The same on every module the site's host found
  tarvanix.devices.settings:
    target: "{{ item.lanMac }}"
    settings: "{{ tarvanix_baseline }}"
    password: "{{ tarvanix_passwords[item.lanMac] | default(omit) }}"
  loop: "{{ tarvanix_modules }}"
'''

RETURN = r'''
result:
  description: The CLI's result for the module, C(ok) (written), C(unchanged) or C(dry-run).
  returned: success
  type: str
  sample: unchanged
changes:
  description: Each setting that differs, with its value before and after.
  returned: success
  type: list
  elements: dict
  sample: [{"name": "sp0_baud", "old": "115200", "new": "9600"}]
module:
  description: The module as the CLI found it.
  returned: success
  type: dict
  sample: {"devName": "TX-01000B", "lanIp": "192.0.2.11", "lanMac": "02:54:58:01:00:0B"}
'''

import re

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.six import string_types
from ansible_collections.tarvanix.devices.plugins.module_utils.cli import (
    COMMON_ARGUMENT_SPEC, TARGET_ARGUMENT_SPEC, CliFailure, TarvanixCli, check_target)

_NAME = re.compile(r'^[A-Za-z][A-Za-z0-9_]*$')


def value_text(value):
    if isinstance(value, bool):
        return '1' if value else '0'
    if isinstance(value, (int, float)) or isinstance(value, string_types):
        return str(value)
    return None


def main():
    options = dict(settings=dict(type='dict', required=True))
    options.update(TARGET_ARGUMENT_SPEC)
    options.update(COMMON_ARGUMENT_SPEC)
    module = AnsibleModule(argument_spec=options, supports_check_mode=True)
    target = check_target(module)

    assignments = []
    for name, value in sorted(module.params['settings'].items()):
        text = value_text(value)
        if not _NAME.match(name) or text is None:
            module.fail_json(msg='settings: %s must be a setting name with a text or number value'
                             % name, rc=2)
        assignments.append('%s=%s' % (name, text))
    if not assignments:
        module.exit_json(changed=False, result='unchanged', changes=[], module={})

    cli = TarvanixCli(module, module.params['password'])
    args = ['set', target, '--json']
    if module.check_mode:
        args.append('--dry-run')
    try:
        row = cli.summary(args + assignments, target)
    except CliFailure as failure:
        cli.fail(failure)

    changes = row.get('changes') or []
    # "ok" means written, "dry-run" that a write would change something.
    result = dict(changed=row.get('result') in ('ok', 'dry-run'), result=row.get('result'),
                  changes=changes, module=row.get('module') or {})
    if module._diff and changes:
        result['diff'] = dict(
            before_header='%s (before)' % target, after_header='%s (after)' % target,
            before=''.join('%s: %s\n' % (c.get('name'), c.get('old')) for c in changes),
            after=''.join('%s: %s\n' % (c.get('name'), c.get('new')) for c in changes))
    module.exit_json(**result)


if __name__ == '__main__':
    main()
