#!/usr/bin/env bash
# Prints the lines of tests (src/**/*_test.cc, *test_support.h and
# src/testing) against the lines of code (every other source file under src)
# and their ratio, which the project keeps between a quarter and a third.
# Fails above 0.35.
#   scripts/count-lines.sh
set -euo pipefail
cd "$(dirname "$0")/.."
count() { xargs -r cat | wc -l; }
tests=$(git ls-files 'src/*_test.cc' 'src/*test_support.h' 'src/testing/*' | count)
code=$(git ls-files 'src/*.cc' 'src/*.h' 'src/*.cpp' 'src/*.rc' |
       grep -v -e '_test\.cc$' -e 'test_support\.h$' -e '^src/testing/' | count)
ratio=$(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.2f", t / c }')
echo "tests $tests lines, code $code lines, ratio $ratio"
awk -v r="$ratio" 'BEGIN { exit !(r <= 0.35) }' || { echo "count-lines: tests above 0.35 of the code"; exit 1; }
