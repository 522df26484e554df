#!/usr/bin/env bash
# Checks the Debian packages that `cpack` made in a build folder:
#   bash tools/check-package.sh build/ci      # vqt540 and vqt540-monitor
#   bash tools/check-package.sh build/arm64   # vqt540 for arm64
# their control fields, their exact file lists with owners and modes, the
# desktop entry (desktop-file-validate), the icons (sizes, drawn from the
# SVG), the manual pages (render without warnings, document every option of
# the tool's commands and of the simulator), the copyright files and
# changelogs, the publishing service's unit and example site, lintian (no
# error, no warning), and their dependencies (those dpkg-shlibdeps computes
# from the binaries, every library they link among them, no Qt in vqt540,
# and qt6-qpa-plugins as the only one added by hand to vqt540-monitor).
# Programs of another architecture run under qemu-user. Where it runs as
# root on the packages' own architecture (and VQT_PACKAGE_INSTALL is not 0),
# it installs both over a single package of an older version that held the
# window too, runs the installed programs (the versions, `vqt540 read`
# against the installed simulator, the window from its desktop entry's
# command on a virtual display), has systemd check the installed unit,
# removes the packages and purges them. Any failure is named and makes the
# exit code 1.
set -euo pipefail

build=${1:?usage: check-package.sh BUILD_DIR}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "check-package: no project version in $build/CMakeCache.txt" >&2; exit 1; }
with_window=$(sed -n 's/^VQT_BUILD_GUI:BOOL=//p' "$build/CMakeCache.txt")
# The packages' architecture is the one their file names carry (the
# toolchain file sets the processor, which the cache does not keep).
arches=$(cd "$build" && ls vqt540_"${version}"_*.deb 2>/dev/null | sed "s/^vqt540_${version}_//; s/\.deb\$//")
[ "$(wc -w <<<"$arches")" = 1 ] ||
  { echo "check-package: not one vqt540_${version}_ARCH.deb in $build: '$(echo $arches)' (run cpack first)" >&2; exit 1; }
arch=$arches
host_arch=$(dpkg --print-architecture)
# How this machine runs the packages' programs.
run=()
[ "$arch" = "$host_arch" ] || run=(qemu-aarch64)

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

packages=(vqt540)
[ "$with_window" != ON ] || packages+=(vqt540-monitor)
declare -A debs roots
for package in "${packages[@]}"; do
  debs[$package]=$(realpath "$build/${package}_${version}_${arch}.deb" 2>/dev/null || true)
  [ -n "${debs[$package]}" ] && [ -f "${debs[$package]}" ] ||
    die "no package $build/${package}_${version}_${arch}.deb (run cpack first)"
  echo "check-package: ${debs[$package]}"
done
deb=${debs[vqt540]}

work=$(mktemp -d)
installed_here=0
sim_pid=""
cleanup() {
  [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
  if [ "$installed_here" = 1 ]; then
    echo "check-package: removing the packages again" >&2
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "${packages[@]}" >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# --- Control fields -----------------------------------------------------------
field() { dpkg-deb -f "${2:-$deb}" "$1"; }
for package in "${packages[@]}"; do
  begin
  d=${debs[$package]}
  [ "$(field Package "$d")" = "$package" ] || fail "Package is '$(field Package "$d")', not $package"
  [ "$(field Version "$d")" = "$version" ] || fail "$package: Version is '$(field Version "$d")', not $version"
  [ "$(field Architecture "$d")" = "$arch" ] || fail "$package: Architecture is '$(field Architecture "$d")', not $arch"
  [ -n "$(field Section "$d")" ] || fail "$package: no Section"
  [[ "$(field Maintainer "$d")" == *@* ]] || fail "$package: Maintainer '$(field Maintainer "$d")' has no address"
  grep -q 'adduser $USER dialout' <<<"$(field Description "$d")" || fail "$package: the description does not say how to join dialout"
  ok "control fields ($package $version $arch, section $(field Section "$d"))"
done
if [ "$with_window" = ON ]; then
  # The window's files were vqt540's up to 0.2: they pass to vqt540-monitor.
  m=${debs[vqt540-monitor]}
  [ "$(field Replaces "$m")" = "vqt540 (<< 0.3.0)" ] && [ "$(field Breaks "$m")" = "vqt540 (<< 0.3.0)" ] ||
    fail "vqt540-monitor does not replace and break vqt540 (<< 0.3.0): Replaces '$(field Replaces "$m")', Breaks '$(field Breaks "$m")'"
fi

# --- File list ----------------------------------------------------------------
# Everything each package holds, with owner and mode; a file more or less fails.
icon_sizes="16 32 48 64 128 256"
declare -A expected
expected[vqt540]="-rwxr-xr-x root/root ./usr/bin/vqt540
-rwxr-xr-x root/root ./usr/bin/vqt540-sim
-rw-r--r-- root/root ./usr/lib/systemd/system/vqt540-publish@.service
-rw-r--r-- root/root ./usr/share/doc/vqt540/README.Debian
-rw-r--r-- root/root ./usr/share/doc/vqt540/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/vqt540/copyright
-rw-r--r-- root/root ./usr/share/doc/vqt540/examples/site.conf
-rw-r--r-- root/root ./usr/share/man/man1/vqt540.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/vqt540-sim.1.gz"
expected[vqt540-monitor]="-rwxr-xr-x root/root ./usr/bin/vqt540-monitor
-rw-r--r-- root/root ./usr/share/applications/vqt540-monitor.desktop
-rw-r--r-- root/root ./usr/share/doc/vqt540-monitor/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/vqt540-monitor/copyright
-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/vqt540-monitor.svg
-rw-r--r-- root/root ./usr/share/man/man1/vqt540-monitor.1.gz"
for size in $icon_sizes; do
  expected[vqt540-monitor]+="
-rw-r--r-- root/root ./usr/share/icons/hicolor/${size}x${size}/apps/vqt540-monitor.png"
done
for package in "${packages[@]}"; do
  begin
  actual_files=$(dpkg-deb -c "${debs[$package]}" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort)
  expected_files=$(sort <<<"${expected[$package]}")
  if [ "$actual_files" = "$expected_files" ]; then
    ok "$package: file list ($(wc -l <<<"$actual_files") files, owners and modes)"
  else
    fail "$package: file list differs (- expected, + in the package):"
    diff <(echo "$expected_files") <(echo "$actual_files") | grep '^[<>]' | sed 's/^</  -/; s/^>/  +/' >&2 || true
  fi
  if dpkg-deb -c "${debs[$package]}" | awk '$1 ~ /^d/ && $1 != "drwxr-xr-x" { bad = 1 } END { exit !bad }'; then
    fail "$package: a folder that is not drwxr-xr-x"
  fi
  roots[$package]=$work/root-$package
  dpkg-deb -x "${debs[$package]}" "${roots[$package]}"
done
root=${roots[vqt540]}
monitor_root=${roots[vqt540-monitor]:-}

# --- Programs -----------------------------------------------------------------
begin
case $arch in
arm64) machine="ARM aarch64" ;;
*) machine="x86-64" ;;
esac
for program in "$root"/usr/bin/* ${monitor_root:+"$monitor_root"/usr/bin/*}; do
  description=$(file -b "$program")
  case $description in
  ELF\ 64-bit*", $machine,"*", stripped") ;;
  *) fail "usr/bin/$(basename "$program") is not a stripped 64-bit $machine ELF program: $description" ;;
  esac
done
ok "the programs are stripped $machine ELF executables"

# --- Desktop entry and icons --------------------------------------------------
if [ -n "$monitor_root" ]; then
begin
desktop=$monitor_root/usr/share/applications/vqt540-monitor.desktop
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
  [ -x "$monitor_root/usr/bin/$(entry Exec)" ] || fail "the desktop entry's command $(entry Exec) is not in usr/bin"
  ok "desktop entry: $(entry Name) / $(entry 'Name\[pl\]'), Exec=$(entry Exec), Icon=$(entry Icon)"
fi
svg=$monitor_root/usr/share/icons/hicolor/scalable/apps/vqt540-monitor.svg
for size in $icon_sizes; do
  png=$monitor_root/usr/share/icons/hicolor/${size}x${size}/apps/vqt540-monitor.png
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
fi

# --- Manual pages -------------------------------------------------------------
begin
# Renders a page as lintian does (every warning of groff is a fault of the
# page) and leaves its source, with plain dashes, in page_text (empty when it
# is no page). Not in a subshell, so that its failures count.
load_page() {
  local page=${2:-$root}/usr/share/man/man1/$1.1.gz warnings
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
commands=$("${run[@]}" "$tool" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }')
[ -n "$commands" ] || fail "vqt540 --help lists no commands"
documented=0
for command in "" $commands; do
  [ -z "$command" ] || grep -qx "\.SS $command" <<<"$source" || fail "the manual page has no section for '$command'"
  items=$(described "$command" "$source")
  for option in $("${run[@]}" "$tool" $command --help | help_options); do
    grep -qx -- "$option" <<<"$items" || fail "the manual page does not describe vqt540 ${command:+$command }$option"
    documented=$((documented + 1))
  done
done
# The simulator's page describes every option of its --help.
load_page vqt540-sim
sim_source=$page_text
grep -q "^\.TH VQT540-SIM 1 .*\"vqt540 $version\"" <<<"$sim_source" ||
  fail "the simulator's manual page's .TH does not say vqt540 $version"
sim_options=$("${run[@]}" "$root/usr/bin/vqt540-sim" --help | help_options)
[ -n "$sim_options" ] || fail "vqt540-sim --help lists no options"
sim_items=$(described "" "$sim_source")
for option in $sim_options; do
  grep -qx -- "$option" <<<"$sim_items" || fail "the simulator's manual page does not describe $option"
done
# The window has no --help; --version is its one option.
if [ -n "$monitor_root" ]; then
  load_page vqt540-monitor "$monitor_root"
  monitor_source=$page_text
  grep -q "^\.TH VQT540-MONITOR 1 .*\"vqt540 $version\"" <<<"$monitor_source" ||
    fail "the window's manual page's .TH does not say vqt540 $version"
  grep -qx -- --version <<<"$(described "" "$monitor_source")" || fail "the window's manual page does not describe --version"
fi
ok "manual pages: render without warnings; vqt540's commands $(echo $commands) with their $documented options; the simulator's $(wc -w <<<"$sim_options") options${monitor_root:+; the window: --version}"
# --- Maintainer scripts -------------------------------------------------------
begin
# Those of the service (upgrade, removal, purge) and nothing else, executable;
# the window has none.
control_files() { dpkg-deb --ctrl-tarfile "$1" | tar -tvf - | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort; }
expected_control="-rw-r--r-- root/root ./control
-rw-r--r-- root/root ./md5sums
-rwxr-xr-x root/root ./postinst
-rwxr-xr-x root/root ./postrm
-rwxr-xr-x root/root ./prerm"
actual_control=$(control_files "$deb")
[ "$actual_control" = "$expected_control" ] ||
  fail "control files differ (- expected, + in the package): $(diff <(echo "$expected_control") <(echo "$actual_control") | grep '^[<>]' | tr '\n' ' ')"
if [ -n "$monitor_root" ]; then
  actual_control=$(control_files "${debs[vqt540-monitor]}")
  [ "$actual_control" = "$(head -2 <<<"$expected_control")" ] || fail "vqt540-monitor's control files: $(echo $actual_control)"
fi
ok "control files: vqt540's control, md5sums and the executable postinst, prerm, postrm${monitor_root:+; vqt540-monitor: control and md5sums}"

# --- Copyright and changelog --------------------------------------------------
doc=$root/usr/share/doc/vqt540
grep -q 'adduser $USER dialout' "$doc/README.Debian" || fail "README.Debian does not say how to join dialout"
# Each package's own copyright file and changelog.
check_docs() {
local package=$1 doc=$2/usr/share/doc/$1
begin
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
  fail "no usr/share/doc/$package/copyright"
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
  [ "$(entry Maintainer)" = "$(field Maintainer "${debs[$package]}")" ] || fail "the changelog's entry is by '$(entry Maintainer)', not the Maintainer"
  date -d "$(entry Date)" >/dev/null 2>&1 || fail "the changelog's date '$(entry Date)' is no date"
  [ "$(entry Date)" = "$(LC_ALL=C date -u -R -d "$(entry Date)")" ] || fail "the changelog's date '$(entry Date)' is not in RFC 2822 form (UTC)"
else
  fail "usr/share/doc/$package/changelog.gz is missing or not a gzip file"
fi
ok "$package: copyright (machine-readable, LICENSE's Expat text) and changelog.gz (vqt540 $version by the Maintainer)"
}
for package in "${packages[@]}"; do check_docs "$package" "${roots[$package]}"; done

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
    publish_options=$("${run[@]}" "$tool" publish --help | help_options | sed 's/^--//' | sort -u)
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
  for package in "${packages[@]}"; do
    lintian_status=0
    lintian --fail-on error,warning "${debs[$package]}" >"$work/lintian.out" 2>"$work/lintian.err" || lintian_status=$?
    if [ "$lintian_status" -ne 0 ] || grep -q . "$work/lintian.out"; then
      fail "lintian $package (exit code $lintian_status): $(cat "$work/lintian.out" "$work/lintian.err")"
    fi
  done
  ok "lintian $(lintian --version | sed 's/^Lintian v//'): no errors, no warnings in ${packages[*]}"
else
  fail "no lintian (tools/setup.sh installs it)"
fi

# --- Dependencies -------------------------------------------------------------
# One entry per line, as "name (constraint)".
entries() { tr ',' '\n' | sed 's/^ *//; s/ *$//' | sed '/^$/d' | sort -u; }
# Depends is what dpkg-shlibdeps makes of the package's programs, computed
# here again, and what is named by hand; each library a program links comes
# from a package that Depends names. Leaves the names in `names`.
check_depends() {
  local package=$1 by_hand=$2 d=${debs[$1]} depends computed library owners
  begin
  depends=$(field Depends "$d" | entries)
  rm -rf "$work/shlibs" && mkdir -p "$work/shlibs/debian"
  printf 'Source: vqt540\n\nPackage: %s\nArchitecture: any\n' "$package" >"$work/shlibs/debian/control"
  computed=$(cd "$work/shlibs" && DEB_HOST_ARCH=$arch dpkg-shlibdeps -O "${roots[$package]}"/usr/bin/* 2>"$work/shlibdeps.err" |
    sed -n 's/^shlibs:Depends=//p' | entries) || fail "dpkg-shlibdeps: $(cat "$work/shlibdeps.err")"
  [ -n "$computed" ] || fail "$package: dpkg-shlibdeps computed nothing"
  if [ "$depends" = "$(printf '%s\n%s\n' "$computed" "$by_hand" | sed '/^$/d' | sort -u)" ]; then
    ok "$package: Depends is dpkg-shlibdeps's list${by_hand:+ plus $by_hand}"
  else
    fail "$package: Depends is not dpkg-shlibdeps's list${by_hand:+ plus $by_hand} (- expected, + in the package):"
    diff <(printf '%s\n%s\n' "$computed" "$by_hand" | sed '/^$/d' | sort -u) <(echo "$depends") | grep '^[<>]' |
      sed 's/^</  -/; s/^>/  +/' >&2 || true
  fi
  names=$(sed 's/ .*//' <<<"$depends")
  for library in $(for p in "${roots[$package]}"/usr/bin/*; do readelf -d "$p" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'; done | sort -u); do
    owners=$(dpkg -S "*/$library" 2>/dev/null | grep -v '^diversion' | grep ":$arch: .*/$library\$" | sed 's/:.*//' | sort -u) || true
    [ -n "$owners" ] || { fail "no installed package holds $library ($arch)"; continue; }
    grep -qxF -f <(echo "$owners") <<<"$names" || fail "$package: $library (from $(echo $owners)) is not among the dependencies"
  done
  echo "check-package: $package Depends: $(field Depends "$d")"
}
check_depends vqt540 ""
for name in libc6 libstdc++6 libmosquitto1 libsqlite3-0; do
  grep -qx "$name" <<<"$names" || fail "vqt540: Depends lacks $name"
done
# A site's box takes no graphics stack: nothing of Qt, nor anything that
# pulls it in.
if grep -Ei 'qt|libx11|libgl' <<<"$names"; then fail "vqt540 depends on Qt or a graphics library"; fi
ok "vqt540 needs no Qt"
if [ -n "$monitor_root" ]; then
  check_depends vqt540-monitor qt6-qpa-plugins
  for name in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libjpeg62-turbo qt6-qpa-plugins; do
    grep -qx "$name" <<<"$names" || fail "vqt540-monitor: Depends lacks $name"
  done
  # The window needs Qt's base modules alone, as a Windows Qt of qtbase has no others.
  for name in libqt6charts6 libqt6opengl6 libqt6openglwidgets6; do
    if grep -qx "$name" <<<"$names"; then fail "vqt540-monitor: Depends names $name"; fi
  done
  recommends=$(field Recommends "${debs[vqt540-monitor]}")
  [ "$recommends" = qt6-translations-l10n ] || fail "vqt540-monitor: Recommends is '$recommends', not qt6-translations-l10n"
  ok "vqt540-monitor: Qt's base modules and the platform plugins; Qt's translations recommended"
fi

# --- Installed ----------------------------------------------------------------
begin
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
if [ "$(id -u)" -ne 0 ] || [ "${VQT_PACKAGE_INSTALL:-1}" = 0 ]; then
  echo "check-package: not root (or VQT_PACKAGE_INSTALL=0): the packages are not installed here"
elif [ "$arch" != "$host_arch" ]; then
  echo "check-package: $arch packages on $host_arch: not installed here"
elif installed vqt540 || installed vqt540-monitor; then
  fail "vqt540 or vqt540-monitor is installed on this machine already; not replacing it (apt-get remove vqt540 vqt540-monitor, or VQT_PACKAGE_INSTALL=0)"
else
  export DEBIAN_FRONTEND=noninteractive
  installed_here=1
  # Up to 0.2 a single package vqt540 held the window too: the new packages
  # are installed over such a one (its file list, empty files), as a machine
  # that had it upgrades.
  old=$work/old
  for path in usr/bin/vqt540 usr/bin/vqt540-sim usr/bin/vqt540-monitor usr/share/applications/vqt540-monitor.desktop \
    usr/share/man/man1/vqt540-monitor.1.gz usr/share/icons/hicolor/scalable/apps/vqt540-monitor.svg; do
    mkdir -p "$old/$(dirname "$path")"
    : >"$old/$path"
  done
  mkdir -p "$old/DEBIAN"
  printf 'Package: vqt540\nVersion: 0.2.0\nArchitecture: %s\nMaintainer: %s\nDescription: the single package of 0.2\n' \
    "$arch" "$(field Maintainer)" >"$old/DEBIAN/control"
  dpkg-deb --root-owner-group -b "$old" "$work/vqt540_0.2.0.deb" >/dev/null && dpkg -i "$work/vqt540_0.2.0.deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; die "the stand-in for vqt540 0.2 cannot be installed"; }
  new_debs=()
  for package in "${packages[@]}"; do new_debs+=("${debs[$package]}"); done
  apt-get install -y -q "${new_debs[@]}" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; die "apt-get install ${new_debs[*]} over vqt540 0.2 failed"; }
  for package in "${packages[@]}"; do
    installed "$package" && [ "$(dpkg-query -W -f='${Version}' "$package")" = "$version" ] || fail "$package $version is not installed"
  done
  if [ -n "$monitor_root" ]; then
    [ "$(dpkg -S /usr/bin/vqt540-monitor | sed 's/:.*//')" = vqt540-monitor ] || fail "/usr/bin/vqt540-monitor is not vqt540-monitor's"
  fi
  ok "apt-get install ${packages[*]} $version over the single package vqt540 0.2"

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

  # The window goes alone; the tool stays whole.
  apt-get remove -y -q vqt540-monitor >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get remove vqt540-monitor failed"; }
  if installed vqt540-monitor || [ -e /usr/bin/vqt540-monitor ] || [ -e /usr/share/applications/vqt540-monitor.desktop ]; then
    fail "apt-get remove vqt540-monitor left the package or its files behind"
  fi
  [ "$(/usr/bin/vqt540 --version)" = "vqt540 $version" ] || fail "vqt540 does not run after the window's removal"
  apt-get remove -y -q vqt540 >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get remove vqt540 failed"; }
  if installed vqt540 || [ -e /usr/bin/vqt540 ] || [ -e /usr/lib/systemd/system/vqt540-publish@.service ]; then
    fail "apt-get remove left the package or its files behind"
  else
    ok "apt-get remove vqt540-monitor, then vqt540: nothing left in /usr/bin, /usr/share/applications and /usr/lib/systemd/system"
  fi
  dpkg --purge vqt540-monitor >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "dpkg --purge vqt540-monitor failed"; }

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
  for package in "${packages[@]}"; do
    if dpkg-query -W "$package" >/dev/null 2>&1; then fail "dpkg still knows $package after the purge"; fi
  done
fi

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures check(s) FAILED" >&2
  exit 1
fi
echo "check-package: all checks passed"
