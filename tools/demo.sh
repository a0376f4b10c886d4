#!/usr/bin/env bash
# The demo: a TM server simulator on the demo database and a demo workbook that uses every form
# of the data sheet. With a display, veltexcel runs on it in command-line mode: LibreOffice Calc
# shows the workbook, refreshed every second, and closing the workbook ends the demo. Without
# one, the headless updater fills the workbook once and the filled sheet is printed as a table.
# Run through ./run demo, which builds first.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
bin=${VELT_BUILD_DIR:-build}

tmsim_pid=
cleanup() {
  if [ -n "$tmsim_pid" ] && kill -0 "$tmsim_pid" 2>/dev/null; then
    kill -TERM "$tmsim_pid" 2>/dev/null || true
    wait "$tmsim_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

workdir=$(mktemp -d "${TMPDIR:-/tmp}/veltexcel-demo.XXXXXX")
workbook="$workdir/demo.xls"

echo "== starting the TM server simulator on the demo database"
"$bin/tmserver/tmsim" --db tmserver/data/demo.toml --listen 127.0.0.1:0 >"$workdir/tmsim.log" 2>&1 &
tmsim_pid=$!
address=
for _ in $(seq 1 100); do
  address=$(grep -m1 -o -E '127\.0\.0\.1:[0-9]+' "$workdir/tmsim.log" || true)
  [ -n "$address" ] && break
  kill -0 "$tmsim_pid" 2>/dev/null || { cat "$workdir/tmsim.log" >&2; exit 1; }
  sleep 0.1
done
[ -n "$address" ] || { echo "tmsim did not start" >&2; cat "$workdir/tmsim.log" >&2; exit 1; }
echo "   tmsim listens on $address (server name TMS)"

echo "== creating the demo workbook"
"$bin/updater/veltexcel-new-workbook" create --demo "$workbook"

if [ -n "${DISPLAY:-}" ] && [ -x "$bin/gui/veltexcel" ] &&
  xdotool getdisplaygeometry >/dev/null 2>&1; then
  settings="$workdir/demo.ini"
  # Values are saved after every pass, so the save on close is left off.
  printf '[TForm1]\nEdit1_Text=%s\\TMS\nOpenDialog1_FileName=%s\nRxSpinEdit1_Value=1\nTimer1_Interval=1000\nN8_Checked=True\nN9_Checked=False\nN21_Checked=True\n' \
    "$address" "$workbook" >"$settings"
  echo "== veltexcel in command-line mode on $DISPLAY (settings: $settings)"
  echo "   LibreOffice Calc shows the workbook, refreshed every second; the program waits in the"
  echo "   notification area. Close the workbook in Calc to end the demo."
  status=0
  "$bin/gui/veltexcel" "$settings" || status=$?
  echo "== veltexcel ended (exit code $status); the workbook is at $workbook"
  exit "$status"
fi

echo "== updating it once with veltexcel-update"
"$bin/updater/veltexcel-update" --server "$address\\TMS" "$workbook"

echo "== the filled sheet \"ВЕЛТ\""
"$bin/updater/veltexcel-new-workbook" print "$workbook"
echo
echo "The workbook is at $workbook"
