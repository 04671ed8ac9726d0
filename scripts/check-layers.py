#!/usr/bin/env python3
"""Checks that includes between the program's folders run one way only.

The engines (norvale/core) include nothing of the windows (norvale/gui), the
windows nothing of the programs' entries (norvale/app, norvale/cli), the
command line nothing of the windows; and no two folders include each other,
directly or through others. (That core includes no Qt Widgets or Gui header
is checked by the build itself: norvale_core links Qt Core and Sql only.)

usage: check-layers.py [REPOSITORY]   exit status 1 on a wrong include
"""
import os
import re
import sys

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..')
RANK = {'core': 0, 'gui': 1, 'app': 2, 'cli': 2}
include = re.compile(r'^\s*#\s*include\s+"(norvale/[^"]+)"', re.M)


def folder(path):
    """norvale/core/search/X.h -> core/search; norvale/cli/X.h -> cli."""
    parts = path.split('/')
    return '/'.join(parts[1:3]) if parts[1] in ('core', 'gui') else parts[1]


faults = []
edges = {}
for directory, _, names in os.walk(os.path.join(root, 'norvale')):
    for name in names:
        if not name.endswith(('.h', '.cpp')):
            continue
        path = os.path.relpath(os.path.join(directory, name), root)
        source = folder(path)
        with open(os.path.join(root, path), encoding='utf-8') as text:
            for target_path in include.findall(text.read()):
                target = folder(target_path)
                layer, target_layer = source.split('/')[0], target.split('/')[0]
                if RANK[target_layer] > RANK[layer] or (layer == 'cli' and target_layer in ('gui', 'app')) \
                        or (layer == 'app' and target_layer == 'cli'):
                    faults.append(f'{path}: includes {target_path}, a layer above or beside it')
                if target != source:
                    edges.setdefault(source, {}).setdefault(target, path)

# A circle between folders: depth-first search for an edge back onto the path.
state = {}


def visit(node, trail):
    state[node] = 'open'
    for nxt in sorted(edges.get(node, {})):
        if state.get(nxt) == 'open':
            circle = trail[trail.index(nxt):] + [nxt]
            steps = [f'{a} -> {b} ({edges[a][b]})' for a, b in zip(circle, circle[1:])]
            faults.append('folders include each other: ' + '; '.join(steps))
        elif nxt not in state:
            visit(nxt, trail + [nxt])
    state[node] = 'done'


for start in sorted(edges):
    if start not in state:
        visit(start, [start])

for fault in faults:
    print(fault)
print(f'{len(edges)} folders, {sum(len(t) for t in edges.values())} folder dependencies, {len(faults)} faults')
sys.exit(1 if faults else 0)
