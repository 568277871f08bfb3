#!/usr/bin/env bash
# Builds the quelvar and quelvar-status packages with CPack, checks what each holds and what it
# depends on, then unpacks both into a staging root and runs the installed programs' --help.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }

client=$(ls "$work"/out/quelvar_1.0.0.0_*.deb 2>/dev/null | head -n1)
service=$(ls "$work"/out/quelvar-status_1.0.0.0_*.deb 2>/dev/null | head -n1)
[ -n "$client" ] || fail "no quelvar package in: $(ls "$work/out")"
[ -n "$service" ] || fail "no quelvar-status package in: $(ls "$work/out")"

expect_file() {
  dpkg-deb -c "$1" | awk '{print $6}' | grep -qx "./$2" || fail "$(basename "$1") lacks /$2"
}
expect_no_file() {
  if dpkg-deb -c "$1" | awk '{print $6}' | grep -qx "./$2"; then fail "$(basename "$1") holds /$2"; fi
}
expect_file "$client" usr/bin/quelvar
expect_file "$client" usr/bin/quelvar-check
expect_file "$client" usr/share/applications/quelvar.desktop
expect_file "$client" usr/share/icons/hicolor/scalable/apps/quelvar.svg
expect_file "$client" usr/share/man/man1/quelvar.1
expect_file "$client" usr/share/man/man1/quelvar-check.1
expect_file "$client" etc/quelvar/quelvar.ini.example
dpkg-deb -I "$client" conffiles | grep -qx /etc/quelvar/quelvar.ini.example ||
  fail "quelvar does not mark /etc/quelvar/quelvar.ini.example as a conffile"
expect_no_file "$client" usr/bin/quelvar-status
expect_file "$service" usr/bin/quelvar-status
expect_file "$service" usr/share/man/man1/quelvar-status.1
expect_file "$service" usr/lib/systemd/system/quelvar-status.service
expect_file "$service" usr/share/quelvar-status/certbot-deploy-hook
expect_no_file "$service" usr/bin/quelvar

depends() { dpkg-deb -f "$1" Depends; }
for lib in libqt6widgets6 libcurl4 libssl3 qt6-qpa-plugins; do
  depends "$client" | grep -q "$lib" || fail "quelvar does not depend on $lib: $(depends "$client")"
done
for lib in libcurl4 libssl3 libidn2-0 ssl-cert; do
  depends "$service" | grep -q "$lib" || fail "quelvar-status does not depend on $lib: $(depends "$service")"
done
# The HTTP front is header-only Boost over OpenSSL: no HTTP server library, no second TLS library.
if depends "$service" | grep -qE "libmicrohttpd|libgnutls"; then
  fail "quelvar-status depends on a library it no longer uses: $(depends "$service")"
fi
if depends "$service" | grep -q libqt6; then fail "quelvar-status depends on Qt: $(depends "$service")"; fi

stage="$work/root"
dpkg-deb -x "$client" "$stage"
dpkg-deb -x "$service" "$stage"
# The unit starts the program where the package puts it (systemd-analyze verify of a unit
# installed by cmake --install runs in the status tests; here the program is not at /usr/bin).
unit="$stage/usr/lib/systemd/system/quelvar-status.service"
grep -q '^ExecStart=/usr/bin/quelvar-status ' "$unit" || fail "unit does not start /usr/bin/quelvar-status: $(grep ExecStart= "$unit")"
grep -qx 'ExecReload=/bin/kill -HUP $MAINPID' "$unit" || fail "unit has no ExecReload= sending SIGHUP"
hook="$stage/usr/share/quelvar-status/certbot-deploy-hook"
[ -x "$hook" ] || fail "the certbot deploy hook is not executable"
sh -n "$hook" || fail "the certbot deploy hook is not valid sh"
if grep -q '@[A-Z_]*@' "$unit"; then fail "unit holds an unreplaced @VARIABLE@: $(grep '@[A-Z_]*@' "$unit")"; fi
"$stage/usr/bin/quelvar-check" --help | grep -q "quelvar-check api|web|whats" || fail "quelvar-check --help"
"$stage/usr/bin/quelvar-status" --help | grep -q -- "--listen" || fail "quelvar-status --help"
man -l "$stage/usr/share/man/man1/quelvar.1" >/dev/null 2>&1 || true
for page in quelvar.1 quelvar-check.1; do
  grep -q "quelvar.ini" "$stage/usr/share/man/man1/$page" || fail "$page does not name quelvar.ini"
done
# roff writes the option's hyphens as \-.
grep -qF -- '\-\-json' "$stage/usr/share/man/man1/quelvar-check.1" || fail "quelvar-check.1 lacks --json"
XDG_CONFIG_HOME="$work/none" "$stage/usr/bin/quelvar-check" --help | grep -q "quelvar.ini" ||
  fail "quelvar-check --help does not name quelvar.ini"
echo "package_debian_test: 1 passed, 0 failed"
