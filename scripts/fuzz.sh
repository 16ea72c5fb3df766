#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer)
# into build-fuzz/ and runs each in turn for a number of executions.
#   scripts/fuzz.sh [-n RUNS] [-t SECONDS] [TARGET...]
# runs every target (or those named) for RUNS executions (default 1000000), each stopping
# after SECONDS when that comes first (default: no limit).
# What each run learns stays in build-fuzz/corpus/<target>/ for the next run; an input that
# crashes, leaks or hangs is kept in build-fuzz/findings/<target>/ and the script exits non-zero.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"

runs=1000000
seconds=0
while getopts "n:t:h" opt; do
  case $opt in
    n) runs=$OPTARG ;;
    t) seconds=$OPTARG ;;
    *) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

all=(fuzz_aiff_reader fuzz_au_reader fuzz_amr_reader fuzz_wav_info_tags fuzz_midi_file
     fuzz_stream_sniffers fuzz_utf8_text fuzz_tags fuzz_cue_sheet)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

build=$here/build-fuzz
jobs=${KESTRUNE_JOBS:-2}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache
                                          -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S . -B "$build" -DKESTRUNE_FUZZ=ON \
  -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$jobs" --target kestrune_fuzz_targets

# Seeds: small files of every kind made here, the repository's own test files, and the
# shared corpus's files of the target's kinds, linked where they lie. Each run of this script
# has its own, so two runs side by side (one per core) never pull seeds from under each other.
# The targets also write each input to a file there: a memory-backed folder keeps that off the disk.
scratch=$(mktemp -d "$([ -d /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/kestrune-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
seeds=$scratch/seeds
"$build/bin/kestrune_fuzz_seeds" "$seeds/made"
corpus=${KESTRUNE_CORPUS_DIR:-$here/../shared/corpus}
link_seeds() {  # link_seeds TARGET MADE_DIR PATTERN...
  local dir=$seeds/$1 made=$2
  shift 2
  mkdir -p "$dir"
  [ -n "$made" ] && cp "$seeds/made/$made"/* "$dir"/ 2>/dev/null || true
  local pattern file
  for pattern in "$@"; do
    for file in "$here"/tests/data/*/$pattern "$corpus"/$pattern; do
      # Large files only slow every run down; their first bytes are what a parser sees first.
      [ -f "$file" ] && [ "$(stat -c %s "$file")" -le 262144 ] &&
        ln -sf "$file" "$dir/$(basename "$file")"
    done
  done
  return 0
}
shopt -s nullglob nocaseglob
link_seeds fuzz_aiff_reader aiff '*.aif' '*.aiff' '*.aifc'
link_seeds fuzz_au_reader au '*.au' '*.snd'
link_seeds fuzz_amr_reader amr '*.amr'
link_seeds fuzz_wav_info_tags wav '*.wav'
link_seeds fuzz_midi_file midi '*.mid' '*.rmi'
link_seeds fuzz_stream_sniffers stream '*.wav' '*.mp3' '*.mp2' '*.mp1' '*.flac' '*.wv' \
  '*.m4a' '*.m4b' '*.mp4' '*.aac' '*.adx'
link_seeds fuzz_utf8_text ''
link_seeds fuzz_cue_sheet cue '*.cue' 'flac_cue_*.flac'
# The tagged files of every kind whose tags a conversion reads.
link_seeds fuzz_tags stream '*.mp3' '*.mp2' '*.flac' '*.ogg' '*.oga' '*.opus' '*.spx' '*.m4a' \
  '*.m4b' '*.mp4' '*.3g2' '*.wma' '*.aif' '*.aiff' '*.afc' '*.wav' '*.wv' '*.ape' '*.mpc' '*.tta' \
  '*.mka' '*.dsf' '*.id3' '*.apev2' '*.x'
printf 'Seed title \xc3\xa9\xce\x91\xd0\x96 \xf0\x9f\x8e\xb5\n' >"$seeds/fuzz_utf8_text/text"
shopt -u nullglob nocaseglob

status=0
summary=()
for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target" "$build/findings/$target"
  log=$build/findings/$target.log
  echo "== $target: $runs runs (log: $log)"
  start=$SECONDS
  # Inputs longer than 64 KiB add time, not new paths; a run over 10 s counts as a hang.
  # -max_total_time=0 is no limit.
  if TMPDIR=$scratch "$build/bin/$target" -runs="$runs" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/findings/$target/" \
      "$build/corpus/$target" "$seeds/$target" >"$log" 2>&1; then
    result=ok
  elif [ -n "$(ls -A "$build/findings/$target")" ]; then
    result="FINDING (see $build/findings/$target/)"
    status=1
  else
    # Stopped from outside (Ctrl+C, SIGTERM) before any finding: what ran is still counted.
    result="stopped, nothing found"
    status=1
  fi
  done_runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  summary+=("$target: ${done_runs:-?} runs in $((SECONDS - start)) s, $result")
  echo "${summary[-1]}"
done
printf '%s\n' "== summary" "${summary[@]}"
exit $status
