#!/bin/sh
# Prints the weight of the tests against the code they test: non-blank lines that are not
# comments, of the files git knows (tests/README.md holds the budget per folder).
cd "$(dirname "$0")/.."
count() { grep -cvE "$1"; }
code=$(git ls-files -- 'src/*' 'resources/*' | grep -E '\.(cpp|cc|h|hpp|mm|mjs|js)$' | xargs -r cat | count '^\s*($|//)')
for folder in unit support fuzz posix gtk services packaging desktop/support; do
  printf '%s %s, ' "$folder" "$(git ls-files -- "tests/$folder/*" | grep -E '\.(cpp|cc|h|hpp|mjs|js|sh|py)$' | xargs -r cat | count '^\s*($|//|#)')"
done
printf 'desktop tests %s\n' "$(git ls-files -- 'tests/desktop/*.test.mjs' | xargs -r cat | count '^\s*($|//|#)')"
tests=$(git ls-files -- 'tests/*' | grep -E '\.(cpp|cc|h|hpp|mjs|js|sh|py)$' | xargs -r cat | count '^\s*($|//|#)')
awk -v c="$code" -v t="$tests" 'BEGIN { printf "code %d, tests %d, ratio %.4f (at most 0.40)\n", c, t, t / c }'
