# Copyright: (c) 2026, Tarvanix Utility developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# Hands the task's timeout to the module (see plugin_utils/cli_action.py); a search by IP
# adds what it found to the list of the host's earlier search instead of replacing it.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible_collections.tarvanix.devices.plugins.plugin_utils.cli_action import CliAction


class ActionModule(CliAction):

    def after(self, result, task_vars):
        if not self._task.args.get('ip') or result.get('failed'):
            return result
        facts = (task_vars or {}).get('ansible_facts') or {}
        earlier = facts.get('tarvanix_modules') or (task_vars or {}).get('tarvanix_modules')
        found = result.get('ansible_facts', {}).get('tarvanix_modules') or []
        if not isinstance(earlier, list):
            return result
        # A module found again keeps its place in the list, with what it answered now.
        again = dict((m.get('lanMac'), m) for m in found)
        merged = [again.pop(m.get('lanMac'), m) for m in earlier if isinstance(m, dict)]
        merged += [m for m in found if m.get('lanMac') in again]
        result.setdefault('ansible_facts', {})['tarvanix_modules'] = merged
        return result
