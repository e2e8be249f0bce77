# What run-sites-test reads: the bed, the simulators' control sockets and transcripts, and the
# record of a playbook run (callback/tvx_record.py).
#   sitecheck.py module NAME FIELD            a field of the module in the bed description
#   sitecheck.py control SOCKET LINE...       lines sent, answer printed; fails on "error"
#   sitecheck.py wire TRANSCRIPT              counts: reads writes tftp (commands as received)
#   sitecheck.py stats PLAY.json HOST         "ok changed failures" of HOST in the recap
#   sitecheck.py failures PLAY.json HOST      each failed module's (or task's) msg and rc, a line each
#   sitecheck.py changes PLAY.json            each settings change: host target name old new
#   sitecheck.py same PLAY.json HOST GET.json fails unless HOST's info result is what get printed
#   sitecheck.py seconds PLAY.json            seconds from each task's start to each host's result
import json
import os
import socket
import sys


def bed_module(name, field):
    bed = json.load(open(os.environ['TVX_BED_INFO']))
    print(next(m for m in bed['modules'] if m['name'] == name)[field])


def control(path, lines):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.connect(path)
    f = s.makefile('rw')
    for line in lines:
        f.write(line + '\n')
        f.flush()
        while True:
            answer = f.readline()
            if not answer:
                sys.exit('control socket closed')
            if answer.startswith('error'):
                sys.exit('%s: %s' % (line, answer.strip()))
            if answer.strip() == 'ok':
                break
            sys.stdout.write(answer)


def wire(path):
    reads = writes = tftp = 0
    for line in open(path) if os.path.exists(path) else []:
        parts = line.split()
        if len(parts) < 4:
            continue
        if parts[2] == 'tftp' and parts[3] == 'open':
            tftp += 1
        if parts[2] == 'tcp' and parts[3] == 'recv' and len(parts) > 4:
            for command in bytes.fromhex(parts[4]).split(b'\r\n'):
                command = command.strip(b'\0')
                if command.startswith(b'$S'):
                    writes += 1
                elif command.startswith(b'$G'):
                    reads += 1
    print(reads, writes, tftp)


def results(play):
    for r in play['results']:
        yield r['task'], r['host'], r['result']


def stats(play, host):
    s = play['stats'].get(host, {})
    print(s.get('ok', 0), s.get('changed', 0), s.get('failures', 0))


def failures(play, host):
    # ansible-core keeps a failed task's "failed" out of the result it hands to callbacks.
    for r in play['results']:
        h, status, r = r['host'], r['status'], r['result']
        if h != host or status != 'failed':
            continue
        for item in [m for m in r.get('modules') or [] if m.get('failed')] or [r]:
            print('%s\t%s' % (item.get('msg'), item.get('rc')))


def changes(play):
    for task, host, r in results(play):
        for item in r.get('modules') or []:
            for c in item.get('changes') or []:
                print(host, item.get('target'), c['name'], c['old'], c['new'])


def same(play, host, got_path):
    read = [m for _, h, r in results(play) if h == host and 'settings' in r
            for m in r.get('modules') or []]
    printed = dict((o['target'], dict((k, v) for k, v in o.items() if k != 'version'))
                   for o in json.load(open(got_path)))
    if len(read) != 1 or printed.get(read[0].get('target')) != read[0]:
        sys.exit('info of %s: %s\nget --json: %s' % (host, read, printed))


def seconds(play):
    print('; '.join('%s %s %.1f s' % (r['task'], r['host'], r['seconds']) for r in play['results']))


if __name__ == '__main__':
    what, args = sys.argv[1], sys.argv[2:]
    if what == 'module':
        bed_module(*args)
    elif what == 'control':
        control(args[0], args[1:])
    elif what == 'wire':
        wire(args[0])
    else:
        doc = json.load(open(args[0]))
        {'stats': stats, 'failures': failures, 'changes': changes, 'seconds': seconds,
         'same': same}[what](doc, *args[1:])
