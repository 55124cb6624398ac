#!/usr/bin/env python3
"""Checks every #include of every module against the module table of the README.

The table lives in the README's "Modules" section, one row per module:

    | `update/` | what it is for | `update/`, `pack/`, `platform/` |

A file may include headers of the modules in the last column (the pack library's public
headers are spelled "axp/..."); the tests and fuzz targets of a module may also include
testing/. No file includes another module's tests: helpers that tests share live in
testing/. The probes beside this script break the table on purpose and are skipped.
Prints each include that breaks the rules and exits 1 when there is one.
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
ROW = re.compile(r'^\|\s*`([a-z_]+)/`\s*\|[^|]*\|([^|]*)\|\s*$')
SOURCE_ENDINGS = ('.cpp', '.h', '.c')


def read_table(readme):
    allowed = {}
    in_section = False
    with open(readme, encoding='utf-8') as f:
        for line in f:
            if line.startswith('## '):
                in_section = line.strip() == '## Modules'
                continue
            m = ROW.match(line.rstrip('\n')) if in_section else None
            if m:
                allowed[m.group(1)] = set(re.findall(r'`([a-z_]+)/`', m.group(2)))
    return allowed


def resolve(root, source, name, modules):
    """The include's path relative to the root, or None for a header outside the tree."""
    first = name.split('/', 1)[0]
    if '/' in name and first == 'axp':
        return os.path.join('pack', 'include', name)
    if '/' in name and first in modules:
        return os.path.normpath(name)
    resolved = os.path.normpath(os.path.join(os.path.dirname(source), name))
    if os.path.exists(resolved):
        return os.path.relpath(resolved, root)
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else '.')
    allowed = read_table(os.path.join(root, 'README.md'))
    if len(allowed) < 5:
        print('README.md: no module table under "## Modules"')
        return 1
    faults = 0
    for module, may in sorted(allowed.items()):
        for folder, _, files in os.walk(os.path.join(root, module)):
            if os.path.samefile(folder, os.path.dirname(os.path.abspath(__file__))):
                continue
            parts = os.path.relpath(folder, root).split(os.sep)
            test_code = 'tests' in parts or 'fuzz' in parts
            for file in files:
                if not file.endswith(SOURCE_ENDINGS):
                    continue
                source = os.path.join(folder, file)
                with open(source, encoding='utf-8', errors='replace') as f:
                    text = f.read()
                for name in INCLUDE.findall(text):
                    path = resolve(root, source, name, allowed)
                    if path is None:
                        continue
                    target = path.split(os.sep)[0]
                    where = os.path.relpath(source, root)
                    if target != module and 'tests' in path.split(os.sep):
                        print(f'{where}: includes "{name}", a test helper of {target}/')
                        faults += 1
                    elif not (target == module or target in may or
                              (test_code and target == 'testing')):
                        print(f'{where}: includes "{name}" of {target}/, which {module}/ '
                              'may not use')
                        faults += 1
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
