#!/usr/bin/env bash
# cmake --install into a fresh prefix: the programs, the manual pages, the completion, the
# desktop entry with its icon, the Python package and the documentation folders land where a
# Debian system looks for them, and the copyright file carries the licence.
#   install_test.sh BUILD SOURCES GUI(ON|OFF)
set -uo pipefail
build=$1
sources=$2
gui=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > "$prefix.log" 2>&1 || { cat "$prefix.log"; rm -f "$prefix.log"; exit 1; }
rm -f "$prefix.log"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
has() { [ -f "$prefix/$1" ] || fail "$1 is not installed"; }

[ -x "$prefix/bin/wavtokeb-cli" ] || fail "bin/wavtokeb-cli is not installed"
has share/bash-completion/completions/wavtokeb-cli
packages=(wavtokeb-cli python3-wavtokeb)
pages=(wavtokeb-cli)
# The Python package and its metadata, importable from where it was installed.
python_dir=lib/python3/dist-packages
has "$python_dir/wavtokeb/__init__.py"
has "$python_dir/wavtokeb/_read.py"
metadata=$(ls "$prefix/$python_dir"/wavtokeb-*.dist-info/METADATA 2> /dev/null | head -n 1)
[ -n "$metadata" ] && grep -qx 'Name: wavtokeb' "$metadata" || fail "the package's METADATA is missing"
python=$(command -v /usr/bin/python3 python3 | head -n 1)
if [ -n "$python" ] && "$python" -c 'import numpy' 2> /dev/null; then
  where=$(cd "$prefix" && PYTHONPATH="$prefix/$python_dir" "$python" -c 'import wavtokeb; print(wavtokeb.__file__)') ||
    fail "the installed Python package does not import"
  [[ "$where" == "$prefix/"* ]] || fail "wavtokeb imported from $where, not from $prefix"
fi
if [ "$gui" = ON ]; then
  [ -x "$prefix/bin/wavtokeb" ] || fail "bin/wavtokeb is not installed"
  desktop=share/applications/wavtokeb.desktop
  has "$desktop"
  grep -qx 'Exec=wavtokeb' "$prefix/$desktop" || fail "$desktop does not start wavtokeb"
  icon=$(sed -n 's/^Icon=//p' "$prefix/$desktop")
  has "share/icons/hicolor/scalable/apps/$icon.svg"
  packages+=(wavtokeb)
  pages+=(wavtokeb)
fi
for page in "${pages[@]}"; do
  has "share/man/man1/$page.1.gz"
  gzip -dc "$prefix/share/man/man1/$page.1.gz" 2> /dev/null | head -n 1 | grep -q '^\.TH ' ||
    fail "share/man/man1/$page.1.gz is no compressed manual page"
done
for package in "${packages[@]}"; do
  doc="share/doc/$package"
  for file in README.md LICENSE copyright changelog.gz docs/screenshot.png; do has "$doc/$file"; done
  cmp -s "$sources/README.md" "$prefix/$doc/README.md" || fail "$doc/README.md is not the README"
  # Every line of the licence, as the copyright file indents it.
  while IFS= read -r line; do
    [ -z "$line" ] || grep -qxF " $line" "$prefix/$doc/copyright" ||
      fail "$doc/copyright lacks the licence line: $line"
  done < <(tail -n +5 "$sources/LICENSE")
  grep -q '^License: Expat$' "$prefix/$doc/copyright" || fail "$doc/copyright names no licence"
  gzip -dc "$prefix/$doc/changelog.gz" 2> /dev/null | head -n 1 | grep -q '^wavtokeb (' ||
    fail "$doc/changelog.gz is no compressed changelog"
done
((failures == 0)) || exit 1
echo "installed as expected under $prefix"
