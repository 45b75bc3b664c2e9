#!/usr/bin/env bash
# Compares the segmentation engine at a base commit with the working tree, built side by side
# from the same benchmark driver (benchmarks/segment_engine_bench.cpp of the working tree).
#
#   benchmarks/engine_ab.sh [--base COMMIT] [--rounds N] [--mb MB] [--cpu-time] [--callgrind] [CORPUS]
#
# Wall clock (default): old and new binaries run alternately, N rounds each (default 5), one
# thread, on CORPUS (default data/bench/corpus.txt, fetched when absent); prints every round and
# the new/old ratio's min/median/max per mode; --cpu-time divides by CPU time instead, which
# other work on the machine disturbs less. --callgrind: instead counts the instructions of
# the cutting alone (valgrind's callgrind, collecting inside CutAll) on the first MB (default 1)
# of the corpus, which is stable on a busy machine. DATA_DIR comes from $ORVEL_DATA_DIR
# (default ../shared/jieba/data, else data/jieba).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
base=d758d82
rounds=5
mb=""
callgrind=0
clock=""
corpus=data/bench/corpus.txt
while (($#)); do
  case $1 in
    --base) base=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --mb) mb=$2; shift 2 ;;
    --callgrind) callgrind=1; shift ;;
    --cpu-time) clock=--cpu-time; shift ;;
    *) corpus=$1; shift ;;
  esac
done
venv=$root/.venv/bin
[ -x "$venv/cmake" ] || tools/setup.sh
[ -f "$corpus" ] || "$venv/python" tools/fetch_bench_corpus.py
data_dir=${ORVEL_DATA_DIR:-../shared/jieba/data}
if [ ! -f "$data_dir/jieba.dict.utf8" ]; then
  data_dir=data/jieba
  "$venv/python" tools/fetch_jieba_data.py --out "$data_dir" >/dev/null
fi

build() {  # build SOURCE_DIR BUILD_DIR
  "$venv/cmake" -S "$1" -B "$2" -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/ninja" \
    -DCMAKE_BUILD_TYPE=Release -DPYORVELTEXT_BUILD_MODULE=OFF \
    -DPYORVELTEXT_BUILD_BENCHMARKS=ON >/dev/null
  "$venv/cmake" --build "$2" -j2 --target segment_engine_bench >/dev/null
}

# The base's engine with today's driver, so both sides read the same corpus the same way.
# Rebuilt only when the base or the driver changed.
old_src=build/ab-old/src
stamp="$(git rev-parse "$base") $(cat benchmarks/segment_engine_bench.cpp tests/cpp/golden_file.h | sha1sum)"
if [ "$(cat build/ab-old/stamp 2>/dev/null)" != "$stamp" ]; then
  rm -rf build/ab-old && mkdir -p "$old_src"
  git archive "$base" | tar -x -C "$old_src"
  cp benchmarks/segment_engine_bench.cpp "$old_src/benchmarks/"
  cp tests/cpp/golden_file.h "$old_src/tests/cpp/"
  build "$old_src" build/ab-old/build
  echo "$stamp" >build/ab-old/stamp
fi
build . build/ab-new
old=build/ab-old/build/segment_engine_bench
new=build/ab-new/segment_engine_bench
echo "base $base ($(git log -1 --format=%h "$base")) vs working tree at $(git rev-parse --short HEAD)$(git diff --quiet HEAD -- csrc || echo ' + changes')"
echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), load: $(cut -d' ' -f1-3 /proc/loadavg)"

if ((callgrind)); then
  for side in old new; do
    binary=${!side}
    valgrind --tool=callgrind --callgrind-out-file="build/ab-$side.callgrind" \
      --toggle-collect='*CutAll*' "$binary" "$data_dir" "$corpus" "${mb:-1}" \
      --rounds 1 --threads 1 --quiet-setup 2>"build/ab-$side.valgrind.log" >/dev/null
    # Collected events: Cut and CutForSearch once for the rate, once for the word count.
    echo "$side: $(grep -m1 '^summary:' "build/ab-$side.callgrind" | cut -d' ' -f2) instructions"
  done
  awk '/^summary:/ {v[FILENAME] = $2} END {
    printf "new/old instructions: %.3f\n", v["build/ab-new.callgrind"] / v["build/ab-old.callgrind"]
  }' build/ab-old.callgrind build/ab-new.callgrind
  exit 0
fi

log=build/ab-wall.log
: >"$log"
for ((round = 1; round <= rounds; round++)); do
  for side in old new; do
    binary=${!side}
    "$binary" "$data_dir" "$corpus" $mb --rounds 1 --threads 1 --quiet-setup $clock |
      awk -v side="$side" -v round="$round" '$2 == "1" {print side, round, $1, $4}' | tee -a "$log"
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
"$venv/python" - "$log" <<'PY'
import statistics, sys
rates = {}
for line in open(sys.argv[1]):
    side, rnd, mode, rate = line.split()
    rates.setdefault(mode, {}).setdefault(int(rnd), {})[side] = float(rate)
for mode, by_round in rates.items():
    ratios = sorted(r["new"] / r["old"] for r in by_round.values() if len(r) == 2)
    old = statistics.median(r["old"] for r in by_round.values())
    new = statistics.median(r["new"] for r in by_round.values())
    print(f"{mode:13s} old {old:6.1f} MB/s, new {new:6.1f} MB/s (medians); new/old per round "
          f"min {ratios[0]:.2f} median {statistics.median(ratios):.2f} max {ratios[-1]:.2f}")
PY
