#!/usr/bin/env bash
# A small mutation runner: does the unit suite notice when the code is wrong?
# Usage: scripts/mutate.sh [--seed S] [--count N] [--timeout SECONDS] [--list] [--only I,J...]
# Picks a fixed, seeded sample of mutants (a flipped comparison, an arithmetic operator
# swapped, a boolean flipped, a statement dropped, a constant off by one) in the .cpp files
# of the folders below, builds each into build-mutate/ (unit tests only, incremental) and
# runs the unit tests of the mutated folder. Killed = a test failed or timed out; a mutant
# that does not compile is left out. The source file is restored after every mutant, also
# when the run is interrupted. Prints the kill rate and the surviving mutants.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seed=1301
count=64
timeout=120
list_only=0
only=""  # run only these mutants of the sample (1-based, as --list and the report number them)
while [ $# -gt 0 ]; do
  case $1 in
    --seed) seed=$2; shift 2 ;;
    --count) count=$2; shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --list) list_only=1; shift ;;
    --only) only=",$2,"; shift 2 ;;
    *) echo "usage: $0 [--seed S] [--count N] [--timeout SECONDS] [--list] [--only I,J...]" >&2
       exit 2 ;;
  esac
done

# The folders mutated; each one's unit tests are those ctest runs from its mirror in tests/.
folders=(src/Storage src/Pipeline src/Video src/Audio src/Export)

mutants=$(python3 - "$root" "$seed" "$count" "${folders[@]}" <<'EOF'
import random, re, sys, pathlib
root, seed, count, dirs = pathlib.Path(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), sorted(sys.argv[4:])
SKIP = re.compile(r'^\s*(#|//|\*|/\*)|static_assert|ZVLog|fprintf|throw |ZVException')
OPS = [  # (kind, pattern, replacement function)
    ('compare', re.compile(r'(?<= )(<=|>=|==|!=|<|>)(?= )'),
     lambda m: {'<': '>=', '>': '<=', '<=': '>', '>=': '<', '==': '!=', '!=': '=='}[m]),
    ('arith', re.compile(r'(?<= )([+-])(?= )'), lambda m: '-' if m == '+' else '+'),
    ('logic', re.compile(r'(?<= )(&&|\|\|)(?= )'), lambda m: '||' if m == '&&' else '&&'),
    ('bool', re.compile(r'\b(true|false)\b'), lambda m: 'false' if m == 'true' else 'true'),
    ('const', re.compile(r'(?<![\w.])(\d+)(?![\w.])'), lambda m: str(int(m) + 1)),
]
DROP = re.compile(r'^\s+(?!return\b|throw\b|case\b|break\b|continue\b|goto\b|delete\b)'
                  r'([\w.\->\[\]:]+\(.*\)|[\w.\->\[\]]+ ([-+|&]?=) .*);\s*$')
def masked(line):  # blank out string and character literals and trailing comments
    out, q, i = [], None, 0
    while i < len(line):
        c = line[i]
        if q:
            out.append(' ')
            if c == '\\': out.append(' '); i += 1
            elif c == q: q = None
        elif c in '"\'': q = c; out.append(' ')
        elif line.startswith('//', i): break
        else: out.append(c)
        i += 1
    return ''.join(out)
sites = []
for d in dirs:
    for f in sorted((root / d).glob('*.cpp')):
        text = f.read_text().split('\n')
        in_comment = False
        for n, line in enumerate(text, 1):
            if '/*' in line: in_comment = '*/' not in line
            if in_comment:
                if '*/' in line: in_comment = False
                continue
            if SKIP.search(line): continue
            m_line = masked(line)
            for kind, pat, repl in OPS:
                for m in pat.finditer(m_line):
                    new = line[:m.start()] + repl(m.group(1)) + line[m.end():]
                    sites.append((f.relative_to(root), n, kind, new))
            if DROP.match(m_line):
                sites.append((f.relative_to(root), n, 'drop', ''))
rng = random.Random(seed)
for path, n, kind, new in sorted(rng.sample(sites, min(count, len(sites)))):
    print(f'{path}\t{n}\t{kind}\t{new}')
EOF
)

if [ "$list_only" = 1 ]; then
  printf '%s\n' "$mutants" | nl -w2 -s' '
  exit 0
fi

build=$root/build-mutate
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/zorvan-ccache}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
# Unoptimised and without debug info: the quickest rebuild per mutant. Test programs are not
# relinked when only libzorvan changed. A mutant that only draws a warning still runs.
cmake -S "$root" -B "$build" -G Ninja -DZV_UNIT_ONLY=ON -DZV_WERROR=OFF -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_CXX_FLAGS=-O0 -DCMAKE_LINK_DEPENDS_NO_SHARED=ON >/dev/null
cmake --build "$build" >/dev/null

# The unit tests of each folder, as ctest knows them: a test whose program is built in
# tests/X of the build tree tests src/X. Written as ctest -R patterns.
declare -A tests_of
while IFS=$'\t' read -r dir pattern; do
  tests_of[$dir]=$pattern
done < <(cd "$build" && ctest -L unit --show-only=json-v1 | python3 -c '
import json, os, sys
build, of = sys.argv[1], {}
for test in json.load(sys.stdin)["tests"]:
    folder = os.path.relpath(os.path.dirname(test["command"][0]), os.path.join(build, "tests"))
    of.setdefault("src/" + folder, []).append(test["name"])
for folder, names in sorted(of.items()):
    print(folder + "\t^(" + "|".join(sorted(names)) + ")$")
' "$build")
for dir in "${folders[@]}"; do
  [ -n "${tests_of[$dir]:-}" ] || { echo "no unit tests of $dir in $build" >&2; exit 1; }
done

backup=$(mktemp)
current=""
restore() {
  if [ -n "$current" ]; then
    cp "$backup" "$root/$current"
    current=""
  fi
}
trap restore EXIT
trap 'restore; exit 130' INT TERM

killed=0 survived=0 invalid=0 i=0
survivors=()
total=$(printf '%s\n' "$mutants" | grep -c .)
while IFS=$'\t' read -r -u 3 path line kind new; do
  i=$((i + 1))
  [ -z "$only" ] || [[ $only == *",$i,"* ]] || continue
  dir=$(dirname "$path")
  cp "$root/$path" "$backup"
  current=$path
  python3 - "$root/$path" "$line" "$kind" "$new" <<'EOF'
import sys
path, n, kind, new = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4] if len(sys.argv) > 4 else ''
lines = open(path).read().split('\n')
lines[n - 1] = '' if kind == 'drop' else new
open(path, 'w').write('\n'.join(lines))
EOF
  what="$path:$line $kind: $(sed -n "${line}p" "$backup" | sed 's/^ *//') => $new"
  what=${what%=> }
  if ! cmake --build "$build" --target zorvan >/dev/null 2>&1; then
    invalid=$((invalid + 1))
    echo "[$i/$total] does not compile  $what"
  elif (cd "$build" && timeout $((timeout + 10)) ctest -L unit -R "${tests_of[$dir]}" \
          --timeout "$timeout" --stop-on-failure >/dev/null 2>&1); then
    survived=$((survived + 1))
    survivors+=("$what")
    echo "[$i/$total] SURVIVED         $what"
  else
    killed=$((killed + 1))
    echo "[$i/$total] killed           $what"
  fi
  restore
done 3<<<"$mutants"  # fd 3: a test that reads standard input must not eat the list
cmake --build "$build" --target zorvan >/dev/null 2>&1 || true

tried=$((killed + survived))
echo "mutants: $total, killed $killed, survived $survived, did not compile $invalid"
if [ "$tried" -gt 0 ]; then
  awk -v k="$killed" -v t="$tried" 'BEGIN { printf "kill rate: %.3f (%d of %d)\n", k / t, k, t }'
fi
if [ ${#survivors[@]} -gt 0 ]; then
  echo "survivors:"
  printf '  %s\n' "${survivors[@]}"
fi
