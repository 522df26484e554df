#!/usr/bin/env bash
# Builds Qt (qtbase) and a static libjpeg for Windows x86-64 with Debian's
# mingw-w64, from Debian's own source packages of the versions installed on
# this machine, once, into a cache folder outside the checkout. Debian ships
# no Qt for mingw, and a build takes half an hour, so every clone on the
# machine shares the result. A run that finds the finished prefix does
# nothing. The prefix's path is the last line on stdout.
#
#   tools/build-qt-mingw.sh                 build unless cached
#   tools/build-qt-mingw.sh --print-prefix  print where it is (or would be)
#   tools/build-qt-mingw.sh --check         rerun the Wine check on the prefix
#
# VQT_QT_MINGW_CACHE overrides the cache root.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
toolchain=$here/../cmake/mingw-w64-posix.cmake
toolchain=$(realpath "$toolchain")
mode=build
case "${1:-}" in
  "") ;;
  --print-prefix) mode=print ;;
  --check) mode=check ;;
  *) echo "usage: $0 [--print-prefix | --check]" >&2; exit 2 ;;
esac

say() { echo "build-qt-mingw: $*" >&2; }
die() { say "error: $*"; exit 1; }

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# The versions to match are those of the host's Qt and libjpeg: moc, rcc and
# uic come from the host, and must be of the very Qt they generate code for.
deb_field() { dpkg-query -W -f="\${$2}" "$1" 2>/dev/null || true; }
# Self-check.
# Left out of the key, as the check is: with the arm64 libraries installed
# beside the host's (the arm64 build), dpkg-query names a package once for
# each architecture, so the versions are asked of the host's own. The
# versions, and so the recipe and its key, stay what they were.
deb_field() {
  dpkg-query -W -f="\${$2}" "$1:$(dpkg --print-architecture)" 2>/dev/null || true
} # end of check
qt_bin=qt6-base-dev
jpeg_bin=libjpeg62-turbo-dev
qt_src=$(deb_field $qt_bin source:Package)
qt_ver=$(deb_field $qt_bin source:Version)
jpeg_src=$(deb_field $jpeg_bin source:Package)
jpeg_ver=$(deb_field $jpeg_bin source:Version)
[ -n "$qt_ver" ] && [ -n "$jpeg_ver" ] ||
  die "$qt_bin and $jpeg_bin must be installed first (tools/setup.sh)"
upstream() { local v=${1#*:}; echo "${v%-*}"; }
qt_upstream=$(upstream "$qt_ver")
qt_short=${qt_upstream%%+*}

# A change to this script, to the toolchain or to either source version is a
# new recipe, and so a new prefix beside the old one. The self-check below is
# left out: changing the check is no reason to build Qt again.
key=$( { sed '/^# Self-check\.$/,/^} # end of check$/d' "${BASH_SOURCE[0]}"; cat "$toolchain"; echo "$qt_ver $jpeg_ver"; } |
  sha256sum | cut -c1-10)
root=${VQT_QT_MINGW_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vqt540}
prefix=$root/qt-mingw-$qt_short-$key
stamp=$prefix/.vqt540-complete
work=$root/work-$key
log=$root/qt-mingw-$qt_short-$key.log

if [ "$mode" = print ]; then
  echo "$prefix"
  exit 0
fi
say "cache: $root"
if [ "$mode" = build ] && [ -f "$stamp" ]; then
  say "cached: $prefix"
  echo "$prefix"
  exit 0
fi
[ "$mode" = check ] && [ ! -f "$stamp" ] && die "no finished prefix at $prefix"

mkdir -p "$root"
exec 9>"$root/.lock"
flock -n 9 || { say "another build holds $root/.lock; waiting"; flock 9; }
if [ "$mode" = build ] && [ -f "$stamp" ]; then
  say "cached: $prefix"
  echo "$prefix"
  exit 0
fi

# Everything a cross build of the two needs; tools/setup.sh installs the same.
ensure_packages() {
  local p missing=()
  for p in cmake ninja-build perl dpkg-dev g++-mingw-w64-x86-64 \
    qt6-base-dev qt6-base-dev-tools wine wine64 imagemagick; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -c "install ok installed" >/dev/null ||
      missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  say "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" || {
    $sudo apt-get update -q
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
  }
}

# apt-get source needs deb-src entries, which a machine set up from an image
# often lacks. They are added as a file of their own, mirroring the deb
# entries of this release, so the machine's own lists stay untouched.
src_list=/etc/apt/sources.list.d/vqt540-src.sources
# grep -c, not -q, in pipes: -q stops reading, and under pipefail the
# writer's SIGPIPE would count as a failure.
has_sources() { apt-cache showsrc --only-source "$qt_src" 2>/dev/null | grep -c "^Version: $qt_ver\$" >/dev/null; }
deb_src_entries() {
  local codename f
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && [ "$f" != "$src_list" ] || continue
    awk -v cn="$codename" '
      BEGIN { RS = ""; ORS = "\n" }
      {
        types = ""; suites = ""; enabled = 1; body = ""
        n = split($0, line, "\n")
        for (i = 1; i <= n; i++) {
          l = line[i]
          if (l ~ /^[ \t]*#/) continue
          if (l ~ /^Types:/) { types = " " substr(l, 7) " "; continue }
          if (l ~ /^Suites:/) suites = substr(l, 8)
          if (l ~ /^Enabled:[ \t]*no/) enabled = 0
          body = body l "\n"
        }
        if (!enabled || types !~ /[ \t]deb[ \t]/) next
        ours = 0
        m = split(suites, s, /[ \t]+/)
        for (i = 1; i <= m; i++)
          if (s[i] == cn || index(s[i], cn "-") == 1) ours = 1
        if (ours) print "Types: deb-src\n" body
      }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    # One-line form: deb [options] URI suite components...
    awk -v cn="$codename" '
      $1 != "deb" { next }
      {
        i = 2
        if ($i ~ /^\[/) while ($i !~ /\]$/) i++
        if ($i ~ /\]$/ && $2 ~ /^\[/) i++
        suite = $(i + 1)
        if (suite != cn && index(suite, cn "-") != 1) next
        uri = $i; comps = ""; key = ""
        for (j = i + 2; j <= NF; j++) comps = comps " " $j
        for (j = 2; j < i; j++) if (match($j, /signed-by=[^] ]+/))
          key = "Signed-By: " substr($j, RSTART + 10, RLENGTH - 10) "\n"
        print "Types: deb-src\nURIs: " uri "\nSuites: " suite "\nComponents:" comps "\n" key
      }' "$f"
  done
}
ensure_sources() {
  has_sources && return
  if [ ! -s "$src_list" ]; then
    local entries
    entries=$(deb_src_entries)
    [ -n "$entries" ] || die "no Debian deb entry to mirror as deb-src"
    say "adding $src_list"
    printf '%s\n' "$entries" | $sudo tee "$src_list" >/dev/null
  fi
  $sudo apt-get update -q >&2
  has_sources || die "apt has no source of $qt_src $qt_ver"
}

# Debian's source package, unpacked with Debian's patches applied.
fetch() { # package version -> directory on stdout
  local pkg=$1 ver=$2 dir
  dir=$work/src/$pkg-$(upstream "$ver")
  if [ ! -f "$dir/.vqt540-unpacked" ]; then
    rm -rf "$work/src"/"$pkg"[-_]*
    mkdir -p "$work/src"
    (cd "$work/src" && apt-get source -q --only-source "$pkg=$ver") >&2
    [ -d "$dir" ] || die "apt-get source $pkg=$ver made no $dir"
    touch "$dir/.vqt540-unpacked"
  fi
  echo "$dir"
}

# The prefix gets its own copy of the toolchain, so that the Qt in it does not
# point into whichever checkout happened to build it.
prefix_toolchain=$prefix/share/vqt540/mingw-w64-posix.cmake
# Qt and the check link against the DLL C++ runtime that Qt's DLLs use; the
# toolchain's -static would put a second runtime into the exe.
shared_runtime=(-DCMAKE_EXE_LINKER_FLAGS= -DCMAKE_SHARED_LINKER_FLAGS=)
build_cmd=(nice -n 10 cmake --build)

build_jpeg() {
  local src=$1 b=$work/build-jpeg
  say "libjpeg-turbo $jpeg_ver -> $prefix"
  cmake -G Ninja -S "$src" -B "$b" \
    -DCMAKE_TOOLCHAIN_FILE="$prefix_toolchain" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
    -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF \
    -DWITH_SIMD=OFF
  # SIMD off: it needs nasm, and the window decodes only a few small JPEGs.
  "${build_cmd[@]}" "$b" --parallel 2
  cmake --install "$b"
  # The command-line tools and their manuals are of no use in the prefix.
  rm -f "$prefix"/bin/{cjpeg,djpeg,jpegtran,rdjpgcom,wrjpgcom}.exe
  rm -rf "$prefix/share/man" "$prefix/share/doc"
}

build_qt() {
  local src=$1 b=$work/build-qtbase
  say "qtbase $qt_ver -> $prefix (about 30-45 minutes)"
  # Only what the window needs. The bundled third-party libraries keep the
  # Qt DLLs free of further DLLs. DirectWrite 3 is off: with it the windows
  # platform plugin fails to link (QWindowsDirectWriteFontDatabase missing).
  # Tablet events are off because Debian's source leaves out the non-free
  # wintab.h that the windows plugin needs for them; direct2d is a second
  # platform plugin the window does not use.
  cmake -G Ninja -S "$src" -B "$b" \
    -DCMAKE_TOOLCHAIN_FILE="$prefix_toolchain" \
    "${shared_runtime[@]}" \
    -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
    -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS=ON \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_testlib=ON \
    -DFEATURE_style_windows=ON -DFEATURE_style_windowsvista=ON \
    -DFEATURE_png=ON -DFEATURE_jpeg=ON \
    -DFEATURE_freetype=ON -DFEATURE_harfbuzz=ON \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF \
    -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF \
    -DFEATURE_system_doubleconversion=OFF \
    -DFEATURE_directwrite3=OFF -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=OFF \
    -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF \
    -DFEATURE_network=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_icu=OFF -DFEATURE_zstd=OFF -DFEATURE_glib=OFF
  "${build_cmd[@]}" "$b" --parallel 2
  cmake --install "$b"
}

# Self-check.
# Copies a PE file's DLLs that are not Windows' own beside it, and theirs in
# turn; a DLL that is found nowhere is an error, so a missing one shows here
# rather than as a silent exit under Wine.
deploy_dlls() { # dir file...
  local dir=$1 f d found p; shift
  local search=("$prefix/bin" /usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib)
  local queue=("$@")
  while [ ${#queue[@]} -gt 0 ]; do
    f=${queue[0]}; queue=("${queue[@]:1}")
    for d in $(x86_64-w64-mingw32-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p'); do
      [ -f "$dir/$d" ] && continue
      # API sets are names that the Windows loader maps to its own DLLs.
      case "${d,,}" in api-ms-win-* | ext-ms-win-*) continue ;; esac
      found=""
      for p in "${search[@]}"; do
        [ -f "$p/$d" ] && { found=$p/$d; break; }
      done
      if [ -n "$found" ]; then
        cp "$found" "$dir/"
        queue+=("$dir/$d")
      elif [ -z "$(find "$wineprefix/drive_c/windows/system32" -maxdepth 1 -iname "$d" 2>/dev/null)" ]; then
        die "$f needs $d, found neither here nor in Windows"
      fi
    done
  done
}

# A tiny Widgets + QtTest program (tools/qt-mingw-check), cross-built
# against the prefix the way the project builds against it, and run under
# Wine.
check() {
  local c=$work/check
  wineprefix=$c/wine
  rm -rf "$c"; mkdir -p "$c"
  say "check: building $c"
  cmake -G Ninja -S "$here/qt-mingw-check" -B "$c/build" \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH=/usr \
    "${shared_runtime[@]}" \
    -DCMAKE_BUILD_TYPE=Release
  cmake --build "$c/build"

  local run=$c/run exe=$c/run/qtcheck.exe
  mkdir -p "$run"
  cp "$c/build/qtcheck.exe" "$run/"
  cp -r "$prefix/plugins/platforms" "$prefix/plugins/styles" "$prefix/plugins/imageformats" "$run/"
  convert -size 1x1 xc:'#ff0000' "$run/red.jpg"

  export WINEPREFIX=$wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= WINEARCH=win64
  unset DISPLAY
  say "check: creating a Wine prefix (slow the first time)"
  timeout 600 wineboot -i >/dev/null 2>&1 || true
  deploy_dlls "$run" "$exe" "$run"/platforms/*.dll "$run"/styles/*.dll "$run"/imageformats/*.dll
  # One C++ runtime in the process: the exe must use the DLL that Qt uses.
  x86_64-w64-mingw32-objdump -p "$exe" | grep -c 'DLL Name: libstdc++-6.dll' >/dev/null ||
    die "qtcheck.exe has the C++ runtime linked in; Qt's DLLs use libstdc++-6.dll"
  say "check: beside the exe: $(cd "$run" && ls | tr '\n' ' ')"

  # Wine does not hand QT_QPA_PLATFORM on to the program, so the platform is
  # an argument. QtTest writes nothing to a stdout that is not a console
  # under Wine, so its results go to a file.
  local out=$c/out.txt results=$run/results.txt rc=0
  (cd "$run" && timeout 600 wine ./qtcheck.exe -platform offscreen -o results.txt,txt) >"$out" 2>&1 || rc=$?
  cat "$out" "$results" >&2 || true
  [ $rc -eq 0 ] || die "check program failed under Wine (exit $rc)"
  grep -q '^text: Zapis archiwum do pliku zakończony\.' "$out" || die "no Polish text in the check output"
  grep -q '^widget: QLabel 320x40 shown on offscreen' "$out" || die "no widget in the check output"
  grep -q '^libjpeg 62: 1x1 rgb' "$out" || die "no libjpeg decode in the check output"
  grep -q '^Totals: 7 passed, 0 failed, 0 skipped' "$results" || die "not all checks passed"
  say "check: passed"
} # end of check

ensure_packages
if [ "$mode" = check ]; then
  mkdir -p "$work"
  cd "$work"
  check
  echo "$prefix"
  exit 0
fi

say "log: $log"
started=$(date +%s)
# Everything from here goes to the log; on a failure its end is shown.
exec 3>&1 4>&2 >>"$log" 2>&1
trap 'rc=$?; [ $rc -eq 0 ] || { tail -n 40 "$log" >&4; echo "build-qt-mingw: failed; the whole log is $log" >&4; }' EXIT
# Work from the scratch folder: a relative path that slips into a build
# (CMake makes relative PATH cache values absolute against the current
# folder) must never land in the checkout.
mkdir -p "$work"
cd "$work"
ensure_sources
qt_dir=$(fetch "$qt_src" "$qt_ver")
jpeg_dir=$(fetch "$jpeg_src" "$jpeg_ver")
# What is there without the stamp is a build that did not finish.
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix_toolchain")"
cp "$toolchain" "$prefix_toolchain"
build_jpeg "$jpeg_dir"
build_qt "$qt_dir"
check
date -u +%FT%TZ >"$stamp"
# The build trees (several GB) only served this prefix; the log stays.
cd "$root"
rm -rf "$work"
exec >&3 2>&4
say "built in $(( ($(date +%s) - started) / 60 )) min: $prefix ($(du -sh "$prefix" | cut -f1))"
echo "$prefix"
