#!/usr/bin/env bash
# Where the run's time goes: samples the component's run on one sample size
# with perf, then sorts every sample by the work it belongs to (the first
# frame of ours it stands under) and by who was running: SQLite, the kernel
# on SQLite's behalf, or our own code and the C library.
#   bench/engine_share.sh [BUILD_DIR] [LINES]     (needs perf: apt-get install linux-perf)
set -euo pipefail
build="${1:-build}"
lines="${2:-100000}"
data="$(mktemp -d)"
trap 'rm -rf "$data"' EXIT
"$build/velaccap_ratio_bench" --only run --sizes "$lines" >/dev/null  # makes the sample once, unsampled
perf record -q -F "$((200000000 / lines < 2000 ? 200000000 / lines : 2000))" --call-graph dwarf,16384 -o "$data/perf.data" \
  "$build/velaccap_ratio_bench" --only run --sizes "$lines" >/dev/null 2>&1
perf script -i "$data/perf.data" -F ip,sym,dso 2>/dev/null >"$data/stacks.txt"
python3 - "$data/stacks.txt" <<'EOF'
import collections, sys

# Innermost first: a sample belongs to the first of these it stands under.
KINDS = [
    ("writing saved rows (batched inserts)", "SavedRows::Send"),
    ("holding saved rows", "SavedRows::Add"),
    ("merging continuation lines (parent query, update)", "MergeLine"),
    ("ledger line lookups", "GetDetailLineId"),
    ("reading source rows", "SqliteSourceRecordset::move_next"),
    ("reading source values", "SqliteSourceRecordset::field_value"),
    ("other statements", "SqliteTarget::Execute"),
    ("commit", "::Commit"),
    ("the run's own work", "UpdateA812ToS820"),
]
total = 0
by_kind = collections.Counter()
by_who = collections.Counter()
for sample in open(sys.argv[1]).read().split("\n\n"):
    frames = [f.strip() for f in sample.strip().split("\n") if f.strip()]
    if not frames:
        continue
    kind = next((name for name, frame in KINDS if any(frame in f for f in frames)), None)
    if kind is None:
        continue  # start-up and opening the files: not the run
    total += 1
    leaf = frames[0]
    who = "sqlite" if "libsqlite3" in leaf else "kernel" if "kernel" in leaf else "ours"
    by_kind[kind] += 1
    by_who[(kind, who)] += 1
print(f"{total} samples of the run")
print(f"{'':52s} {'all':>6s} {'sqlite':>7s} {'kernel':>7s} {'ours':>6s}")
for name, _ in KINDS:
    if by_kind[name]:
        share = lambda who: 100 * by_who[(name, who)] / total
        print(f"{name:52s} {100 * by_kind[name] / total:5.1f}% {share('sqlite'):6.1f}% {share('kernel'):6.1f}% "
              f"{share('ours'):5.1f}%")
engine = sum(n for (k, who), n in by_who.items() if who != "ours")
print(f"{'engine (sqlite and kernel) in all':52s} {100 * engine / total:5.1f}%")
EOF
