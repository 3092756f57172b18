# -*- coding: utf-8 -*-
# Copyright: 2026 Tarnvale. All rights reserved.
"""Running kestrel on a managed host, for the modules of tarnvale.kestrel.

kestrel is run with argument lists only (never through a shell), and what the
modules decide on comes from its JSON documents and exit statuses:

  0    done, or yes: everything matches, something is recorded
  1    no: differences found, changed files kept, nothing recorded
  255  failed: kestrel's last line on standard error says why

Python 3 standard library only, besides what Ansible ships with every module.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os

# The statuses of kestrel's own commands (see "EXIT STATUS" in kestrel(1)).
DONE = 0
NO = 1


class Kestrel(object):
    """One kestrel program on the managed host, with its state directory and
    trusted keys; failures end the module with kestrel's line as msg, and
    with what |result| holds so far."""

    def __init__(self, module, executable=None, state_dir=None, trusted_keys=None, result=None):
        self.module = module
        self.result = result if result is not None else {}
        self.path = executable or module.get_bin_path('kestrel', required=True)
        self.environ = {}
        if state_dir:
            self.environ['KESTREL_STATE_DIR'] = state_dir
        if trusted_keys is not None:
            self.environ['KESTREL_TRUSTED_KEYS'] = trusted_keys

    def run(self, args):
        """Runs kestrel with |args|: (status, standard output, standard error)."""
        return self.module.run_command([self.path] + list(args), environ_update=self.environ,
                                       check_rc=False, errors='surrogate_then_replace')

    def fail(self, status, err):
        """Ends the module with kestrel's one line as msg."""
        lines = [line for line in err.splitlines() if line.startswith('kestrel: ')]
        if lines:
            msg = lines[-1]
        else:
            msg = 'kestrel ended with status %d' % status
        self.module.fail_json(msg=msg, rc=status, stderr=err, **self.result)

    def document(self, args, accepted=(DONE,)):
        """Runs kestrel for one JSON document: (status, document or None);
        any status not |accepted| ends the module."""
        status, out, err = self.run(args)
        if status not in accepted:
            self.fail(status, err)
        if not out.strip():
            return status, None
        try:
            return status, json.loads(out)
        except ValueError:
            self.module.fail_json(msg='kestrel %s: not a JSON document' % args[0], stdout=out, stderr=err,
                                  **self.result)

    def writes(self, args, accepted=(DONE,)):
        """Runs a command that changes an installation: (status, standard error)."""
        status, dummy, err = self.run(args)
        if status not in accepted:
            self.fail(status, err)
        return status, err

    def listing(self, options, archives):
        """The names of the files |options| selects from |archives| (list
        --json); an archive that cannot be read ends the module."""
        status, out, err = self.run(['list', '--json', '-o', options] + list(archives))
        if status != DONE or err:
            self.fail(status, err)
        return [f['name'] for f in json.loads(out)['files']]

    def status(self, dest):
        """What status --json says of the installation in |dest|; None when
        nothing is recorded for it (or it is no directory)."""
        if not os.path.isdir(dest):
            return None
        status, document = self.document(['status', '-d', dest, '--json'], (DONE, NO))
        return document if status == DONE else None

    def installations(self):
        """What status --json says of every installation recorded."""
        dummy, document = self.document(['status', '--all', '--json'], (DONE, NO))
        return document['installations'] if document else []

    def differences(self, dest):
        """The differences verify --json finds between |dest| and its record."""
        dummy, document = self.document(['verify', '-d', dest, '--json'], (DONE, NO))
        return document['differences']

    def recorded_files(self, dest):
        """The files of |dest|'s record, as status --files --json lists them."""
        dummy, document = self.document(['status', '--files', '-d', dest, '--json'])
        return document['files']
