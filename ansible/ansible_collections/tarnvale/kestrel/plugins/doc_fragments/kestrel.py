# -*- coding: utf-8 -*-
# Copyright: 2026 Tarnvale. All rights reserved.

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    # The options of every module that runs kestrel.
    DOCUMENTATION = r'''
options:
  state_dir:
    description:
      - The directory of kestrel's records, as C(KESTREL_STATE_DIR); when left out, kestrel's own
        default applies (C(/var/lib/kestrel) for root).
    type: path
  executable:
    description:
      - The kestrel program to run; by default the one found on C(PATH).
    type: path
'''
