#!/usr/bin/env bash
# The pages end to end. Under Wine, PagesBootWriter boots from a window whose three pages were
# set field by field (and checks kestrel.cnf), and boots again with "save to file" checked.
# Here, on the host:
#  - the hand-off image of the first boot, booted in QEMU by `kestrel handoff run`, must give
#    the probe kernel the argument vector those fields ask for, and the platform chosen;
#  - bootlog.txt of the second boot must hold the console lines that `kestrel boot` prints for
#    the same handheld, byte for byte but for the two lines named below.
#   pages_boot_e2e.sh HOST_KESTREL WINE_RUN WINE_PREFIX PAGES_BOOT_WRITER_EXE
set -u

[ $# -eq 4 ] || { echo "usage: $0 HOST_KESTREL WINE_RUN WINE_PREFIX PAGES_BOOT_WRITER_EXE" >&2; exit 64; }
host=$1 wine_run=$2 prefix=$3 writer=$4
for f in "$host" "$writer"; do
  [ -f "$f" ] || { echo "FAIL: $f is missing (the host program comes from: cmake --preset host && cmake --build --preset host --target kestrel)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/kestrel-pages-e2e-XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0

KESTREL_E2E_OUT="Z:$work" KESTREL_MESSAGE_BOX=no timeout 600 "$wine_run" --prefix "$prefix" -- "$writer" \
  || { echo "FAIL: PagesBootWriter"; exit 1; }

echo "== the fields of the three pages, booted in QEMU"
run="$work/qemu.log"
"$host" handoff run "$work/fields/handoff.img" --timeout 120 >"$run" 2>&1
rc=$?
grep -E '^probe: ' "$run"
if [ $rc -ne 0 ]; then
  echo "FAIL: kestrel handoff run exited with $rc"; tail -n 20 "$run"; status=1
else
  # argv[0] the kernel's name; the flags serial console, verbose, single user, ask name,
  # debugger; the md image; the extra options split at blanks and tabs.
  expected='probe: argc: ok 10
probe: argv[0] = "corvid"
probe: argv[1] = "h"
probe: argv[2] = "v"
probe: argv[3] = "s"
probe: argv[4] = "a"
probe: argv[5] = "d"
probe: argv[6] = "m=mini.fs"
probe: argv[7] = "-c"
probe: argv[8] = "root=md0"
probe: argv[9] = "noapm"'
  got=$(grep -E '^probe: (argc|argv\[)' "$run")
  if [ "$got" != "$expected" ]; then
    echo "FAIL: the argument vector differs:"; diff <(echo "$expected") <(echo "$got"); status=1
  fi
  grep -q 'machine 0x01c40202' "$run" || { echo "FAIL: the probe did not get the iPAQ H3660 chosen"; status=1; }
  grep -q '^probe: image: ok' "$run" || { echo "FAIL: the probe did not find the md image"; status=1; }
  grep -qx 'probe: all checks passed' "$run" || { echo "FAIL: no \"probe: all checks passed\""; status=1; }
  [ $status -eq 0 ] && echo "ok: the kernel got the pages' fields"
fi

echo "== bootlog.txt against kestrel boot's console"
"$host" boot --handheld "$work/bootlog/handheld" --run none --yes >"$work/boot.out" 2>"$work/boot.err"
echo "kestrel boot: exit $?"
# Two lines differ for reasons of their own: the second stage's virtual address (the window
# made its own allocations in the handheld's address space before the boot; the physical page
# is the same), and the line after the jump, which is the one place where the two programs
# part (the test's window comes back from the jump and says so; kestrel boot stops there).
normalise() { sed -E 's/^(2nd bootloader vaddr=)0x[0-9a-f]+/\1(vaddr)/' "$1" | grep -vE "$2"; }
tail -n 1 "$work/bootlog/bootlog.txt" | grep -q '^Return from FlatJump_' \
  || { echo "FAIL: the logged boot did not reach the jump"; status=1; }
normalise "$work/bootlog/bootlog.txt" '^Return from FlatJump_' >"$work/bootlog.cmp"
normalise "$work/boot.out" '^kestrel: stopped at the jump\.$' >"$work/boot.cmp"
lines=$(wc -l <"$work/boot.cmp")
if [ "$lines" -lt 50 ]; then
  echo "FAIL: kestrel boot printed only $lines lines"; cat "$work/boot.out" "$work/boot.err"; status=1
elif cmp -s "$work/bootlog.cmp" "$work/boot.cmp"; then
  echo "ok: bootlog.txt holds the boot's $lines console lines"
else
  echo "FAIL: bootlog.txt and kestrel boot's console differ:"
  diff "$work/bootlog.cmp" "$work/boot.cmp" | head -n 40
  status=1
fi
exit $status
