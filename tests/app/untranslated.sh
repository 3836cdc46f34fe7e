#!/bin/sh
# Fails when a text of the window has no finished English translation: lupdate
# brings a copy of the translation file up to date with the sources, and any
# entry it leaves unfinished is new or changed since the file was translated.
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$2/app/translations/lds-tool_en.ts" "$tmp/en.ts"
"$1" -no-obsolete -locations none "$2/app" "$2/viewer" -ts "$tmp/en.ts"
if grep -B2 'type="unfinished"' "$tmp/en.ts"; then
  echo "these texts have no English translation in app/translations/lds-tool_en.ts"
  exit 1
fi
