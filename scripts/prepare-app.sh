#!/usr/bin/env bash
# Fills an app folder: the page images, the chart font (Liberation Sans,
# metric-compatible with Arial, under the name the charts ask for) and a
# default fv.cfg when there is none.
set -euo pipefail
app=${1:?usage: prepare-app.sh APP_FOLDER}
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$app"
cp "$here"/app/*.png "$app"/ 2>/dev/null || true
font=/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf
[ -f "$font" ] && cp "$font" "$app/ARIAL.TTF"
if [ ! -f "$app/fv.cfg" ]; then
  printf '// fv.cfg\n// File version follows on next line.\n11\n\nport 8080\n' > "$app/fv.cfg"
fi
