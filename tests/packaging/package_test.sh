#!/usr/bin/env bash
# The Debian package as a user gets it: made by cpack from this build, unpacked into a
# folder of its own, its programs run from there, its desktop entry validated, its manual
# pages rendered, and lintian finds no error. Skipped (77) where a packaging tool is missing.
set -u
build=$1
sim=/bin/false  # no simulator here; simulator_script.sh only wants the name
source "$(dirname "$0")/../simulator_script.sh"
for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate man lintian help2man file; do
  if ! command -v "$tool" >/dev/null; then echo "skipped: $tool is not installed (bash scripts/setup installs it)"; exit 77; fi
done

(cd "$build" && cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1
check "cpack exit status" 0 $?
deb=$(ls "$work"/out/kestrum_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then cat "$work/cpack.log"; echo "FAILED: no package made"; exit 1; fi
root=$work/root
dpkg-deb -x "$deb" "$root"
check "unpacked" 0 $?

dpkg-deb -f "$deb" Section >"$work/section"
check "section" "electronics" "$(cat "$work/section")"
dpkg-deb -f "$deb" Depends | grep -q "libc6"; check "run-time dependencies computed" 0 $?

for program in kestrum-cli kestrum-sim; do
  "$root/usr/bin/$program" --help >"$work/help" 2>&1
  check "$program --help exit status" 0 $?
  grep -q "^Usage: $program" "$work/help"; check "$program --help prints its usage" 0 $?
done
if [ -x "$root/usr/bin/kestrum" ]; then
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/kestrum" --help >"$work/help" 2>&1
  check "kestrum --help without a display exit status" 0 $?
  grep -q -- "-a  *automatic firmware loading." "$work/help"; check "kestrum --help prints the program's help" 0 $?

  entry=$root/usr/share/applications/kestrum.desktop
  desktop-file-validate "$entry" >"$work/validate" 2>&1
  check "desktop entry valid" "0:" "$?:$(cat "$work/validate")"
  check "desktop entry title" "Name=Vexil Firmware Loader" "$(grep '^Name=' "$entry")"
  for size in 16 22 24 32 48 64 128 256; do
    icon=$root/usr/share/icons/hicolor/${size}x$size/apps/kestrum.png
    file "$icon" | grep -q "PNG image data, $size x $size,"; check "icon at $size pixels" 0 $?
  done
fi

for page in "$root"/usr/share/man/man1/*.1.gz; do
  name=$(basename "$page" .1.gz)
  MANWIDTH=80 man --warnings -l "$page" >"$work/page" 2>"$work/page.err"
  check "$name manual page renders without warnings" "0:" "$?:$(cat "$work/page.err")"
  grep -q "^DESCRIPTION" "$work/page" && grep -q "^NAME" "$work/page"; check "$name manual page has its sections" 0 $?
done
check "a manual page for each program" "$(ls "$root/usr/bin" | wc -l)" "$(ls "$root"/usr/share/man/man1/*.1.gz | wc -l)"
grep -q -- "--trace FILE" <(MANWIDTH=80 man -l "$root/usr/share/man/man1/kestrum-cli.1.gz" 2>/dev/null)
check "kestrum-cli manual page holds the options of its --help" 0 $?
for doc in README.md copyright changelog.gz; do
  [ -s "$root/usr/share/doc/kestrum/$doc" ]; check "doc file $doc" 0 $?
done

lintian --fail-on error "$deb" >"$work/lintian" 2>&1
check "lintian finds no error" "0" "$?"
cat "$work/lintian"
# A warning is accepted only with its reason in the README's packaging section.
readme=$(dirname "$0")/../../README.md
unlisted=$(sed -n 's/^W: [^ ]* \([^ ]*\).*/\1/p' "$work/lintian" | sort -u |
  while read -r tag; do grep -q -- "^- \`$tag" "$readme" || echo "$tag"; done)
check "each lintian warning is listed in the README with its reason" "" "$unlisted"
report
