# Copyright: (c) 2026, Tarvanix Utility developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# The options every module of the collection shares, documented once.

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):

    DOCUMENTATION = r'''
options:
  cli:
    description:
      - The CLI program on the managed host, a name looked up in C(PATH) or a path.
      - Set it for every module of the collection at once with C(module_defaults) and the group
        C(group/tarvanix.devices.all).
    type: str
    default: tarvanix-cli
  timeout:
    description:
      - Seconds after which the CLI is told to stop (SIGTERM; it ends its runs and removes its
        temporary ARP entries and routes) and the task fails.
      - Without it, the task keyword C(timeout) sets it, a little shorter than the task's, so
        that the work on the managed host ends with the task. A signal that ends the module
        (an interrupt, C(async)'s time limit) stops the CLI in the same way.
    type: float
notes:
  - The managed host needs C(tarvanix-cli) and Python's standard library, nothing else.
  - Two tasks at once on one host (C(forks), one inventory host per module) both succeed;
    their searches take turns at the discovery ports, the second waiting for the first.
'''

    TARGETS = r'''
options:
  target:
    description:
      - One module, by its MAC address (C(lanMac) of M(tarvanix.devices.discover)'s list), or its
        IP address as the managed host sees it.
      - Before anything is changed the CLI asks the module that answers for its MAC and changes
        nothing on any other module. An IP address that several modules answer (factory
        defaults) is refused with the MACs found there; name such a module by its MAC.
      - Exactly one of I(target) and I(targets) is given.
    type: str
  targets:
    description:
      - Several modules, named as in I(target), all in one run of the CLI (one search for all,
        I(jobs) at once); the result has one entry a module in I(modules).
    type: list
    elements: str
  password:
    description:
      - The password of the modules that have one, unless I(passwords) gives a module's own.
      - Handed to the CLI in its targets file (a private file, removed afterwards) or in the
        environment variable C(TARVANIX_PASSWORD), never on its command line, and never
        logged or returned.
    type: str
  passwords:
    description:
      - Each module's own password, by target as given in I(target) or I(targets), for
        example C(tarvanix_passwords) by MAC address; handed over as I(password) is.
    type: dict
    default: {}
  jobs:
    description: How many modules the CLI works on at once (C(--jobs)), 1 to 64.
    type: int
    default: 4
'''
