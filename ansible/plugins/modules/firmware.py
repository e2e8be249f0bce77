#!/usr/bin/python
# Copyright: (c) 2026, Tarvanix Utility developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# New firmware for modules with tarvanix-cli upgrade, skipped for a module that already
# reports the version the image brings.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: firmware
short_description: Send modules new firmware and wait for them to come back
description:
  - Runs C(tarvanix-cli upgrade --targets FILE --firmware IMAGE --json --wait) on the managed
    host. The CLI checks the file as the firmware dialog does, sends it, and waits until each
    module answers discovery again after its restart, then reads the version it reports.
  - A module that already reports the version the image brings is skipped (nothing is sent,
    C(changed=false)); the version is read first with C(tarvanix-cli get).
  - Which version an image brings is I(version) when given. The image itself does not say (a
    firmware file is known by its first three bytes only), so without I(version) the version is
    the one a module reported after this image (the same bytes, by SHA-256) was last sent from
    this host, kept in I(versions_file). Until an image was sent once, every target gets it.
  - After an upgrade each module must report that version, else its upgrade fails. An image
    known to bring another version than I(version) fails at once, and nothing is sent (a second
    flash would bring the same).
  - In check mode nothing is sent; each module is read and the task reports whether an upgrade
    would run.
version_added: 1.0.0
author: Tarvanix Utility developers (!UNKNOWN)
extends_documentation_fragment:
  - tarvanix.devices.cli
  - tarvanix.devices.cli.targets
options:
  image:
    description: The firmware file on the managed host (copy it there first).
    type: path
    required: true
  version:
    description:
      - The firmware version text the modules report once they run this image, for example
        C(V2.00).
    type: str
  versions_file:
    description:
      - Where the managed host keeps, for each image sent (by SHA-256), the version a module
        reported after it. Written by the user the task runs as, mode 0600.
      - Default C($XDG_STATE_HOME/tarvanix/firmware-versions.json), with C($XDG_STATE_HOME)
        C(~/.local/state) when unset.
    type: path
attributes:
  check_mode:
    support: full
    description: Each module is read; nothing is sent.
  diff_mode:
    support: full
    description: Each module's firmware version before and after.
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

- name: Every module of the site to V2.00, in one run of the CLI
  tarvanix.devices.firmware:
    targets: "{{ tarvanix_modules | map(attribute='lanMac') | list }}"
    image: /var/tmp/tx110-v2.00.aff
    version: V2.00
    passwords: "{{ tarvanix_passwords }}"
'''

RETURN = r'''
firmware_version:
  description: With I(target), the version the module reports, after the upgrade when one ran.
  returned: success, with target
  type: str
  sample: V2.00
previous_version:
  description: With I(target), the version the module reported before.
  returned: success, with target
  type: str
  sample: V1.05
result:
  description: With I(target), the CLI's result, C(ok) after an upgrade; C(unchanged) when it
    was skipped, C(dry-run) in check mode when an upgrade would run.
  returned: success, with target
  type: str
image_version:
  description: The version the image brings, as I(version) gives it or as learned; empty when
    not known yet.
  returned: always
  type: str
  sample: V2.00
modules:
  description: One entry a target, in the order given, with the keys above and C(target),
    C(changed), and C(failed) and C(msg) for a module that failed.
  returned: always
  type: list
  elements: dict
'''

import hashlib
import json
import os
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tarvanix.devices.plugins.module_utils.cli import (
    COMMON_OPTIONS, EXIT_REFUSED, TARGETS_OPTIONS, TARGETS_MUTUALLY_EXCLUSIVE,
    TARGETS_REQUIRED_ONE_OF, CliFailure, TarvanixCli, finish, outcome, target_list, targets_args,
    took_command)


def default_versions_file():
    state = os.environ.get('XDG_STATE_HOME') or os.path.expanduser('~/.local/state')
    return os.path.join(state, 'tarvanix', 'firmware-versions.json')


def image_digest(module, path):
    try:
        digest = hashlib.sha256()
        with open(path, 'rb') as f:
            for block in iter(lambda: f.read(1 << 16), b''):
                digest.update(block)
        return digest.hexdigest()
    except (IOError, OSError) as e:
        module.fail_json(msg='image %s: %s' % (path, e.strerror or e), rc=EXIT_REFUSED)


def read_versions(path):
    try:
        fd = os.open(path, os.O_RDONLY | getattr(os, 'O_NOFOLLOW', 0))
        with os.fdopen(fd) as f:
            doc = json.load(f)
        return doc.get('images', {}) if isinstance(doc, dict) else {}
    except (IOError, OSError, ValueError):
        return {}


def write_versions(module, path, images):
    folder = os.path.dirname(path)
    try:
        if not os.path.isdir(folder):
            os.makedirs(folder, 0o700)
        fd, temporary = tempfile.mkstemp(prefix='.firmware-versions.', dir=folder)
        with os.fdopen(fd, 'w') as f:
            json.dump(dict(version=1, images=images), f, indent=1, sort_keys=True)
        os.rename(temporary, path)
    except (IOError, OSError) as e:
        module.warn('cannot keep the image\'s version in %s: %s' % (path, e))


def read_current(cli, module, targets, wanted, items):
    """Each module's version now; the targets that need the image."""
    params = module.params
    try:
        found = cli.settings_of(targets, params['passwords'], params['password'])
    except CliFailure as failure:
        cli.fail(failure.message, failure.rc)
    todo = []
    for t in targets:
        read = found[t]
        if isinstance(read, CliFailure):
            items[t].update(failed=True, msg=read.message, rc=read.rc, result='failed')
            continue
        now = read.get('fmwVer', '')
        items[t].update(previous_version=now, firmware_version=now,
                        module=dict((k, read.get(k, '')) for k in ('devName', 'lanIp', 'lanMac')))
        if wanted is not None and now == wanted:
            items[t].update(result='unchanged')
        else:
            todo.append(t)
    return todo


def send(cli, module, todo, wanted, items):
    """The image sent to `todo`; the versions the modules reported afterwards."""
    params = module.params
    image = params['image']
    # The CLI checks the file itself; a leading dash must not pass for one of its options.
    path = os.path.join('.', image) if image.startswith('-') else image

    def args_of(targets_file):
        return (['upgrade'] + targets_args(targets_file, module)
                + ['--firmware', path, '--json', '--wait'])

    try:
        rows = cli.summaries(todo, params['passwords'], params['password'], args_of)
    except CliFailure as failure:
        cli.fail(failure.message, failure.rc)
    reported = set()
    for t in todo:
        row = rows[t]
        item = items[t]
        item.update(outcome(row))
        now = row.get('firmwareVersion', '')
        item.update(firmware_version=now, changed=took_command(row))
        if row.get('result') != 'ok':
            continue
        if now:
            reported.add(now)
        if wanted is not None and now != wanted:
            item.update(failed=True, rc=1,
                        msg='the module reports firmware %s after the upgrade, not %s'
                        % (now or '(nothing)', wanted))
    return reported


def main():
    options = dict(image=dict(type='path', required=True), version=dict(type='str'),
                   versions_file=dict(type='path'))
    options.update(TARGETS_OPTIONS)
    options.update(COMMON_OPTIONS)
    module = AnsibleModule(argument_spec=options, supports_check_mode=True,
                           mutually_exclusive=TARGETS_MUTUALLY_EXCLUSIVE,
                           required_one_of=TARGETS_REQUIRED_ONE_OF)
    targets = target_list(module)
    params = module.params
    image = params['image']
    given = params['version']
    versions_file = params['versions_file'] or default_versions_file()

    digest = image_digest(module, image)
    images = read_versions(versions_file)
    learned = (images.get(digest) or {}).get('fmwVer') or None
    if given is not None and learned is not None and learned != given:
        module.fail_json(msg='%s brought firmware %s when it was last sent, not %s: nothing sent'
                         % (image, learned, given), rc=1, image_version=learned, modules=[])
    wanted = given if given is not None else learned

    cli = TarvanixCli(module)
    items = dict((t, dict(target=t, module={}, changed=False)) for t in targets)
    todo = list(targets)
    # The modules are read first unless every one gets the image anyway.
    if wanted is not None or module.check_mode:
        todo = read_current(cli, module, targets, wanted, items)
    if module.check_mode:
        for t in todo:
            items[t].update(result='dry-run', changed=True)
    elif todo:
        reported = send(cli, module, todo, wanted, items)
        # What the modules report after this image is the version it brings; modules that
        # disagree teach nothing.
        if len(reported) == 1:
            learned = reported.pop()
            if images.get(digest, {}).get('fmwVer') != learned:
                images[digest] = dict(fmwVer=learned, image=os.path.basename(image))
                write_versions(module, versions_file, images)
            if wanted is None:
                wanted = learned

    listed = [items[t] for t in targets]
    extra = dict(image_version=wanted or '')
    if module._diff:
        before = []
        after = []
        for i in listed:
            head = '%s ' % i['target'] if len(targets) > 1 else ''
            then = i.get('firmware_version', '?')
            if i.get('result') == 'dry-run':
                then = wanted or image
            before.append('%sfmwVer: %s\n' % (head, i.get('previous_version', '?')))
            after.append('%sfmwVer: %s\n' % (head, then))
        extra['diff'] = dict(before=''.join(before), after=''.join(after))
    finish(module, cli, targets, listed, any(i.get('changed') for i in listed), **extra)


if __name__ == '__main__':
    main()
