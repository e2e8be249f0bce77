#!/usr/bin/python
# Copyright: (c) 2026, Tarvanix Utility developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# One module restarted with tarvanix-cli reboot.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: reboot
short_description: Restart a module
description:
  - Runs C(tarvanix-cli reboot TARGET --json) on the managed host; with I(wait) it returns only
    when the module answers discovery again (the CLI waits about a minute at most).
  - Always reports C(changed=true); in check mode nothing is sent.
version_added: 1.0.0
author: Tarvanix Utility developers
options:
  target:
    description:
      - The module's MAC address, or its IP address as the managed host sees it.
      - Before anything is changed the CLI asks the module that answers for its MAC and changes
        nothing on any other module. An IP address that several modules answer (factory
        defaults) is refused with the MACs found there; name such a module by its MAC.
    type: str
    required: true
  password:
    description:
      - The module's password, needed only when it has one. Handed to the CLI in the environment
        variable C(TARVANIX_PASSWORD), never on its command line, and never logged.
    type: str
  wait:
    description: Wait until the module answers discovery again after the restart.
    type: bool
    default: true
  cli:
    description: The CLI program on the managed host, a name looked up in C(PATH) or a path.
    type: str
    default: tarvanix-cli
attributes:
  check_mode:
    support: full
notes:
  - Fails with the CLI's message (for example "did not answer discovery within 60 s after the
    restart") and its exit status in I(rc).
'''

EXAMPLES = r'''
- name: Restart every module of the site and wait for each
  tarvanix.devices.reboot:
    target: "{{ item.lanMac }}"
    password: "{{ tarvanix_passwords[item.lanMac] | default(omit) }}"
  loop: "{{ tarvanix_modules }}"
'''

RETURN = r'''
result:
  description: The CLI's result, C(ok); C(dry-run) in check mode.
  returned: success
  type: str
module:
  description: The module as the CLI found it.
  returned: success
  type: dict
  sample: {"devName": "TX-01000B", "lanIp": "192.0.2.11", "lanMac": "02:54:58:01:00:0B"}
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tarvanix.devices.plugins.module_utils.cli import (
    COMMON_ARGUMENT_SPEC, TARGET_ARGUMENT_SPEC, CliFailure, TarvanixCli, check_target)


def main():
    options = dict(wait=dict(type='bool', default=True))
    options.update(TARGET_ARGUMENT_SPEC)
    options.update(COMMON_ARGUMENT_SPEC)
    module = AnsibleModule(argument_spec=options, supports_check_mode=True)
    target = check_target(module)
    cli = TarvanixCli(module, module.params['password'])
    if module.check_mode:
        module.exit_json(changed=True, result='dry-run', module={})
    args = ['reboot', target, '--json']
    if module.params['wait']:
        args.append('--wait')
    try:
        row = cli.summary(args, target)
    except CliFailure as failure:
        cli.fail(failure)
    module.exit_json(changed=True, result=row.get('result'), module=row.get('module') or {})


if __name__ == '__main__':
    main()
