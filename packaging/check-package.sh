#!/usr/bin/env bash
# Builds the Debian package, checks what it holds, and runs the programs from the unpacked
# package (not from the build folder): its own tool makes a workbook, its updater fills it
# from tmsim on the demo database, and its PDF report holds the values.
#   check-package.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d /tmp/veltexcel-package-test.XXXXXX)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

# cpack writes into its own folder so that parallel builds of the package do not meet.
(cd "$build" && cpack -G DEB -B "$scratch/cpack" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb=$(ls "$scratch"/cpack/veltexcel_*.deb)
echo "package: $(basename "$deb")"

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$scratch/list"
arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for want in \
  /usr/bin/veltexcel /usr/bin/veltexcel-update /usr/bin/tmsim /usr/bin/veltexcel-new-workbook \
  "/usr/lib/$arch/libtmconn.so.1" /usr/include/tmconn.h \
  /usr/share/veltexcel/demo.toml /usr/share/veltexcel/demo.xls \
  /usr/share/applications/veltexcel.desktop /usr/share/metainfo/veltexcel.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/veltexcel.svg \
  /usr/share/man/man1/veltexcel.1.gz /usr/share/man/man1/veltexcel-update.1.gz /usr/share/man/man1/tmsim.1.gz \
  /usr/share/man/man1/veltexcel-new-workbook.1.gz \
  /usr/share/doc/veltexcel/README.md /usr/share/doc/veltexcel/DATABASE.md \
  /usr/share/doc/veltexcel/PROTOCOL.md /usr/share/doc/veltexcel/copyright \
  /usr/lib/systemd/user/veltexcel-update@.service /usr/lib/systemd/user/veltexcel-update@.timer \
  /usr/lib/systemd/system/tmsim.service; do
  grep -qxF "$want" "$scratch/list" || fail "missing from the package: $want"
done
# Nothing of the build: no tests, benchmarks or build paths.
if grep -E '_test$|bench_|/build' "$scratch/list"; then fail "build files in the package"; fi

depends=$(dpkg-deb -f "$deb" Depends)
for want in libreoffice-calc ure libqt6widgets6 qt6-translations-l10n libqt6charts6; do
  case "$depends" in *"$want"*) ;; *) fail "Depends lacks $want: $depends" ;; esac
done

root=$scratch/root
dpkg-deb -x "$deb" "$root"
for program in veltexcel veltexcel-update tmsim veltexcel-new-workbook; do
  if readelf -d "$root/usr/bin/$program" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
    fail "$program looks for libraries in the build folder"
  fi
done

desktop-file-validate "$root/usr/share/applications/veltexcel.desktop"
if command -v systemd-analyze >/dev/null; then
  for unit in "$root"/usr/lib/systemd/user/*.service "$root"/usr/lib/systemd/system/*.service; do
    # Only the unit's own files are checked; the paths it runs are those of the installed package.
    out=$(systemd-analyze verify --man=no "$unit" 2>&1 | grep -v -E "is not executable|Failed to prepare filename|Command .* is not executable|/usr/bin/(tmsim|veltexcel-update)" || true)
    [ -z "$out" ] || fail "systemd-analyze verify $(basename "$unit"): $out"
  done
fi

# The unpacked programs, with the library from the package's own layout.
export LD_LIBRARY_PATH="$root/usr/lib/$arch"
"$root/usr/bin/tmsim" --db "$root/usr/share/veltexcel/demo.toml" --listen 127.0.0.1:0 >"$scratch/tmsim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^listening on ' "$scratch/tmsim.out" && break
  sleep 0.1
done
address=$(sed -n 's/^listening on //p' "$scratch/tmsim.out")
[ -n "$address" ] || { cat "$scratch/tmsim.out"; fail "tmsim from the package did not start"; }
# Without a display the program answers --version before anything graphical starts.
env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/veltexcel" --version | grep -qx "veltexcel .*" ||
  fail "veltexcel --version without a display"
demo_tool=$root/usr/bin/veltexcel-new-workbook
"$demo_tool" create --demo "$scratch/demo.xls" >/dev/null
if ldd "$root/usr/bin/veltexcel-update" | grep libtmconn | grep -qF "$build"; then
  fail "veltexcel-update found libtmconn in the build folder"
fi
summary=$("$root/usr/bin/veltexcel-update" --quiet --server "$address\\TMS" "$scratch/demo.xls" \
  --save-as "$scratch/day-%Y-%m-%d.pdf") ||
  fail "veltexcel-update from the package failed: $summary"
echo "$summary"
case "$summary" in *'spreadsheet: ok'*) ;; *) fail "unexpected summary: $summary" ;; esac
"$demo_tool" print "$scratch/demo.xls" | grep -q '#TC1:2:10 .* 9 ' || fail "the workbook was not filled"
pdftotext "$scratch/day-$(date +%Y-%m-%d).pdf" - | grep -q 1531070 || fail "the PDF report lacks the values"

if command -v lintian >/dev/null; then
  lintian --no-tag-display-limit "$deb" >"$scratch/lintian.log" 2>&1 || true
  grep -E '^E: ' "$scratch/lintian.log" && fail "lintian reports errors"
  echo "lintian: $(grep -c '^W: ' "$scratch/lintian.log" || true) warnings, no errors"
fi
echo "package ok"
