# Copyright: (c) 2026, Tarvanix Utility developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# Hands the task's timeout to the module (see plugin_utils/cli_action.py).

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible_collections.tarvanix.devices.plugins.plugin_utils.cli_action import CliAction


class ActionModule(CliAction):
    pass
