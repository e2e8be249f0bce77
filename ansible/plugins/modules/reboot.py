#!/usr/bin/python
# Copyright: (c) 2026, Tarvanix Utility developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# Modules restarted with tarvanix-cli reboot.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: reboot
short_description: Restart modules
description:
  - Runs C(tarvanix-cli reboot --targets FILE --json) on the managed host; with I(wait) it
    returns only when each module answers discovery again (the CLI waits about a minute at
    most).
  - Always reports C(changed=true) for a module it restarted.
  - In check mode nothing is sent; each module is read (C(tarvanix-cli get)), so that a module
    that does not answer, or whose password is wrong, fails as the restart would.
version_added: 1.0.0
author: Tarvanix Utility developers (!UNKNOWN)
extends_documentation_fragment:
  - tarvanix.devices.cli
  - tarvanix.devices.cli.targets
options:
  wait:
    description: Wait until each module answers discovery again after the restart.
    type: bool
    default: true
attributes:
  check_mode:
    support: full
    description: Each module is read, none is restarted.
notes:
  - Fails with the CLI's message (for example "did not answer discovery within 60 s after the
    restart") and its exit status in I(rc).
'''

EXAMPLES = r'''
- name: Restart every module of the site and wait for each
  tarvanix.devices.reboot:
    targets: "{{ tarvanix_modules | map(attribute='lanMac') | list }}"
    passwords: "{{ tarvanix_passwords }}"
'''

RETURN = r'''
result:
  description: With I(target), the CLI's result, C(ok); C(dry-run) in check mode.
  returned: success, with target
  type: str
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

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tarvanix.devices.plugins.module_utils.cli import (
    COMMON_OPTIONS, TARGETS_OPTIONS, TARGETS_MUTUALLY_EXCLUSIVE,
    TARGETS_REQUIRED_ONE_OF, CliFailure, TarvanixCli, finish, outcome, target_list, targets_args,
    took_command)


def main():
    options = dict(wait=dict(type='bool', default=True))
    options.update(TARGETS_OPTIONS)
    options.update(COMMON_OPTIONS)
    module = AnsibleModule(argument_spec=options, supports_check_mode=True,
                           mutually_exclusive=TARGETS_MUTUALLY_EXCLUSIVE,
                           required_one_of=TARGETS_REQUIRED_ONE_OF)
    targets = target_list(module)
    params = module.params
    cli = TarvanixCli(module)
    items = []
    try:
        if module.check_mode:
            found = cli.settings_of(targets, params['passwords'], params['password'])
            for t in targets:
                read = found[t]
                if isinstance(read, CliFailure):
                    items.append(dict(target=t, result='failed', module={}, changed=False,
                                      failed=True, msg=read.message, rc=read.rc))
                else:
                    items.append(dict(target=t, result='dry-run', changed=True, rc=0,
                                      module=dict((k, read.get(k, '')) for k in
                                                  ('devName', 'lanIp', 'lanMac'))))
        else:
            def args_of(path):
                args = ['reboot'] + targets_args(path, module) + ['--json']
                return args + ['--wait'] if params['wait'] else args

            rows = cli.summaries(targets, params['passwords'], params['password'], args_of)
            for t in targets:
                item = outcome(rows[t])
                item['changed'] = took_command(rows[t])
                items.append(item)
    except CliFailure as failure:
        cli.fail(failure.message, failure.rc)
    finish(module, cli, targets, items, any(i['changed'] for i in items))


if __name__ == '__main__':
    main()
