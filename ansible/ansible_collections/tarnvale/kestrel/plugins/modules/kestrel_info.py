#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 Tarnvale. All rights reserved.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: kestrel_info
short_description: What kestrel has installed on a host
version_added: "1.0.0"
description:
  - Returns what kestrel's records say of the Tarnvale installations on the managed host, as
    C(kestrel status --json) shows each one, and with I(verify) the differences
    C(kestrel verify --json) finds between each installation and its record.
  - Changes nothing.
author:
  - Tarnvale release engineering
options:
  dest:
    description:
      - The install directory to report on; without it, every installation recorded on the host
        (C(kestrel status --all)).
    type: path
  verify:
    description:
      - Also compare each installation's files with its record.
    type: bool
    default: false
extends_documentation_fragment:
  - tarnvale.kestrel.kestrel
notes:
  - Supports check mode, as it only reads.
seealso:
  - module: tarnvale.kestrel.kestrel
'''

EXAMPLES = r'''
- name: Every installation on the host, checked against its record
  tarnvale.kestrel.kestrel_info:
    verify: true
  register: tarnvale

- name: Fail where an installation is incomplete or was changed
  ansible.builtin.assert:
    that:
      - item.complete
      - item.differences | length == 0
  loop: "{{ tarnvale.installations }}"
  loop_control:
    label: "{{ item.directory }}"
'''

RETURN = r'''
installations:
  description:
    - One entry per installation, what C(kestrel status --json) shows of it - C(directory),
      C(products), C(versions), C(files) (how many), C(complete) (whether its last install or
      upgrade finished), C(when), C(options) and C(installs) - with, when I(verify) is set,
      C(differences) (each differing file's C(name) and C(what) differs).
    - Empty when nothing is recorded.
  returned: always
  type: list
  elements: dict
  sample:
    - directory: /opt/tarnvale
      products: [tarnvale]
      versions: ["17.0.11 build 7254"]
      files: 10
      complete: true
      when: "2026-12-01T10:00:00Z"
      options: server|docs
      differences: [{"name": "etc/tarnserve.conf", "what": ["content"]}]
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tarnvale.kestrel.plugins.module_utils.kestrel import Kestrel


def main():
    module = AnsibleModule(
        argument_spec=dict(
            dest=dict(type='path'),
            verify=dict(type='bool', default=False),
            state_dir=dict(type='path'),
            executable=dict(type='path'),
        ),
        supports_check_mode=True,
    )
    kestrel = Kestrel(module, module.params['executable'], module.params['state_dir'])
    dest = module.params['dest']
    if dest:
        recorded = kestrel.status(dest)
        installations = [recorded] if recorded else []
    else:
        installations = kestrel.installations()
    if module.params['verify']:
        for installation in installations:
            installation['differences'] = kestrel.differences(installation['directory'])
    module.exit_json(changed=False, installations=installations)


if __name__ == '__main__':
    main()
