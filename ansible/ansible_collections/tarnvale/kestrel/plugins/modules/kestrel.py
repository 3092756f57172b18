#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 Tarnvale. All rights reserved.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: kestrel
short_description: Install, upgrade or remove the Tarnvale product with kestrel
version_added: "1.0.0"
description:
  - Brings the Tarnvale database product in an install directory to the state asked for, with
    the kestrel install utility of the managed host, from TIC archives on that host.
  - With I(state=present), a directory that kestrel has no record of is installed; a recorded
    installation is upgraded to the archives and options given; one whose last install or
    upgrade was interrupted is finished by running that command again.
  - With I(state=absent), the recorded installation is removed, files changed since they were
    installed kept unless I(purge) is set.
  - C(changed) is true exactly when a file was written or removed. What would change is asked
    of kestrel first (C(kestrel upgrade --dry-run --json), C(kestrel list --json),
    C(kestrel verify --json)), and nothing that writes is run when nothing would change, so a
    second run of the same task reports C(changed=false) and writes nothing.
  - Check mode reports what would change and writes nothing; diff mode shows the planned action
    of each file.
  - The managed host needs kestrel and Python 3, nothing else.
author:
  - Tarnvale release engineering
options:
  dest:
    description:
      - The install directory. Created (with its missing parents) when missing and the product
        is to be installed.
    type: path
    required: true
  archives:
    description:
      - The TIC archives of the release, paths on the managed host, read as one set. A relative
        path is taken from I(dest), as kestrel takes it.
      - Required with I(state=present).
    type: list
    elements: path
  options:
    description:
      - The option text to install, option names joined by C(|), C(*) for all of them.
      - Required for a first install; for an upgrade, the recorded option text is installed
        when it is left out.
    type: str
  state:
    description:
      - Whether the product should be installed from I(archives) or removed.
    type: str
    choices: [present, absent]
    default: present
  backup:
    description:
      - A backup directory (C(kestrel -b)), named relative to I(dest) unless absolute, where what
        an install or upgrade replaces, or what a removal takes away, is kept, so that
        C(kestrel restore) can undo it.
    type: path
  log:
    description:
      - The install log of an install or upgrade (C(kestrel -l)), named relative to I(dest)
        unless absolute.
    type: path
  purge:
    description:
      - With I(state=absent), also remove the files changed since they were installed (into
        I(backup) when it is given).
    type: bool
    default: false
  trusted_keys:
    description:
      - The minisign public keys (files or directories, absolute paths joined by C(:)) that the
        archives must be signed with, as C(KESTREL_TRUSTED_KEYS); when left out, kestrel's own
        default applies (C(/etc/kestrel/trusted-keys)).
    type: path
extends_documentation_fragment:
  - tarnvale.kestrel.kestrel
notes:
  - Runs kestrel with argument lists only, never through a shell.
  - Supports check mode and diff mode.
  - A kestrel failure fails the task with kestrel's one line as C(msg).
seealso:
  - module: tarnvale.kestrel.kestrel_info
'''

EXAMPLES = r'''
- name: Install or upgrade the server and its documentation
  tarnvale.kestrel.kestrel:
    dest: /opt/tarnvale
    archives:
      - /srv/media/server.tic
      - /srv/media/client.tic
    options: server|docs
    backup: /var/backups/tarnvale-{{ release }}

- name: Remove the product, the administrator's changes too
  tarnvale.kestrel.kestrel:
    dest: /opt/tarnvale
    state: absent
    purge: true
'''

RETURN = r'''
dest:
  description: The install directory.
  returned: always
  type: str
  sample: /opt/tarnvale
plan:
  description:
    - The number of files per action planned, as kestrel names them (C(add), C(replace),
      C(same), C(keep-changed), C(remove)).
  returned: always
  type: dict
  sample: {"add": 1, "replace": 1, "same": 7, "keep-changed": 1, "remove": 1}
versions:
  description: The product versions installed before and after (as kestrel's records say).
  returned: always
  type: dict
  sample: {"before": ["17.0.11 build 7254"], "after": ["17.0.12 build 7301"]}
kept:
  description:
    - The files kept because they were changed since they were installed, each with the path
      of its new version beside it (C(<name>.kestrel-new)) when one is written, else null.
    - Each one that gets a new version is also a warning.
  returned: always
  type: list
  elements: dict
  sample: [{"name": "etc/tarnserve.conf", "beside": "etc/tarnserve.conf.kestrel-new"}]
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tarnvale.kestrel.plugins.module_utils.kestrel import DONE, NO, Kestrel

ACTIONS = ('add', 'replace', 'same', 'keep-changed', 'remove')


def counted(files):
    """The number of files per action ("gone": nothing there to act on)."""
    counts = dict((action, 0) for action in ACTIONS)
    for f in files:
        if f['action'] in counts:
            counts[f['action']] += 1
    return counts


def diff_of(files):
    """Diff mode's text: one line per file that is not left as it is."""
    lines = ['%s %s\n' % (f['action'], f['name']) for f in files if f['action'] not in ('same', 'gone')]
    return {'prepared': ''.join(lines)}


def shared_switches(params, command):
    """The switches of |command| that come from the task's parameters."""
    args = []
    if params['log'] and command != 'remove':
        args += ['-l', params['log']]
    if params['backup']:
        args += ['-b', params['backup']]
    return args


def holds_only(path, name, gone):
    """True when every entry of the directory |path| (recorded as |name|) is
    one of |gone|: once they are taken away, it is empty and goes too."""
    try:
        return all(os.path.join(name, entry) in gone for entry in os.listdir(path))
    except OSError:
        return False


class Task(object):
    """One run of the module: what is asked, what kestrel plans, the result."""

    def __init__(self, module):
        self.module = module
        self.params = module.params
        self.dest = self.params['dest']
        self.result = dict(changed=False, dest=self.dest, plan=counted([]),
                           versions={'before': [], 'after': []}, kept=[])
        self.kestrel = Kestrel(module, self.params['executable'], self.params['state_dir'],
                               self.params['trusted_keys'], self.result)
        self.warnings = []

    def archives(self):
        """The archives as absolute paths: a relative one is taken from dest."""
        return [a if os.path.isabs(a) else os.path.join(self.dest, a) for a in self.params['archives']]

    def report(self, files, changed):
        """Notes the plan of |files| in the result."""
        self.result['plan'] = counted(files)
        self.result['changed'] = changed
        if self.module._diff:
            self.result['diff'] = diff_of(files)

    def done(self):
        for warning in self.warnings:
            self.module.warn(warning)
        self.module.exit_json(**self.result)

    def present(self):
        if os.path.exists(self.dest) and not os.path.isdir(self.dest):
            self.module.fail_json(msg='%s: not a directory' % self.dest, **self.result)
        # The plan of an upgrade says whether anything is recorded, and
        # whether the recorded install or upgrade finished.
        plan = self.plan(self.params['options']) if os.path.isdir(self.dest) else None
        if plan is None:
            self.first_install()
        elif plan['recorded']['complete']:
            self.upgrade(plan)
        else:
            self.finish(plan)
        self.done()

    def first_install(self, options=None):
        options = options or self.params['options']
        if not options:
            self.module.fail_json(msg='options: name the options to install: nothing is recorded in %s'
                                  % self.dest, **self.result)
        files = [{'name': name, 'action': 'add'} for name in self.kestrel.listing(options, self.archives())]
        self.report(files, bool(files))
        if not files or self.module.check_mode:
            return
        if not os.path.isdir(self.dest):
            os.makedirs(self.dest)
        self.kestrel.writes(['install', '-q', '-d', self.dest, '-o', options]
                            + shared_switches(self.params, 'install') + self.archives())
        self.after()

    def plan(self, options):
        """The upgrade's plan as kestrel upgrade --dry-run --json gives it;
        None when nothing is recorded in dest."""
        args = ['upgrade', '--dry-run', '--json', '-d', self.dest]
        if options:
            args += ['-o', options]
        status, plan = self.kestrel.document(args + self.archives(), (DONE, NO))
        if status == NO:
            return None
        self.result['versions'] = plan['versions']
        for f in plan['files']:
            if f['action'] != 'keep-changed':
                continue
            self.result['kept'].append({'name': f['name'], 'beside': f.get('beside')})
            if f.get('beside'):
                self.warnings.append('kept changed file %s, new version in %s' % (f['name'], f['beside']))
        return plan

    def upgrade(self, plan):
        self.report(plan['files'], plan['changes'])
        if not plan['changes'] or self.module.check_mode:
            return
        self.run_upgrade(self.params['options'])

    def run_upgrade(self, options):
        args = ['upgrade', '-q', '-d', self.dest]
        if options:
            args += ['-o', options]
        self.kestrel.writes(args + shared_switches(self.params, 'upgrade') + self.archives())
        self.after()

    def finish(self, plan):
        """An install or upgrade that did not finish: the same command again,
        with the recorded option text unless the task names one."""
        options = self.params['options'] or plan['options']
        if plan['recorded']['command'] != 'upgrade':
            self.first_install(options)
            self.result['changed'] = True
            return
        self.report(plan['files'], True)
        if not self.module.check_mode:
            self.run_upgrade(options)

    def after(self):
        recorded = self.kestrel.status(self.dest)
        self.result['versions']['after'] = recorded['versions'] if recorded else []

    def absent(self):
        recorded = self.kestrel.status(self.dest)
        if recorded is None:
            self.done()
        self.result['versions']['before'] = recorded['versions']
        files = self.removal_plan()
        changed = any(f['action'] == 'remove' for f in files)
        self.report(files, changed)
        self.result['kept'] = [{'name': f['name'], 'beside': None} for f in files if f['action'] == 'keep-changed']
        self.warnings += ['kept changed file %s' % f['name'] for f in self.result['kept']]
        if self.module.check_mode:
            self.done()
        left = [f for f in files if f['action'] != 'gone']
        if changed or not left:
            # With nothing of the installation left but its record, the
            # record goes too; no file is written or removed for that.
            args = ['remove', '-d', self.dest] + shared_switches(self.params, 'remove')
            if self.params['purge']:
                args.append('--purge')
            self.kestrel.writes(args, (DONE, NO))
        self.done()

    def removal_plan(self):
        """What kestrel remove would do with each recorded file: remove,
        keep-changed, or gone (nothing there). A directory goes only when
        nothing else is left in it, so deeper names are planned first."""
        what = dict((d['name'], d['what']) for d in self.kestrel.differences(self.dest))
        recorded = self.kestrel.recorded_files(self.dest)
        planned = {}
        gone = set()
        for f in sorted(recorded, key=lambda f: f['name'], reverse=True):
            name = f['name']
            path = os.path.join(self.dest, name)
            differences = what.get(name, [])
            changed = bool(set(differences) & set(['type', 'target', 'content']))
            if 'missing' in differences:
                action = 'gone'
            elif changed and (not self.params['purge'] or (os.path.isdir(path) and not os.path.islink(path))):
                action = 'keep-changed'
            elif f['type'] != 'directory' or changed:
                action = 'remove'
            elif holds_only(path, name, gone):
                action = 'remove'
            else:
                action = 'same'
            if action in ('gone', 'remove'):
                gone.add(name)
            planned[name] = action
        return [{'name': name, 'action': planned[name]} for name in sorted(planned)]


def main():
    module = AnsibleModule(
        argument_spec=dict(
            dest=dict(type='path', required=True),
            archives=dict(type='list', elements='path'),
            options=dict(type='str'),
            state=dict(type='str', choices=['present', 'absent'], default='present'),
            backup=dict(type='path'),
            log=dict(type='path'),
            purge=dict(type='bool', default=False),
            trusted_keys=dict(type='path'),
            state_dir=dict(type='path'),
            executable=dict(type='path'),
        ),
        required_if=[('state', 'present', ('archives',))],
        supports_check_mode=True,
    )
    task = Task(module)
    if module.params['state'] == 'present':
        task.present()
    else:
        task.absent()


if __name__ == '__main__':
    main()
