#!/usr/bin/env bash
# Checks the Debian package that `cpack` made in a build folder:
#   bash tools/check-package.sh build/ci
# its control fields, its exact file list with owners and modes, the desktop
# entry (desktop-file-validate), the icons (sizes, drawn from the SVG), the
# three manual pages (render without warnings, document every option of the
# tool's commands and of the simulator), the copyright file and changelog,
# the publishing service's unit and example site, lintian (no error, no
# warning), and its dependencies (those dpkg-shlibdeps computes from the
# binaries, every library they link among them, and qt6-qpa-plugins as the
# only one added by hand). Where it runs as root (and VQT_PACKAGE_INSTALL is
# not 0), it installs the package with apt-get, runs the installed programs
# (the versions, `vqt540 read` against the installed simulator, the window
# from its desktop entry's command on a virtual display), has systemd check
# the installed unit, removes the package and purges it. Any failure is named
# and makes the exit code 1.
set -euo pipefail

build=${1:?usage: check-package.sh BUILD_DIR}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "check-package: no project version in $build/CMakeCache.txt" >&2; exit 1; }
arch=$(dpkg --print-architecture)
deb=$(realpath "$build/vqt540_${version}_${arch}.deb" 2>/dev/null || true)

failures=0
fail() {
  echo "check-package: FAILED: $*" >&2
  failures=$((failures + 1))
}
# A group of checks passed when it added no failure.
group_start=0
begin() { group_start=$failures; }
ok() {
  if [ "$failures" -eq "$group_start" ]; then echo "check-package: ok: $*"; fi
  group_start=$failures
}
die() {
  echo "check-package: FAILED: $*" >&2
  exit 1
}

[ -n "$deb" ] && [ -f "$deb" ] || die "no package $build/vqt540_${version}_${arch}.deb (run cpack first)"
echo "check-package: $deb"

work=$(mktemp -d)
installed_here=0
sim_pid=""
cleanup() {
  [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
  if [ "$installed_here" = 1 ]; then
    echo "check-package: removing the package again" >&2
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q vqt540 >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# --- Control fields -----------------------------------------------------------
begin
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vqt540 ] || fail "Package is '$(field Package)', not vqt540"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', not $arch"
[ -n "$(field Section)" ] || fail "no Section"
[[ "$(field Maintainer)" == *@* ]] || fail "Maintainer '$(field Maintainer)' has no address"
grep -q 'adduser $USER dialout' <<<"$(field Description)" || fail "the description does not say how to join dialout"
ok "control fields (vqt540 $version $arch, section $(field Section))"

# --- File list ----------------------------------------------------------------
begin
# Everything the package holds, with owner and mode; a file more or less fails.
expected_files="-rwxr-xr-x root/root ./usr/bin/vqt540
-rwxr-xr-x root/root ./usr/bin/vqt540-monitor
-rwxr-xr-x root/root ./usr/bin/vqt540-sim
-rw-r--r-- root/root ./usr/lib/systemd/system/vqt540-publish@.service
-rw-r--r-- root/root ./usr/share/applications/vqt540-monitor.desktop
-rw-r--r-- root/root ./usr/share/doc/vqt540/README.Debian
-rw-r--r-- root/root ./usr/share/doc/vqt540/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/vqt540/copyright
-rw-r--r-- root/root ./usr/share/doc/vqt540/examples/site.conf"
icon_sizes="16 32 48 64 128 256"
for size in $icon_sizes; do
  expected_files+="
-rw-r--r-- root/root ./usr/share/icons/hicolor/${size}x${size}/apps/vqt540-monitor.png"
done
expected_files+="
-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/vqt540-monitor.svg
-rw-r--r-- root/root ./usr/share/man/man1/vqt540.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/vqt540-monitor.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/vqt540-sim.1.gz"
actual_files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort)
expected_files=$(sort <<<"$expected_files")
if [ "$actual_files" = "$expected_files" ]; then
  ok "file list ($(wc -l <<<"$actual_files") files, owners and modes)"
else
  fail "file list differs (- expected, + in the package):"
  diff <(echo "$expected_files") <(echo "$actual_files") | grep '^[<>]' | sed 's/^</  -/; s/^>/  +/' >&2 || true
fi
if dpkg-deb -c "$deb" | awk '$1 ~ /^d/ && $1 != "drwxr-xr-x" { bad = 1 } END { exit !bad }'; then
  fail "a folder that is not drwxr-xr-x"
fi

root=$work/root
dpkg-deb -x "$deb" "$root"

# --- Programs -----------------------------------------------------------------
begin
for program in vqt540 vqt540-monitor vqt540-sim; do
  description=$(file -b "$root/usr/bin/$program")
  case $description in
  ELF\ 64-bit*", stripped") ;;
  *) fail "usr/bin/$program is not a stripped 64-bit ELF program: $description" ;;
  esac
done
ok "the three programs are stripped ELF executables"

# --- Desktop entry and icons --------------------------------------------------
begin
desktop=$root/usr/share/applications/vqt540-monitor.desktop
if [ -f "$desktop" ]; then
  # Hints count too: the entry is to be clean, not merely valid.
  validation=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$validation" ] ||
    fail "desktop-file-validate: ${validation:-exit code not 0}"
  entry() { sed -n "s/^$1=//p" "$desktop"; }
  [ "$(entry Exec)" = vqt540-monitor ] || fail "desktop entry Exec is '$(entry Exec)'"
  [ "$(entry Icon)" = vqt540-monitor ] || fail "desktop entry Icon is '$(entry Icon)'"
  for key in Name 'Name\[pl\]' Comment 'Comment\[pl\]' Categories; do
    [ -n "$(entry "$key")" ] || fail "desktop entry has no ${key//\\/}"
  done
  [ -x "$root/usr/bin/$(entry Exec)" ] || fail "the desktop entry's command $(entry Exec) is not in usr/bin"
  ok "desktop entry: $(entry Name) / $(entry 'Name\[pl\]'), Exec=$(entry Exec), Icon=$(entry Icon)"
fi
svg=$root/usr/share/icons/hicolor/scalable/apps/vqt540-monitor.svg
for size in $icon_sizes; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/vqt540-monitor.png
  [ -f "$png" ] || continue
  [[ "$(file -b "$png")" == "PNG image data, $size x $size, "* ]] || fail "icon $size: $(file -b "$png")"
  # The PNGs are the SVG's renderings (packaging/icons/make_icons.sh), not a
  # stale picture left from before the SVG changed.
  rsvg-convert -w "$size" -h "$size" "$svg" -o "$work/render-$size.png"
  # A few pixels of another librsvg's smoothing may differ, not a picture.
  differing=$(compare -metric AE -fuzz 2% "$png" "$work/render-$size.png" null: 2>&1 || true)
  [[ "$differing" =~ ^[0-9]+$ ]] && [ "$differing" -le $((size * size / 100)) ] ||
    fail "icon $size is not the SVG's rendering ($differing pixels differ): run packaging/icons/make_icons.sh"
done
ok "icons: SVG and PNG $icon_sizes, each PNG the SVG's rendering"

# --- Manual pages -------------------------------------------------------------
begin
# Renders a page as lintian does (every warning of groff is a fault of the
# page) and leaves its source, with plain dashes, in page_text (empty when it
# is no page). Not in a subshell, so that its failures count.
load_page() {
  local page=$root/usr/share/man/man1/$1.1.gz warnings
  page_text=""
  if ! gzip -t "$page" 2>/dev/null; then
    fail "the manual page of $1 is not a gzip file"
    return
  fi
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) ||
    fail "man cannot render the page of $1"
  [ -z "$warnings" ] || fail "the manual page of $1 renders with warnings: $warnings"
  page_text=$(zcat "$page" | sed 's/\\-/-/g')
}
# The options a page describes for a command (an item of the command's
# section under COMMANDS, or of a section whose name ends in OPTIONS), not
# merely mentions in an example.
described() {
  awk -v command="$1" '
    /^\.SH / { section = substr($0, 5); subsection = "" }
    /^\.SS / { subsection = substr($0, 5) }
    heading { if (section ~ /OPTIONS$/ || (section == "COMMANDS" && subsection == command)) print; heading = 0; next }
    /^\.TP/ { heading = 1 }' <<<"$2" | grep -o -- '--[a-z][a-z-]*' | sort -u
}
# The long options a --help lists, one a line.
help_options() { sed -nE 's/^ +(-[a-zA-Z],)?(--[a-z][a-z-]*).*/\2/p'; }

load_page vqt540
source=$page_text
grep -q "^\.TH VQT540 1 .*\"vqt540 $version\"" <<<"$source" || fail "the manual page's .TH does not say vqt540 $version"
# Every command the tool's --help lists (publish among them once the tool
# has it) has its section, and every option of its --help is described.
tool=$root/usr/bin/vqt540
commands=$("$tool" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }')
[ -n "$commands" ] || fail "vqt540 --help lists no commands"
documented=0
for command in "" $commands; do
  [ -z "$command" ] || grep -qx "\.SS $command" <<<"$source" || fail "the manual page has no section for '$command'"
  items=$(described "$command" "$source")
  for option in $("$tool" $command --help | help_options); do
    grep -qx -- "$option" <<<"$items" || fail "the manual page does not describe vqt540 ${command:+$command }$option"
    documented=$((documented + 1))
  done
done
# The simulator's page describes every option of its --help.
load_page vqt540-sim
sim_source=$page_text
grep -q "^\.TH VQT540-SIM 1 .*\"vqt540 $version\"" <<<"$sim_source" ||
  fail "the simulator's manual page's .TH does not say vqt540 $version"
sim_options=$("$root/usr/bin/vqt540-sim" --help | help_options)
[ -n "$sim_options" ] || fail "vqt540-sim --help lists no options"
sim_items=$(described "" "$sim_source")
for option in $sim_options; do
  grep -qx -- "$option" <<<"$sim_items" || fail "the simulator's manual page does not describe $option"
done
# The window has no --help; --version is its one option.
load_page vqt540-monitor
monitor_source=$page_text
grep -q "^\.TH VQT540-MONITOR 1 .*\"vqt540 $version\"" <<<"$monitor_source" ||
  fail "the window's manual page's .TH does not say vqt540 $version"
grep -qx -- --version <<<"$(described "" "$monitor_source")" || fail "the window's manual page does not describe --version"
ok "manual pages of vqt540, vqt540-sim and vqt540-monitor: render without warnings; commands $(echo $commands) with their $documented options; the simulator's $(wc -w <<<"$sim_options") options"
# --- Maintainer scripts -------------------------------------------------------
begin
# Those of the service (upgrade, removal, purge) and nothing else, executable.
expected_control="-rw-r--r-- root/root ./control
-rw-r--r-- root/root ./md5sums
-rwxr-xr-x root/root ./postinst
-rwxr-xr-x root/root ./postrm
-rwxr-xr-x root/root ./prerm"
actual_control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -tvf - | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort)
[ "$actual_control" = "$expected_control" ] ||
  fail "control files differ (- expected, + in the package): $(diff <(echo "$expected_control") <(echo "$actual_control") | grep '^[<>]' | tr '\n' ' ')"
ok "control files: control, md5sums and the executable postinst, prerm, postrm"

# --- Copyright and changelog --------------------------------------------------
begin
doc=$root/usr/share/doc/vqt540
grep -q 'adduser $USER dialout' "$doc/README.Debian" || fail "README.Debian does not say how to join dialout"
copyright=$doc/copyright
if [ -f "$copyright" ]; then
  [ "$(head -1 "$copyright")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
    fail "the copyright file does not begin with the machine-readable format's Format line"
  grep -qx 'Upstream-Name: vqt540' "$copyright" || fail "the copyright file has no Upstream-Name: vqt540"
  grep -qx 'Files: \*' "$copyright" || fail "the copyright file has no paragraph Files: *"
  # Each licence named has exactly one paragraph with its text (a License
  # line followed by its indented lines).
  for name in $(sed -n 's/^License: //p' "$copyright" | sort -u); do
    texts=$(awk -v name="$name" '$0 == "License: " name { getline; if ($0 ~ /^ /) n++ } END { print n + 0 }' "$copyright")
    [ "$texts" = 1 ] || fail "the copyright file has $texts texts of the licence $name, not 1"
  done
  # The project's licence is LICENSE's, word for word.
  license=$(dirname "$0")/../LICENSE
  expat=$(awk '/^License: Expat$/ { getline; if ($0 ~ /^ /) on = 1 } on && !/^ / { exit } on' "$copyright" |
    sed 's/^ //; s/^\.$//')
  [ "$(tr -s ' \n' '  ' <<<"$expat")" = "$(sed -n '/^Permission is hereby granted/,$p' "$license" | tr -s ' \n' '  ')" ] ||
    fail "the copyright file's Expat text is not LICENSE's"
  holder=$(sed -n 's/^Copyright (c) //p' "$license")
  grep -qx "Copyright: $holder" "$copyright" || fail "the copyright file does not say Copyright: $holder"
else
  fail "no usr/share/doc/vqt540/copyright"
fi
changelog=$doc/changelog.gz
if gzip -t "$changelog" 2>/dev/null; then
  # gzip -n: no name and no time stamp in the header.
  [ "$(od -An -tu1 -j3 -N1 "$changelog" | tr -d ' ')" = 0 ] && [ "$(od -An -tu4 -j4 -N4 "$changelog" | tr -d ' ')" = 0 ] ||
    fail "changelog.gz keeps a file name or time stamp (gzip -9 -n)"
  zcat "$changelog" >"$work/changelog"
  parsed=$(dpkg-parsechangelog -l "$work/changelog" 2>"$work/changelog.err") || fail "dpkg-parsechangelog: $(cat "$work/changelog.err")"
  [ ! -s "$work/changelog.err" ] || fail "dpkg-parsechangelog warns: $(cat "$work/changelog.err")"
  entry() { sed -n "s/^$1: //p" <<<"$parsed"; }
  [ "$(entry Source)" = vqt540 ] || fail "the changelog's entry is for '$(entry Source)', not vqt540"
  [ "$(entry Version)" = "$version" ] || fail "the changelog's entry is for version '$(entry Version)', not $version"
  [ "$(entry Maintainer)" = "$(field Maintainer)" ] || fail "the changelog's entry is by '$(entry Maintainer)', not the Maintainer"
  date -d "$(entry Date)" >/dev/null 2>&1 || fail "the changelog's date '$(entry Date)' is no date"
  [ "$(entry Date)" = "$(LC_ALL=C date -u -R -d "$(entry Date)")" ] || fail "the changelog's date '$(entry Date)' is not in RFC 2822 form (UTC)"
else
  fail "usr/share/doc/vqt540/changelog.gz is missing or not a gzip file"
fi
ok "copyright (machine-readable, LICENSE's Expat text) and changelog.gz (vqt540 $version by the Maintainer)"

# --- Service ------------------------------------------------------------------
begin
unit=$root/usr/lib/systemd/system/vqt540-publish@.service
site=$doc/examples/site.conf
if [ -f "$unit" ] && [ -f "$site" ]; then
  key() { sed -n "s/^$1=//p" "$unit"; }
  exec_start=$(key ExecStart)
  read -r program command <<<"$exec_start"
  [ -x "$root$program" ] || fail "ExecStart runs $program, which the package does not hold"
  [ "${command%% *}" = publish ] || fail "ExecStart runs no 'vqt540 publish': $exec_start"
  # The settings are the credential systemd reads from /etc/vqt540/%i.conf.
  credential=$(key LoadCredential)
  [ "${credential#*:}" = "/etc/vqt540/%i.conf" ] || fail "LoadCredential does not read /etc/vqt540/%i.conf: $credential"
  [[ " $exec_start " == *" --config \${CREDENTIALS_DIRECTORY}/${credential%%:*} "* ]] ||
    fail "ExecStart's --config is not the credential ${credential%%:*}: $exec_start"
  # The outbox is in the state directory systemd makes for the dynamic user.
  [[ " $exec_start " == *" --outbox /var/lib/$(key StateDirectory)/%i.db "* ]] ||
    fail "ExecStart's --outbox is not /var/lib/$(key StateDirectory)/%i.db: $exec_start"
  [ "$(key DynamicUser)" = yes ] || fail "the service has no DynamicUser=yes"
  [[ " $(key SupplementaryGroups) " == *" dialout "* ]] || fail "the service is not in the group dialout"
  [ "$(key Restart)" = on-failure ] && [ "$(key RestartSec)" = 5 ] || fail "the service does not restart 5 s after a failure"
  [ "$(key Documentation)" = "man:vqt540(1)" ] || fail "the unit's Documentation is '$(key Documentation)'"
  # The example's keys (those commented out too) and the manual page's list
  # of them are the same.
  site_keys=$(sed -nE 's/^#?([a-z][a-z-]*) = .*/\1/p' "$site" | sort)
  page_keys=$(awk '/^\.SH / { on = ($0 == ".SH SITE SETTINGS FILE") } on && heading { print; heading = 0; next } on && /^\.TP/ { heading = 1 }' <<<"$source" |
    sed -E 's/^\.[A-Z]+ //; s/"[^"]*"/ /g' | tr ' ' '\n' | grep -E '^[a-z][a-z-]*$' | sort)
  [ -n "$site_keys" ] && [ "$site_keys" = "$page_keys" ] ||
    fail "the example site's keys and those of the manual page's SITE SETTINGS FILE differ: $(diff <(echo "$site_keys") <(echo "$page_keys") | grep '^[<>]' | tr '\n' ' ')"
  if sed -E '/^#/d; /^$/d; /^[a-z][a-z-]* = [^ ].*$/d' "$site" | grep -q .; then
    fail "the example site has lines that are neither a comment nor 'key = value': $(sed -E '/^#/d; /^$/d; /^[a-z][a-z-]* = [^ ].*$/d' "$site" | head -3)"
  fi
  # Once the tool has publish: the example's keys are its options, and each
  # of its options is a key but those the unit gives and --help.
  if grep -qx publish <<<"$commands"; then
    publish_options=$("$tool" publish --help | help_options | sed 's/^--//' | sort -u)
    for k in $site_keys; do
      grep -qx -- "$k" <<<"$publish_options" || fail "the example site's key $k is no option of vqt540 publish"
    done
    for option in $publish_options; do
      case $option in help | config | outbox) continue ;; esac
      grep -qx -- "$option" <<<"$site_keys" || fail "vqt540 publish --$option is no key of the example site"
    done
    for option in --config --outbox; do
      grep -qx -- "${option#--}" <<<"$publish_options" || fail "ExecStart gives $option, which vqt540 publish does not have"
    done
  fi
  ok "service: ExecStart $program ${command%% *} with the credential and the outbox in /var/lib/$(key StateDirectory); example site with $(wc -l <<<"$site_keys") keys, each in the manual page"
else
  fail "no usr/lib/systemd/system/vqt540-publish@.service or no usr/share/doc/vqt540/examples/site.conf"
fi

# --- lintian ------------------------------------------------------------------
begin
# No error and no warning; the informational tags are not asked for.
if command -v lintian >/dev/null; then
  lintian_status=0
  lintian --fail-on error,warning "$deb" >"$work/lintian.out" 2>"$work/lintian.err" || lintian_status=$?
  if [ "$lintian_status" -ne 0 ] || grep -q . "$work/lintian.out"; then
    fail "lintian (exit code $lintian_status): $(cat "$work/lintian.out" "$work/lintian.err")"
  fi
  ok "lintian $(lintian --version | sed 's/^Lintian v//'): no errors, no warnings"
else
  fail "no lintian (tools/setup.sh installs it)"
fi

# --- Dependencies -------------------------------------------------------------
begin
# One entry per line, as "name (constraint)".
entries() { tr ',' '\n' | sed 's/^ *//; s/ *$//' | sed '/^$/d' | sort -u; }
depends=$(field Depends | entries)
# What dpkg-shlibdeps makes of the packaged binaries, computed here again.
mkdir -p "$work/shlibs/debian"
printf 'Source: vqt540\n\nPackage: vqt540\nArchitecture: any\n' >"$work/shlibs/debian/control"
computed=$(cd "$work/shlibs" && dpkg-shlibdeps -O "$root"/usr/bin/* 2>"$work/shlibdeps.err" | sed -n 's/^shlibs:Depends=//p' | entries) ||
  fail "dpkg-shlibdeps: $(cat "$work/shlibdeps.err")"
[ -n "$computed" ] || fail "dpkg-shlibdeps computed nothing"
by_hand="qt6-qpa-plugins"
if [ "$depends" = "$(printf '%s\n%s\n' "$computed" "$by_hand" | sort -u)" ]; then
  ok "Depends is dpkg-shlibdeps's list plus $by_hand"
else
  fail "Depends is not dpkg-shlibdeps's list plus $by_hand (- expected, + in the package):"
  diff <(printf '%s\n%s\n' "$computed" "$by_hand" | sort -u) <(echo "$depends") | grep '^[<>]' |
    sed 's/^</  -/; s/^>/  +/' >&2 || true
fi
names=$(sed 's/ .*//' <<<"$depends")
# Each library a program links comes from a package that Depends names.
for library in $(for p in "$root"/usr/bin/*; do readelf -d "$p" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'; done | sort -u); do
  owners=$(dpkg -S "*/$library" 2>/dev/null | grep -v '^diversion' | grep ":$arch: .*/$library\$" | sed 's/:.*//' | sort -u) || true
  [ -n "$owners" ] || { fail "no installed package holds $library"; continue; }
  grep -qxF -f <(echo "$owners") <<<"$names" || fail "$library (from $(echo $owners)) is not among the dependencies"
done
for name in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libjpeg62-turbo qt6-qpa-plugins; do
  grep -qx "$name" <<<"$names" || fail "Depends lacks $name"
done
# The window needs Qt's base modules alone, as a Windows Qt of qtbase has no others.
for name in libqt6charts6 libqt6opengl6 libqt6openglwidgets6; do
  if grep -qx "$name" <<<"$names"; then fail "Depends names $name"; fi
done
[ "$(field Recommends)" = qt6-translations-l10n ] || fail "Recommends is '$(field Recommends)', not qt6-translations-l10n"
echo "check-package: Depends: $(field Depends)"

# --- Installed ----------------------------------------------------------------
begin
if [ "$(id -u)" -ne 0 ] || [ "${VQT_PACKAGE_INSTALL:-1}" = 0 ]; then
  echo "check-package: not root (or VQT_PACKAGE_INSTALL=0): the package is not installed here"
elif dpkg-query -W -f='${Status}' vqt540 2>/dev/null | grep -q "install ok installed"; then
  fail "vqt540 is installed on this machine already; not replacing it (apt-get remove vqt540, or VQT_PACKAGE_INSTALL=0)"
else
  export DEBIAN_FRONTEND=noninteractive
  installed_here=1
  apt-get install -y -q "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; die "apt-get install $deb failed"; }
  ok "apt-get install ./$(basename "$deb")"

  [ "$(command -v vqt540)" = /usr/bin/vqt540 ] || fail "vqt540 on the PATH is '$(command -v vqt540)'"
  [ "$(/usr/bin/vqt540 --version)" = "vqt540 $version" ] || fail "vqt540 --version says '$(/usr/bin/vqt540 --version)'"
  [ "$(/usr/bin/vqt540-monitor --version)" = "vqt540-monitor $version" ] ||
    fail "vqt540-monitor --version says '$(/usr/bin/vqt540-monitor --version)'"
  for page in vqt540 vqt540-monitor vqt540-sim; do
    [ "$(man -w $page)" = /usr/share/man/man1/$page.1.gz ] || fail "man -w $page finds '$(man -w $page 2>&1)'"
  done
  ok "installed: vqt540 --version, vqt540-monitor --version, man vqt540, vqt540-monitor and vqt540-sim"

  # systemd's own check of the installed unit, as an instance: every key
  # known, the program there, the manual page of Documentation= found.
  verify=$(systemd-analyze verify /usr/lib/systemd/system/vqt540-publish@.service:vqt540-publish@check.service 2>&1) ||
    fail "systemd-analyze verify vqt540-publish@check.service: ${verify:-exit code not 0}"
  [ -z "$verify" ] || fail "systemd-analyze verify vqt540-publish@check.service: $verify"
  ok "systemd-analyze verify vqt540-publish@check.service"

  # The installed tool reads the installed simulator.
  line=$work/line
  mkdir -p "$line"
  /usr/bin/vqt540-sim --link-dir "$line" --no-wire-time --quiet >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do [ -e "$line/COM1" ] && break; sleep 0.1; done
  [ -e "$line/COM1" ] || { cat "$work/sim.log" >&2; die "the installed simulator made no COM1 link"; }
  status=0
  (cd "$line" && /usr/bin/vqt540 read) >"$work/read.out" 2>"$work/read.err" || status=$?
  if [ "$status" -ne 0 ]; then
    fail "vqt540 read against the simulator: exit code $status: $(cat "$work/read.err")"
  else
    for row in 'Wersja VQT +V[0-9.]+' 'Średnica DN +[0-9]+' 'Przepływ chwilowy +-?[0-9.]+ \[' 'Lista aktualnych stanów alarmowych:'; do
      grep -Eq "^$row" "$work/read.out" || fail "vqt540 read shows no row /$row/: $(cat "$work/read.out")"
    done
    ok "installed vqt540 read against the installed vqt540-sim: exit 0, $(wc -l <"$work/read.out") rows"
  fi
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""

  # The desktop entry's command opens the window (platform plugin and all)
  # on a virtual display; its title shows when it is mapped.
  exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/vqt540-monitor.desktop)
  mkdir -p "$work/home"
  if (cd "$work/home" && HOME="$work/home" timeout 60 xvfb-run -a sh -c '
      '"$exec_line"' >window.log 2>&1 & window=$!
      for _ in $(seq 100); do
        xwininfo -root -tree 2>/dev/null | grep -q "\"VQT540 - Monitor\"" && { kill $window; exit 0; }
        kill -0 $window 2>/dev/null || exit 1
        sleep 0.1
      done
      kill $window; exit 1'); then
    ok "the desktop entry's command '$exec_line' opens the window 'VQT540 - Monitor'"
  else
    fail "the installed window did not open: $(cat "$work/home/window.log" 2>/dev/null)"
  fi

  apt-get remove -y -q vqt540 >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get remove vqt540 failed"; }
  if dpkg-query -W -f='${Status}' vqt540 2>/dev/null | grep -q "install ok installed" || [ -e /usr/bin/vqt540 ] ||
    [ -e /usr/share/applications/vqt540-monitor.desktop ] || [ -e /usr/lib/systemd/system/vqt540-publish@.service ]; then
    fail "apt-get remove left the package or its files behind"
  else
    ok "apt-get remove vqt540: nothing left in /usr/bin, /usr/share/applications and /usr/lib/systemd/system"
  fi

  # Purge takes what the service left (an outbox in the dynamic user's state
  # directory, the link that enabled a site) and keeps the site's settings.
  # Tried only where none of these is here already, and what it made for the
  # test is removed again.
  wants=/etc/systemd/system/multi-user.target.wants
  if [ -e /var/lib/private/vqt540 ] || [ -e /var/lib/vqt540 ] || [ -e /etc/vqt540 ] || [ -e "$wants/vqt540-publish@check.service" ]; then
    echo "check-package: a service's files are on this machine already: purge not tried"
    dpkg --purge vqt540 >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "dpkg --purge vqt540 failed"; }
  else
    made_private=0 made_wants=0
    [ -d /var/lib/private ] || { mkdir -m 700 /var/lib/private; made_private=1; }
    [ -d "$wants" ] || { mkdir -p "$wants"; made_wants=1; }
    mkdir /var/lib/private/vqt540 /etc/vqt540
    : >/var/lib/private/vqt540/check.db
    ln -s private/vqt540 /var/lib/vqt540
    ln -s /usr/lib/systemd/system/vqt540-publish@.service "$wants/vqt540-publish@check.service"
    : >/etc/vqt540/check.conf
    dpkg --purge vqt540 >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "dpkg --purge vqt540 failed"; }
    [ ! -e /var/lib/private/vqt540 ] && [ ! -L /var/lib/vqt540 ] || fail "purge left the outbox in /var/lib/private/vqt540 or /var/lib/vqt540"
    [ ! -L "$wants/vqt540-publish@check.service" ] || fail "purge left the link $wants/vqt540-publish@check.service"
    [ -e /etc/vqt540/check.conf ] || fail "purge removed the site's settings /etc/vqt540/check.conf"
    rm -rf /var/lib/private/vqt540 /var/lib/vqt540 /etc/vqt540 "$wants/vqt540-publish@check.service"
    [ "$made_private" = 0 ] || rmdir /var/lib/private
    [ "$made_wants" = 0 ] || rmdir "$wants"
    ok "dpkg --purge vqt540: the outbox and the site's link gone, the site's settings kept"
  fi
  installed_here=0
  if dpkg-query -W vqt540 >/dev/null 2>&1; then fail "dpkg still knows vqt540 after the purge"; fi
fi

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures check(s) FAILED" >&2
  exit 1
fi
echo "check-package: all checks passed"
