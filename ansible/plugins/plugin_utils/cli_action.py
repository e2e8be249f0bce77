# Copyright: (c) 2026, Tarvanix Utility developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# The controller's side of every module of the collection. ansible-core ends a task at its
# timeout on the controller only (an alarm in the worker process): the module on the managed
# host is never told, and the CLI it started would go on upgrading. So the task's timeout is
# handed to the module, which stops the CLI in time.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible.plugins.action import ActionBase
from ansible.utils.vars import merge_hash

# The module stops the CLI this much before the task's timeout, so that the CLI has ended
# and the result has come back over the connection when the controller gives up.
STOP_MARGIN_SECONDS = 5.0
STOP_MARGIN_SHARE = 0.2


def module_timeout(task_timeout):
    return max(0.5, task_timeout - min(STOP_MARGIN_SECONDS, task_timeout * STOP_MARGIN_SHARE))


class CliAction(ActionBase):

    def module_args(self, task_vars):
        args = dict(self._task.args)
        if self._task.timeout and args.get('timeout') is None:
            args['timeout'] = module_timeout(self._task.timeout)
        return args

    def after(self, result, task_vars):
        return result

    def run(self, tmp=None, task_vars=None):
        self._supports_check_mode = True
        self._supports_async = True
        result = super(CliAction, self).run(tmp, task_vars)
        del tmp
        if result.get('skipped'):
            return result
        wrap_async = self._task.async_val and not self._connection.has_native_async
        result = merge_hash(result, self._execute_module(module_args=self.module_args(task_vars),
                                                         task_vars=task_vars,
                                                         wrap_async=wrap_async))
        if not wrap_async:
            self._remove_tmp_path(self._connection._shell.tmpdir)
        return self.after(result, task_vars)
