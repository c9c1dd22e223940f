#!/usr/bin/env bash
# Runs each libFuzzer target (SIP codec, media stages) for a bounded time (NX_FUZZ_SECONDS,
# default 30) on the seed corpus and the regression corpus. A crashing input is copied into the
# regression corpus (commit it: the unit tests replay it) and the script exits non-zero.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${NX_FUZZ_SECONDS:-30}
build=${NX_FUZZ_BUILD_DIR:-$here/build-fuzz}
targets=(fuzz_parse_headers fuzz_handle_incoming fuzz_media)
# Folder (under the source root) of a target's seeds/ and regressions/.
corpus_of() {
  case $1 in
    fuzz_media) echo tests/replayui/media/fuzz ;;
    *) echo tests/replayui/sip/fuzz ;;
  esac
}

if ! command -v clang >/dev/null || ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang not found; fuzzing skipped"
  exit 0
fi

cmake -S "$here" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNX_FUZZ=ON -DNX_BENCH=OFF -DNX_SANITIZE=OFF >/dev/null ||
  { echo "fuzz.sh: configure failed"; exit 1; }
cmake --build "$build" -j2 --target "${targets[@]}" ||
  { echo "fuzz.sh: build failed"; exit 1; }

status=0
for target in "${targets[@]}"; do
  corpus_dir=$(corpus_of "$target")
  corpus=$here/$corpus_dir
  work=$(mktemp -d /tmp/nx-fuzz.XXXXXX)
  artifacts=$work/artifacts/
  mkdir -p "$work/corpus" "$artifacts"
  echo "fuzz.sh: $target for ${seconds}s"
  # The first corpus folder collects new inputs; the checked-in ones are only read.
  # Run inside the scratch folder: libFuzzer may leave files in its working directory.
  (cd "$work" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    NXROOT=/tmp timeout --kill-after=30 $((seconds + 120)) \
    "$build/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts" \
    "$work/corpus" "$corpus/seeds" "$corpus/regressions" >"$work/log" 2>&1)
  rc=$?
  tail -n 12 "$work/log"
  if [ $rc -ne 0 ]; then
    status=1
    echo "fuzz.sh: $target failed (exit $rc)"
    for f in "$artifacts"*; do
      [ -e "$f" ] || continue
      name=$target-$(basename "$f")
      cp "$f" "$corpus/regressions/$name"
      echo "fuzz.sh: input saved as $corpus_dir/regressions/$name"
    done
  fi
  rm -rf "$work"
done
exit $status
