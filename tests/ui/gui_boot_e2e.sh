#!/usr/bin/env bash
# kestrel.exe end to end: for one SA-11x0 and one PXA-2x0 handheld, a kestrel.cnf that asks
# for auto boot after 1 second, kestrel.exe under Wine until it leaves with 0 after the jump,
# then the hand-off image it wrote booted in QEMU by the host build's `kestrel handoff run`;
# the probe kernel must report "probe: all checks passed".
#   gui_boot_e2e.sh HOST_KESTREL WINE_RUN WINE_PREFIX KESTREL_EXE PROBE_SA11X0 PROBE_PXA2X0
# The host program is built by the host preset (make test builds it first); without it the
# test fails.
set -u

[ $# -eq 6 ] || { echo "usage: $0 HOST_KESTREL WINE_RUN WINE_PREFIX KESTREL_EXE PROBE_SA11X0 PROBE_PXA2X0" >&2; exit 64; }
host=$1 wine_run=$2 prefix=$3 exe=$4 probe_sa=$5 probe_pxa=$6
for f in "$host" "$exe" "$probe_sa" "$probe_pxa"; do
  [ -f "$f" ] || { echo "FAIL: $f is missing (the host program comes from: cmake --preset host && cmake --build --preset host --target kestrel)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/kestrel-gui-e2e-XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0

boot() {
  local platform=$1 probe=$2 kernel=$3
  local dir="$work/$kernel-$(echo "$platform" | tr -c 'A-Za-z0-9' '_')"
  local hh="$dir/handheld" image="$dir/handoff.img"
  mkdir -p "$dir"
  echo "== $platform ($kernel)"
  "$host" handheld init "$hh" --platform "$platform" --force >/dev/null || { echo "FAIL: handheld init"; return 1; }
  cp "$probe" "$hh/Storage Card/corvid" || return 1
  [ "$kernel" = corvid.gz ] && { gzip -n -9 "$hh/Storage Card/corvid" || return 1; }
  # The defaults otherwise: the safety message (not asked at auto boot) and the pause before
  # boot, whose "Last chance..." the box policy answers with Yes.
  "$host" config set --handheld "$hh" 'kernelDirectory=\Storage Card\' "kernelFile=$kernel" "platform=$platform" \
    autoBootSeconds=1 >/dev/null || { echo "FAIL: config set"; return 1; }
  cp "$hh/Storage Card/kestrel.cnf" "$dir/kestrel.cnf.before"

  # Windows paths for the Windows program: Wine's drive Z: is the host's root.
  local out="$dir/kestrel.exe.log"
  KESTREL_HANDHELD="Z:$hh" KESTREL_HANDOFF="Z:$image" KESTREL_MESSAGE_BOX=yes \
    timeout 300 "$wine_run" --prefix "$prefix" -- "$exe" >"$out" 2>&1
  local rc=$?
  cat "$out"
  if [ $rc -ne 0 ]; then echo "FAIL: kestrel.exe exited with $rc (124: still running after 300 s)"; return 1; fi
  [ -s "$image" ] || { echo "FAIL: kestrel.exe exited with 0 but wrote no hand-off image"; return 1; }
  grep -q 'message box "Last chance..."' "$out" || { echo "FAIL: the boot did not reach its last question"; return 1; }
  if grep -q 'message box "WARNING"' "$out"; then echo "FAIL: auto boot asked the safety question"; return 1; fi
  # The boot saved the settings as it started (the same ones: the pages gave nothing new).
  cmp -s "$dir/kestrel.cnf.before" "$hh/Storage Card/kestrel.cnf" || { echo "FAIL: kestrel.cnf changed"; return 1; }

  local run="$dir/qemu.log"
  "$host" handoff run "$image" --timeout 120 >"$run" 2>&1
  rc=$?
  grep -E '^probe: ' "$run"
  if [ $rc -ne 0 ]; then echo "FAIL: kestrel handoff run exited with $rc"; tail -n 20 "$run"; return 1; fi
  grep -qx 'probe: all checks passed' "$run" || { echo "FAIL: no \"probe: all checks passed\""; return 1; }
  echo "ok: $platform"
}

# What the program says before any window when the simulation around it is not usable.
refused() {
  local what=$1 expected=$2; shift 2
  local out rc
  out=$(env "$@" KESTREL_MESSAGE_BOX=no timeout 120 "$wine_run" --prefix "$prefix" -- "$exe" 2>&1)
  rc=$?
  if [ $rc -ne 1 ] || ! grep -q "^$expected" <<<"$out"; then
    echo "FAIL: $what: exit $rc, wanted 1 and \"$expected...\":"
    echo "$out"
    return 1
  fi
  echo "ok: $what"
}
mkdir -p "$work/fine/Storage Card"
printf 'platform = Compaq iPAQ H3600\n' >"$work/fine/handheld.ini"
refused "no handheld" "kestrel: no handheld at Z:$work/none" KESTREL_HANDHELD="Z:$work/none" || status=1
refused "hand-off image not writable" "kestrel: can't write the hand-off image Z:$work/none/handoff.img" \
  KESTREL_HANDHELD="Z:$work/fine" KESTREL_HANDOFF="Z:$work/none/handoff.img" || status=1

boot "Compaq iPAQ H3600" "$probe_sa" corvid || status=1
boot "Compaq iPAQ H3900" "$probe_pxa" corvid.gz || status=1
exit $status
