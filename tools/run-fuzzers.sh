#!/usr/bin/env bash
# Usage: run-fuzzers.sh BUILD SECONDS TARGET...
# Runs each fuzz target for SECONDS, one after another, starting from its saved corpus. New inputs
# collect in BUILD/corpus/TARGET; afterwards the saved corpus is replaced by a minimal set with
# the same coverage (inputs named crash-* are kept whatever they cover: they are fixed faults),
# so `make test` can replay it in seconds. A finding stops the run and is left in BUILD/artifacts.
set -euo pipefail
build=$1
seconds=$2
shift 2
# The targets keep the catalogue, and Qt its parsed files, for the life of the process on purpose;
# leak checks would report those as leaks of the first input. A stored value may announce a length
# of gigabytes: Qt asks for it, gets nothing and reads on, as it does outside the sanitizer. The
# sanitizer would otherwise grant such a request and poison an eighth of it in shadow memory,
# which no real allocator does, so requests over 2 GB are refused as a loaded machine would.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:allocator_may_return_null=1:max_allocation_size_mb=2048}
for target in "$@"; do
  binary=$build/tests/fuzz/fuzz_$target
  saved=tests/fuzz/corpus/$target
  work=$build/corpus/$target
  mkdir -p "$saved" "$work" "$build/artifacts"
  options=()
  if [ -f "tests/fuzz/$target.dict" ]; then
    options+=(-dict="tests/fuzz/$target.dict")
  fi
  echo "fuzz: $target for ${seconds}s"
  # Memory is judged by what is used (RSS), not by a single request: Qt reserves what a stored
  # length announces and is refused or never touches it, outside the sanitizer too.
  "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=65536 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target-" "${options[@]}" "$work" "$saved"
  minimal=$(mktemp -d)
  # Edges only, not hit counts: enough to keep every path, and it keeps the set a few dozen inputs.
  "$binary" -merge=1 -use_counters=0 "$minimal" "$saved" "$work" 2>"$build/merge-$target.log"
  find "$saved" -maxdepth 1 -type f -name 'crash-*' -exec cp {} "$minimal"/ \;
  find "$saved" -maxdepth 1 -type f -delete
  cp "$minimal"/* "$saved"/
  rm -rf "$minimal"
  echo "fuzz: $target keeps $(find "$saved" -type f | wc -l) inputs"
done
