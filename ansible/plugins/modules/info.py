#!/usr/bin/python
# Copyright: (c) 2026, Tarvanix Utility developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# Modules' settings and firmware version, read with tarvanix-cli get, as data for later tasks.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: info
short_description: Read modules' settings and firmware version
description:
  - Runs C(tarvanix-cli get --targets FILE --json) on the managed host and returns what it
    prints, each module's settings as the settings record names them, with its firmware
    version C(fmwVer), as data for later tasks (C(assert), templates, conditions).
  - Passwords are never read nor returned.
  - Nothing is changed on any module; the task runs in check mode as well.
version_added: 1.0.0
author: Tarvanix Utility developers (!UNKNOWN)
extends_documentation_fragment:
  - tarvanix.devices.cli
  - tarvanix.devices.cli.targets
attributes:
  check_mode:
    support: full
    description: Reading changes nothing, so it also runs in check mode.
notes:
  - A module that cannot be read fails the task with the CLI's message; the others are still
    returned.
'''

EXAMPLES = r'''
- name: Read every module the site's host found
  tarvanix.devices.info:
    targets: "{{ tarvanix_modules | map(attribute='lanMac') | list }}"
    passwords: "{{ tarvanix_passwords }}"
  register: read

- name: Each runs the firmware of the rollout
  ansible.builtin.assert:
    that: item.fmwVer == 'V2.00'
  loop: "{{ read.modules }}"
  loop_control:
    label: "{{ item.lanMac }}"
'''

RETURN = r'''
modules:
  description:
    - One object a module read, in the order of the targets, as C(tarvanix-cli get --json)
      prints it (without C(version)); C(target) is the target as given.
  returned: always
  type: list
  elements: dict
  sample:
    - {"target": "02:54:58:01:00:0B", "devName": "Hall-3", "fmwVer": "V1.05",
       "sp0_baud": "115200", "lanIp": "192.0.2.11", "lanMac": "02:54:58:01:00:0B"}
settings:
  description: The same objects by target.
  returned: always
  type: dict
failures:
  description: Each target that could not be read, with the CLI's message.
  returned: when a target failed
  type: list
  elements: dict
  sample: [{"target": "02:54:58:01:00:0C", "msg": "Password is wrong"}]
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tarvanix.devices.plugins.module_utils.cli import (
    COMMON_OPTIONS, TARGETS_OPTIONS, TARGETS_MUTUALLY_EXCLUSIVE,
    TARGETS_REQUIRED_ONE_OF, CliFailure, TarvanixCli, target_list)


def main():
    options = dict()
    options.update(TARGETS_OPTIONS)
    options.update(COMMON_OPTIONS)
    module = AnsibleModule(argument_spec=options, supports_check_mode=True,
                           mutually_exclusive=TARGETS_MUTUALLY_EXCLUSIVE,
                           required_one_of=TARGETS_REQUIRED_ONE_OF)
    targets = target_list(module)
    cli = TarvanixCli(module)
    try:
        found = cli.settings_of(targets, module.params['passwords'], module.params['password'])
    except CliFailure as failure:
        cli.fail(failure.message, failure.rc)
    read = [found[t] for t in targets if not isinstance(found[t], CliFailure)]
    failures = [dict(target=t, msg=found[t].message, rc=found[t].rc)
                for t in targets if isinstance(found[t], CliFailure)]
    result = dict(changed=False, modules=read, settings=dict((o['target'], o) for o in read))
    if failures:
        if len(targets) == 1:
            msg = failures[0]['msg']
        else:
            msg = '%d of %d modules could not be read: %s' % (
                len(failures), len(targets),
                '; '.join('%s: %s' % (f['target'], f['msg']) for f in failures))
        cli.fail(msg, failures[0]['rc'], failures=failures, **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
