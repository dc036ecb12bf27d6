#!/usr/bin/env bash
# Installs the build folder $1 into a temporary prefix and checks that the
# program, its desktop entry, its icon and its help pages land in their
# freedesktop places and fit together.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail=0
problem() { echo "FAIL: $*"; fail=1; }

[ -x "$prefix/bin/velmar98" ] || problem "bin/velmar98 is missing or not executable"
desktop="$prefix/share/applications/velmar98.desktop"
if [ -f "$desktop" ]; then
  grep -qx '\[Desktop Entry\]' "$desktop" || problem "the desktop entry has no [Desktop Entry] group"
  grep -qx 'Type=Application' "$desktop" || problem "the desktop entry is not of Type=Application"
  exec_cmd="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")"
  [ "$exec_cmd" = velmar98 ] || problem "Exec names '$exec_cmd', not the installed velmar98"
  icon="$(sed -n 's/^Icon=//p' "$desktop")"
  [ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
    problem "Icon=$icon has no share/icons/hicolor/scalable/apps/$icon.svg"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || problem "desktop-file-validate refuses the entry"
  fi
else
  problem "share/applications/velmar98.desktop is missing"
fi
svg="$prefix/share/icons/hicolor/scalable/apps/velmar98.svg"
[ -f "$svg" ] && grep -q '<svg' "$svg" || problem "the icon is not an SVG image"
help="$prefix/share/velmar98/help"
[ -f "$help/index.html" ] || problem "the help pages are not in share/velmar98/help"
# Every page the help pages link to is installed with them.
for page in "$help"/*.html; do
  for target in $(grep -o 'href="[^"#:]*\.html' "$page" | sed 's/href="//'); do
    [ -f "$help/$target" ] || problem "$(basename "$page") links to $target, which is not installed"
  done
done
[ "$fail" -eq 0 ] && echo "installed layout: program, desktop entry, icon and help pages in place"
exit "$fail"
