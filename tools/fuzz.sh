#!/usr/bin/env bash
# Fuzzes each libFuzzer target of tests/fuzz for a bounded time and records what it did.
#
#   tools/fuzz.sh [target ...]        (default: every target; FUZZ_SECONDS per target, default 60)
#
# Builds with clang, AddressSanitizer and UndefinedBehaviorSanitizer into build/fuzz. Each target
# starts from its seed corpus in tests/fuzz/corpus/<target> (read only) and grows a working corpus
# in build/fuzz/corpus/<target>; a crashing input is saved in build/fuzz/findings/<target>/.
# The summary (executions and findings per target) goes to build/fuzz/summary.txt. Exits 1 when
# any target found something: fix it, then copy the input into the seed corpus so that the
# replay test (tests/cpp/fuzz_corpus_test.cpp) keeps it fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
out=build/fuzz
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(json_fuzz bm25_load_fuzz jieba_cut_fuzz jieba_analyzer_fuzz jieba_loader_fuzz)

[ -x .venv/bin/cmake ] || tools/setup.sh
if ! command -v clang++ >/dev/null; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang >/dev/null
fi
# Debian ships the fuzzer runtime in its own package since clang 14.
if ! ls "$(clang++ -print-resource-dir)"/lib/*/libclang_rt.fuzzer* >/dev/null 2>&1; then
  major=$(clang++ -dumpversion | cut -d. -f1)
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    "libclang-rt-$major-dev" >/dev/null
fi
# The engine target cuts with the real dictionary when it is there.
.venv/bin/python tools/fetch_jieba_data.py --out data/jieba >/dev/null || true

CC=clang CXX=clang++ .venv/bin/cmake -S . -B "$out" -G Ninja -DCMAKE_MAKE_PROGRAM="$PWD/.venv/bin/ninja" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPYORVELTEXT_BUILD_MODULE=OFF -DPYORVELTEXT_BUILD_FUZZERS=ON \
  -DPYORVELTEXT_SANITIZE=address,undefined,fuzzer-no-link >/dev/null
.venv/bin/cmake --build "$out" -j2 --target "${targets[@]}"

summary=$out/summary.txt
echo "fuzzing for ${seconds}s per target, $(date -u +%Y-%m-%dT%H:%M:%SZ)" >"$summary"
failed=0
for target in "${targets[@]}"; do
  corpus=$out/corpus/$target
  findings=$out/findings/$target
  log=$out/$target.log
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings"
  echo "== $target (${seconds}s)"
  status=0
  "$out/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "tests/fuzz/corpus/$target" \
    >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  found=$(find "$findings" -type f | wc -l)
  line="$target: ${executions:-?} executions, $found findings"
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    failed=1
    line="$line (exit $status; see $log and $findings)"
  fi
  echo "$line" | tee -a "$summary"
done
exit "$failed"
