#!/usr/bin/env bash
# A check by hand, too slow for CI (it downloads LibreOffice, several hundred MB, into a new root;
# 11 minutes on a 2-core machine shared with other builds): the package installs with apt-get into a fresh Debian 12
# root made by mmdebstrap, and there, with no build tree, its own tools make a workbook, fill it
# from tmsim on the demo database and write a dated PDF report that holds the values.
#   packaging/check-fresh-root.sh build-package/package/veltexcel_<version>_<arch>.deb
# Run as root; needs mmdebstrap and Debian's archive (deb.debian.org).
set -euo pipefail
deb=$(readlink -f "$1")
[ -f "$deb" ] || { echo "usage: $0 PACKAGE.deb" >&2; exit 2; }
work=$(mktemp -d /tmp/veltexcel-fresh-root.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$deb" "$work/veltexcel.deb"

cat >"$work/inside.sh" <<'INSIDE'
set -eu
export LC_ALL=C.UTF-8 HOME=/root
cd /tmp
veltexcel --version
veltexcel-new-workbook --version
tmsim --db /usr/share/veltexcel/demo.toml --listen 127.0.0.1:0 >tmsim.out 2>&1 &
sim=$!
for _ in $(seq 100); do grep -q '^listening on ' tmsim.out && break; sleep 0.1; done
address=$(sed -n 's/^listening on //p' tmsim.out)
veltexcel-new-workbook create report.xls
veltexcel-new-workbook create --demo demo.xls
cp /usr/share/veltexcel/demo.xls template.xls
veltexcel-update --quiet --server "$address\\TMS" demo.xls --save-as 'day-%Y-%m-%d.pdf'
veltexcel-update --quiet --server "$address\\TMS" template.xls --save-as 'template.csv'
kill "$sim"
veltexcel-new-workbook print demo.xls | grep -q '#TC1:2:10 .* 9 '
pdftotext "day-$(date +%Y-%m-%d).pdf" - | grep -q 1531070
grep -q '1531070' template.csv
veltexcel-new-workbook print report.xls | grep -q 'ТМ адрес'
echo "fresh root: installed, made a workbook, filled it, wrote the PDF"
INSIDE

started=$(date +%s)
mmdebstrap --variant=apt --include=ca-certificates,poppler-utils \
  --customize-hook="copy-in $work/veltexcel.deb $work/inside.sh /tmp" \
  --customize-hook='chroot "$1" apt-get install -y --no-install-recommends /tmp/veltexcel.deb' \
  --customize-hook='chroot "$1" sh /tmp/inside.sh' \
  bookworm /dev/null http://deb.debian.org/debian
echo "check-fresh-root: ok in $(( $(date +%s) - started )) s"
