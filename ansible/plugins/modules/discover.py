#!/usr/bin/python
# Copyright: (c) 2026, Tarvanix Utility developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# The modules one site's host finds, with tarvanix-cli's search.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: discover
short_description: List the modules a site's host finds
description:
  - Runs C(tarvanix-cli discover --json) on the managed host, which broadcasts on every
    interface of the host, or searches for one address with I(ip).
  - A broadcast never crosses a router, so each site needs a host of its own; this module runs
    there and returns what that host finds, as the fact C(tarvanix_modules).
  - Nothing is changed on any module.
version_added: 1.0.0
author: Tarvanix Utility developers (!UNKNOWN)
extends_documentation_fragment:
  - tarvanix.devices.cli
options:
  ip:
    description:
      - Search for this one address instead of broadcasting ("Search by IP"); reaches a module
        behind a router.
      - What it finds is added to the fact C(tarvanix_modules) of an earlier search (a module
        found again replaces its entry), so a site's list can hold both.
    type: str
attributes:
  check_mode:
    support: full
    description: The search changes nothing, so it also runs in check mode.
notes:
  - Fails with the CLI's message and exit status (I(rc)) when the search cannot run or finds
    no module (status 3).
'''

EXAMPLES = r'''
- name: Find the site's modules
  tarvanix.devices.discover:

- name: List them
  ansible.builtin.debug:
    msg: "{{ item.devName }} {{ item.lanIp }} {{ item.lanMac }}{{ ' (shared address)' if item.sharedIp else '' }}"
  loop: "{{ tarvanix_modules }}"

- name: A module behind a router
  tarvanix.devices.discover:
    ip: 198.51.100.40
'''

RETURN = r'''
modules:
  description: One entry a module found, as in the device list.
  returned: success
  type: list
  elements: dict
  contains:
    number: {description: Row number in the list., type: str, sample: "1"}
    devName: {description: Device name., type: str, sample: Press-Line-2}
    lanMac: {description: MAC address., type: str, sample: "02:54:58:01:00:0B"}
    lanIp: {description: IP address., type: str, sample: 192.0.2.11}
    sharedIp:
      description:
        - Whether other modules answered from the same address (modules fresh from the box
          share a factory address). Such a module must be named by I(lanMac) in the other
          modules' I(target); its address is refused there.
      type: bool
      sample: false
    password: {description: Whether the module has a password., type: bool, sample: false}
    model: {description: Model name., type: str, sample: TX-110}
    mode: {description: Device mode., type: str}
ansible_facts:
  description: The list as the fact C(tarvanix_modules); after a search by I(ip), with the
    modules of the earlier search.
  returned: success
  type: dict
  contains:
    tarvanix_modules:
      description: Same as I(modules).
      type: list
      elements: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tarvanix.devices.plugins.module_utils.cli import (
    COMMON_OPTIONS, EXIT_REFUSED, CliFailure, TarvanixCli, parse)


def main():
    options = dict(ip=dict(type='str'))
    options.update(COMMON_OPTIONS)
    module = AnsibleModule(argument_spec=options, supports_check_mode=True)
    cli = TarvanixCli(module)
    args = ['discover', '--json']
    if module.params['ip']:
        if module.params['ip'].startswith('-'):
            module.fail_json(msg='ip must be an IP address, not %r' % module.params['ip'],
                             rc=EXIT_REFUSED)
        args += ['--ip', module.params['ip']]
    try:
        run = cli.run(args)
    except CliFailure as failure:
        cli.fail(failure.message, failure.rc)
    if run.rc != 0 or run.stopped:
        cli.fail(run.message(), run.rc)
    try:
        found = parse(run.out)
    except ValueError as e:
        cli.fail(str(e), run.rc)
    modules = [dict((k, v) for k, v in o.items() if k != 'version') for o in found]
    module.exit_json(changed=False, modules=modules, ansible_facts=dict(tarvanix_modules=modules))


if __name__ == '__main__':
    main()
