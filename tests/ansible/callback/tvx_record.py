# Writes every task result and the recap of a playbook run to the JSON file named by
# TVX_PLAY_RECORD, for the site test to read (ansible-core 2.14 ships no JSON callback).
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
name: tvx_record
type: notification
short_description: Task results and recap as one JSON file (the site test's record)
description: Writes to the file named by the environment variable TVX_PLAY_RECORD.
'''

import json
import os
import time

from ansible.plugins.callback import CallbackBase


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'notification'
    CALLBACK_NAME = 'tvx_record'
    CALLBACK_NEEDS_ENABLED = True

    def __init__(self):
        super(CallbackModule, self).__init__()
        self.results = []
        self.started = {}

    def v2_playbook_on_task_start(self, task, is_conditional):
        self.started[task._uuid] = time.time()

    def _record(self, result, status):
        began = self.started.get(result._task._uuid, time.time())
        self.results.append(dict(task=result._task.get_name(), host=result._host.get_name(),
                                 status=status, seconds=round(time.time() - began, 1),
                                 result=result._result))

    def v2_runner_on_ok(self, result):
        self._record(result, 'ok')

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._record(result, 'failed')

    def v2_runner_on_unreachable(self, result):
        self._record(result, 'unreachable')

    def v2_playbook_on_stats(self, stats):
        recap = dict((h, stats.summarize(h)) for h in sorted(stats.processed))
        with open(os.environ['TVX_PLAY_RECORD'], 'w') as f:
            json.dump(dict(results=self.results, stats=recap), f, indent=1, default=str)
