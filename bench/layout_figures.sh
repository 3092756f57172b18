#!/usr/bin/env bash
# Figures on how the code of one revision is arranged, for a reviewer:
#   1. lines per folder (src/ layers, tools/*, tests/*)
#   2. includes between layers, with the ones that run upward counted apart
#   3. failure-reporting conventions counted per folder, by pattern
#   4. test lines per CTest label, and code lines against test lines
#   5. what `duplicates` finds repeated in src/ and tools/
#
# Usage: bench/layout_figures.sh [REV]      (REV defaults to HEAD)
#
# The revision is read with `git archive` into a temporary directory, so the
# working tree, the index and the list of worktrees are left as they are.
# Nothing is built; the counting is text matching (python3, standard library).
set -euo pipefail

rev=${1:-HEAD}
case "$rev" in -h | --help)
  sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
  exit 0
  ;;
esac

repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
commit=$(git -C "$repo" rev-parse --verify --quiet "$rev^{commit}") || {
  echo "layout_figures: $rev: not a revision of $repo" >&2
  exit 2
}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/layout_figures.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/tree" "$tmp/code"
git -C "$repo" archive "$commit" -- src tools tests | tar -x -C "$tmp/tree"
# src/ and tools/ alone, so that `duplicates` pairs across the two but sees
# no tests.
git -C "$repo" archive "$commit" -- src tools | tar -x -C "$tmp/code"

echo "Layout figures for $(git -C "$repo" log -1 --format='%h (%ad)' --date=short "$commit")," \
  "\"$(git -C "$repo" log -1 --format=%s "$commit" | cut -c1-80)...\""
echo

python3 - "$tmp/tree" <<'PY'
import os
import re
import sys

root = sys.argv[1]
CODE_ENDINGS = ('.c', '.cc', '.cpp', '.cxx', '.h', '.hh', '.hpp', '.sh')


def strip_comments(text, shell):
    """The text with comments blanked out and line breaks kept, so that
    line numbers survive. String and character literals are kept whole."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if shell:
            if c == '#' and (i == 0 or text[i - 1] in ' \t\n;'):
                j = text.find('\n', i)
                i = n if j < 0 else j
                continue
            out.append(c)
            i += 1
            continue
        if c == '/' and text.startswith('//', i):
            j = text.find('\n', i)
            i = n if j < 0 else j
            continue
        if c == '/' and text.startswith('/*', i):
            j = text.find('*/', i + 2)
            j = n if j < 0 else j + 2
            out.append('\n' * text.count('\n', i, j))
            i = j
            continue
        if c == 'R' and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == '_')):
            m = re.match(r'R"([^()\\ ]{0,16})\(', text[i:])
            if m:
                end = text.find(')' + m.group(1) + '"', i)
                j = n if end < 0 else end + len(m.group(1)) + 2
                out.append(text[i:j])
                i = j
                continue
        if c in '"\'':
            j = i + 1
            while j < n and text[j] != c and text[j] != '\n':
                j += 2 if text[j] == '\\' else 1
            out.append(text[i:j + 1])
            i = j + 1
            continue
        out.append(c)
        i += 1
    return ''.join(out)


def folder_key(rel):
    """The folder a file is counted under: src/tic/<x> and src/<x> as whole
    trees, files directly in src/tic or src/ apart, tools/<x>, tests/<x>."""
    parts = rel.split('/')
    top = parts[0]
    if top == 'src' and len(parts) > 3 and parts[1] == 'tic':
        return 'src/tic/' + parts[2]
    if len(parts) > 2:
        return top + '/' + parts[1]
    return top


files = {}  # rel path -> (raw text, comment-free text)
for dirpath, dirnames, filenames in os.walk(root):
    dirnames.sort()
    for name in sorted(filenames):
        if not name.endswith(CODE_ENDINGS):
            continue
        full = os.path.join(dirpath, name)
        rel = os.path.relpath(full, root)
        with open(full, encoding='utf-8', errors='replace') as f:
            raw = f.read()
        files[rel] = (raw, strip_comments(raw, name.endswith('.sh')))


def count_lines(raw, bare):
    nonblank = sum(1 for line in raw.splitlines() if line.strip())
    code = sum(1 for line in bare.splitlines() if line.strip())
    return nonblank, code


SRC_ORDER = ['src/platform', 'src/crypto', 'src/stamp', 'src/display', 'src/scan', 'src/tic',
             'src/tic/format', 'src/tic/archive', 'src/tic/writer', 'src/tic/build',
             'src/install', 'src/sign', 'src/cli', 'src']

per_folder = {}
for rel, (raw, bare) in files.items():
    key = folder_key(rel)
    entry = per_folder.setdefault(key, [0, 0, 0])
    nonblank, code = count_lines(raw, bare)
    entry[0] += 1
    entry[1] += nonblank
    entry[2] += code


def ordered(keys):
    def rank(k):
        if k in SRC_ORDER:
            return (0, SRC_ORDER.index(k), k)
        if k.startswith('src'):
            return (1, 0, k)
        return ({'tools': 2, 'tests': 3}.get(k.split('/')[0], 4), 0, k)
    return sorted(keys, key=rank)


def table(header, rows, first_width=22):
    widths = [max(first_width, max([len(r[0]) for r in rows] + [len(header[0])]))]
    widths += [max(len(h), max([len(str(r[i])) for r in rows] + [0])) for i, h in enumerate(header) if i > 0]
    fmt = '  ' + '  '.join(['{:<%d}' % widths[0]] + ['{:>%d}' % w for w in widths[1:]])
    print(fmt.format(*header))
    for r in rows:
        print(fmt.format(*[str(x) for x in r]))


# ---------------------------------------------------------------- 1. lines
print('1. Lines per folder')
print('   files ending in %s; "non-blank": lines with any text;' % ' '.join(CODE_ENDINGS))
print('   "code": non-blank lines once comments are removed (comment-only lines dropped).')
print('   src/tic/<x> and src/<x> count their whole tree; "src/tic" and "src" only the files directly in them.')
rows = []
totals = {}
for key in ordered(per_folder):
    n, nonblank, code = per_folder[key]
    rows.append((key, n, nonblank, code))
    group = 'src+tools' if key.split('/')[0] in ('src', 'tools') else 'tests'
    t = totals.setdefault(group, [0, 0, 0])
    t[0] += n
    t[1] += nonblank
    t[2] += code
for group in ('src+tools', 'tests'):
    if group in totals:
        rows.append(('(total %s)' % group, *totals[group]))
table(('folder', 'files', 'non-blank', 'code'), rows)
print()

# ---------------------------------------------------------------- 2. includes
LAYER_ORDER = ['platform', 'crypto', 'stamp', 'display', 'scan', 'tic', 'tic/format', 'tic/archive',
               'tic/writer', 'install', 'sign', 'cli', 'tools']
RANK = {name: i for i, name in enumerate(LAYER_ORDER)}
RANK['tic/build'] = RANK['tic/writer']


def layer_of(rel):
    key = folder_key(rel)
    if key.startswith('src/'):
        return key[4:]
    if key.startswith('tools'):
        return 'tools'
    return key  # 'src' itself: files directly in src/


def resolve(includer, path):
    """The tree-relative file an #include "path" names: beside the includer
    first, then below src/ and tools/; None when none of them has it."""
    for base in (os.path.dirname(includer), 'src', 'tools'):
        rel = os.path.normpath(os.path.join(base, path))
        if rel in files:
            return rel
    return None


INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]*"([^"]+)"', re.M)
arrows = {}
upward_sites = []
unresolved = {}
for rel in sorted(files):
    if rel.split('/')[0] not in ('src', 'tools'):
        continue
    bare = files[rel][1]
    src_layer = layer_of(rel)
    for m in INCLUDE.finditer(bare):
        target = resolve(rel, m.group(1))
        if target is None:
            unresolved.setdefault(m.group(1), []).append(rel)
            continue
        to_layer = layer_of(target)
        arrows[(src_layer, to_layer)] = arrows.get((src_layer, to_layer), 0) + 1
        if src_layer in RANK and to_layer in RANK and RANK[src_layer] < RANK[to_layer]:
            line = bare.count('\n', 0, m.start()) + 1
            upward_sites.append('%s:%d  #include "%s"' % (rel, line, m.group(1)))

print('2. Includes between layers')
print('   every #include "..." in src/ and tools/ (comments ignored), resolved beside the including file,')
print('   then below src/, then tools/; the layer is the folder below src/ (src/tic/<x> is tic/<x>,')
print('   files directly in src/tic are "tic"); tools/* is one layer, "tools", ranked above cli.')
print('   layer order, bottom to top: ' + ' < '.join(n if n != 'tic/writer' else 'tic/writer|tic/build' for n in LAYER_ORDER))
present = sorted({a for a, _ in arrows} | {b for _, b in arrows}, key=lambda n: (RANK.get(n, 99), n))
abbrev = {n: n.replace('tic/', 't/')[:8] for n in present}
width = max(len(n) for n in present) if present else 4
print('   matrix: row includes column (diagonal = within one layer; upper right of it = upward):')
print('  ' + ' ' * width + ''.join('%9s' % abbrev[n] for n in present))
for a in present:
    print('  ' + a.ljust(width) + ''.join('%9s' % (arrows.get((a, b), '') or '.') for b in present))
print('   as a list, "from -> to: count" (UP = from a lower layer to a higher one, = within one layer):')
within = down = up = other = 0
for (a, b), count in sorted(arrows.items(), key=lambda kv: (RANK.get(kv[0][0], 99), RANK.get(kv[0][1], 99))):
    if a not in RANK or b not in RANK:
        mark = '?'
        other += count
    elif a == b:
        mark = '='
        within += count
    elif RANK[a] < RANK[b]:
        mark = 'UP'
        up += count
    elif RANK[a] == RANK[b]:
        mark = '='
        within += count
    else:
        mark = ''
        down += count
    print('    %-3s %s -> %s: %d' % (mark, a, b, count))
print('   include lines: %d within a layer, %d downward, %d UPWARD%s' % (
    within, down, up, ', %d outside the order' % other if other else ''))
layer_pairs_up = sorted({(a, b) for (a, b) in arrows if a in RANK and b in RANK and RANK[a] < RANK[b]})
print('   upward layer pairs: %d%s' % (len(layer_pairs_up), ''.join('\n     %s -> %s' % p for p in layer_pairs_up)))
if upward_sites:
    print('   upward include lines:')
    for site in upward_sites:
        print('     ' + site)
if unresolved:
    print('   includes found nowhere in src/ or tools/ (not counted): ' + ', '.join(
        '%s (%d)' % (p, len(v)) for p, v in sorted(unresolved.items())))
print()

# ---------------------------------------------------------------- 3. failures


def subject_cause_signatures(bare):
    """Parameter lists that declare both a parameter named subject and one
    named cause (each with a type before its name, so calls do not count)."""
    found = 0
    for start in [m.start() for m in re.finditer(r'\(', bare)]:
        depth, j, n = 0, start, len(bare)
        while j < n:
            if bare[j] == '(':
                depth += 1
            elif bare[j] == ')':
                depth -= 1
                if depth == 0:
                    break
            elif bare[j] in ';{}':
                break
            j += 1
        if j >= n or bare[j] != ')':
            continue
        inner = bare[start + 1:j]
        if 'subject' not in inner or 'cause' not in inner:
            continue
        params, depth, cur = [], 0, ''
        for ch in inner:
            if ch in '(<[':
                depth += 1
            elif ch in ')>]':
                depth -= 1
            if ch == ',' and depth == 0:
                params.append(cur)
                cur = ''
            else:
                cur += ch
        params.append(cur)
        names = set()
        for p in params:
            p = p.split('=')[0].strip()
            m = re.match(r'^(.*?[\w&*>\s])\s*\b(\w+)$', p)
            if m and re.search(r'\w', m.group(1)) and m.group(2) in ('subject', 'cause'):
                names.add(m.group(2))
        if names == {'subject', 'cause'}:
            found += 1
    return found


def non_const(pattern):
    rx = re.compile(r'(\bconst\s+)?' + pattern)
    return lambda bare: sum(1 for m in rx.finditer(bare) if not m.group(1))


def plain(pattern):
    rx = re.compile(pattern)
    return lambda bare: len(rx.findall(bare))


CONVENTIONS = [
    ('why&', r'std::string\s*&\s*why\b  (not after "const")', non_const(r'std::string\s*&\s*why\b')),
    ('why*', r'std::string\s*\*\s*why\b  (not after "const")', non_const(r'std::string\s*\*\s*why\b')),
    ('err**', r'const\s+char\s*\*\s*\*\s*error\b', plain(r'const\s+char\s*\*\s*\*\s*error\b')),
    ('subj+cause', 'one parameter list (between matching parentheses) declaring parameters named subject '
     'and cause, each with a type', subject_cause_signatures),
    ('subj&/cause&', r'std::string\s*&\s*(subject|cause)\b  (not after "const"; each counted)',
     non_const(r'std::string\s*&\s*(?:subject|cause)\b')),
    ('problem()', r'(std::string\s*&?|const\s+char\s*\*)\s*(\w+::)*\w*problem\w*\s*\(  (declarations and definitions)',
     plain(r'(?:std::string\s*&?|const\s+char\s*\*)\s*(?:\w+::)*\w*problem\w*\s*\(')),
    ('record_error', r'\brecord_error\s*\(', plain(r'\brecord_error\s*\(')),
    ('a_failure&', r'\ba_failure\s*&\s*\w+\s*[,)]', plain(r'\ba_failure\s*&\s*\w+\s*[,)]')),
    ('Outcome/Result', r'\b(Outcome|Result<[^;{}()]*>)\s+(\w+::)*~?\w+\s*\(',
     plain(r'\b(?:Outcome|Result<[^;{}()]*>)\s+(?:\w+::)*~?\w+\s*\(')),
    ('nodiscard', r'\[\[nodiscard\]\]', plain(r'\[\[nodiscard\]\]')),
]

print('3. Failure conventions per folder')
print('   Python regular expressions over src/ and tools/ with comments removed; each match counts once')
print('   (a declaration in a header and its definition count twice):')
for short, text, _ in CONVENTIONS:
    print('     %-14s %s' % (short, text))
conv = {}
for rel, (raw, bare) in files.items():
    if rel.split('/')[0] not in ('src', 'tools'):
        continue
    row = conv.setdefault(folder_key(rel), [0] * len(CONVENTIONS))
    for i, (_, _, fn) in enumerate(CONVENTIONS):
        row[i] += fn(bare)
rows = [(k, *conv[k]) for k in ordered(conv)]
rows.append(('(total)', *[sum(r[i + 1] for r in rows) for i in range(len(CONVENTIONS))]))
table(('folder',) + tuple(c[0] for c in CONVENTIONS), rows, first_width=16)
print()

# ---------------------------------------------------------------- 4. tests


def read(rel):
    try:
        with open(os.path.join(root, rel), encoding='utf-8', errors='replace') as f:
            return f.read()
    except OSError:
        return ''


top_cmake = read('tests/CMakeLists.txt')
labelled = re.search(r'LABELS\s+\w+', top_cmake) is not None


def label_of(folder):
    """The CTest label a tests/ folder's tests carry: unit/ and e2e/ by
    name, fuzz/ from its own CMakeLists, package/ from the add_test that
    names it; support/ is linked into both."""
    name = folder.split('/', 1)[1] if '/' in folder else ''
    if not labelled:
        return '-'
    if name in ('unit', 'e2e'):
        return name if re.search(r'/%s/.*LABELS\s+%s' % (name, name), top_cmake, re.S) else '?'
    if name == 'support':
        return '(shared)'
    own = re.search(r'LABELS\s+(\w+)', read('tests/%s/CMakeLists.txt' % name))
    if own:
        return own.group(1)
    m = re.search(r'add_test\(.{0,300}?/%s/.{0,600}?LABELS\s+(\w+)' % re.escape(name), top_cmake, re.S)
    return m.group(1) if m else '?'


print('4. Test lines')
if labelled:
    print('   by CTest label (tests/CMakeLists.txt sets LABELS); lines as in 1.')
else:
    print('   this revision sets no CTest labels: by folder; lines as in 1.')
test_folders = [k for k in ordered(per_folder) if k.split('/')[0] == 'tests']
rows = [(k, label_of(k), *per_folder[k]) for k in test_folders]
table(('folder', 'label', 'files', 'non-blank', 'code'), rows)
if labelled:
    by_label = {}
    for k, label, n, nonblank, code in rows:
        t = by_label.setdefault(label, [0, 0, 0])
        t[0] += n
        t[1] += nonblank
        t[2] += code
    print('   per label:')
    table(('label', 'files', 'non-blank', 'code'), [(l, *v) for l, v in sorted(by_label.items())])
code_t = totals.get('src+tools', [0, 0, 0])
test_t = totals.get('tests', [0, 0, 0])
print('   src+tools: %d non-blank, %d code;  tests: %d non-blank, %d code' % (code_t[1], code_t[2], test_t[1], test_t[2]))
if code_t[1] and code_t[2]:
    print('   tests / (src+tools): %.2f by non-blank lines, %.2f by code lines' % (
        test_t[1] / code_t[1], test_t[2] / code_t[2]))
print()
PY

echo "5. Repeated code in src/ and tools/"
echo "   duplicates --repo <src and tools of the revision> --most 12 --seconds 120"
(cd "$tmp/code" && duplicates --repo "$tmp/code" --most 12 --seconds 120) | sed "s#$tmp/code/##g; s/^/   /"
