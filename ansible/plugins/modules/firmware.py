#!/usr/bin/python
# Copyright: (c) 2026, Tarvanix Utility developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# New firmware for one module with tarvanix-cli upgrade, skipped when the module already
# reports the wanted version.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: firmware
short_description: Send a module new firmware and wait for it to come back
description:
  - Runs C(tarvanix-cli upgrade TARGET --firmware IMAGE --json --wait) on the managed host. The
    CLI checks the file as the firmware dialog does, sends it, and waits until the module answers
    discovery again after its restart.
  - With I(version) the module's firmware version is read first (C(tarvanix-cli get)); when it
    already is I(version) nothing is sent and the task reports C(changed=false). After an
    upgrade the version the module then reports must be I(version), else the task fails.
  - In check mode nothing is sent; the task reports whether an upgrade would run.
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
  image:
    description: The firmware file on the managed host (copy it there first).
    type: path
    required: true
  version:
    description:
      - The firmware version text the module reports once it runs this image, for example
        C(V2.00). Without it every run sends the image.
    type: str
  password:
    description:
      - The module's password, needed only when it has one. Handed to the CLI in the environment
        variable C(TARVANIX_PASSWORD), never on its command line, and never logged.
    type: str
  cli:
    description: The CLI program on the managed host, a name looked up in C(PATH) or a path.
    type: str
    default: tarvanix-cli
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
    description: Shows the firmware version before and after.
notes:
  - Fails with the CLI's message (for example "file can't be recognised", or a module that did
    not answer discovery after the restart) and its exit status in I(rc).
  - Roll out one site at a time with the play keyword C(serial).
'''

EXAMPLES = r'''
- name: Image onto the site's host
  ansible.builtin.copy:
    src: files/tx110-v2.00.aff
    dest: /var/tmp/tx110-v2.00.aff
    mode: "0644"

- name: Every module of the site to V2.00
  tarvanix.devices.firmware:
    target: "{{ item.lanMac }}"
    image: /var/tmp/tx110-v2.00.aff
    version: V2.00
    password: "{{ tarvanix_passwords[item.lanMac] | default(omit) }}"
  loop: "{{ tarvanix_modules }}"
'''

RETURN = r'''
firmware_version:
  description: The version the module reports, after the upgrade when one ran.
  returned: success
  type: str
  sample: V2.00
previous_version:
  description: The version the module reported before (only with I(version)).
  returned: when version is given
  type: str
  sample: V1.05
result:
  description: The CLI's result, C(ok) after an upgrade; C(unchanged) when it was skipped,
    C(dry-run) in check mode when an upgrade would run.
  returned: success
  type: str
module:
  description: The module as the CLI found it (after an upgrade).
  returned: when an upgrade ran
  type: dict
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tarvanix.devices.plugins.module_utils.cli import (
    COMMON_ARGUMENT_SPEC, TARGET_ARGUMENT_SPEC, CliFailure, TarvanixCli, check_target)


def main():
    options = dict(image=dict(type='path', required=True), version=dict(type='str'))
    options.update(TARGET_ARGUMENT_SPEC)
    options.update(COMMON_ARGUMENT_SPEC)
    module = AnsibleModule(argument_spec=options, supports_check_mode=True)
    target = check_target(module)
    image = module.params['image']
    wanted = module.params['version']
    cli = TarvanixCli(module, module.params['password'])

    result = dict(changed=False)
    before = None
    if wanted is not None:
        try:
            found = cli.objects(['get', target, '--json'])
        except CliFailure as failure:
            cli.fail(failure)
        before = found[0].get('fmwVer', '') if found else ''
        result['previous_version'] = before
        if before == wanted:
            module.exit_json(changed=False, result='unchanged', firmware_version=before,
                             previous_version=before)

    if module._diff:
        result['diff'] = dict(before='fmwVer: %s\n' % (before if before is not None else '?'),
                              after='fmwVer: %s\n' % (wanted if wanted is not None else image))
    if module.check_mode:
        result.update(changed=True, result='dry-run', firmware_version=before or '')
        module.exit_json(**result)

    # The CLI checks the file itself; a leading dash must not pass for one of its options.
    if image.startswith('-'):
        image = os.path.join('.', image)
    try:
        row = cli.summary(['upgrade', target, '--firmware', image, '--json', '--wait'], target)
    except CliFailure as failure:
        cli.fail(failure, **dict((k, v) for k, v in result.items() if k != 'changed'))
    now = row.get('firmwareVersion', '')
    result.update(changed=True, result=row.get('result'), firmware_version=now,
                  module=row.get('module') or {})
    if wanted is not None and now != wanted:
        module.fail_json(msg='the module reports firmware %s after the upgrade, not %s'
                         % (now or '(nothing)', wanted), rc=1, **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
