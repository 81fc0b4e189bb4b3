# Shared by the scripts: set-up on a fresh Debian machine, the Wine prefix
# inside the build folder, and a display.
# shellcheck shell=bash

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build"

log() { printf '\033[1m== %s\033[0m\n' "$*" >&2; }

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs, with apt-get, what the named groups need and is missing, and any
# Debian package named as such. Each script asks only for its own groups:
#   native   CMake, g++, GoogleTest, CLI11, Boost and nlohmann-json, Python's headers
#   mingw    CMake and MinGW-w64 for the Windows builds
#   wine     Wine (wine32 with the i386 architecture), Xvfb, the fonts, the zh_CN.UTF-8 locale
#   clang    clang and its sanitizer and fuzzer runtimes, of whatever version clang is
#   data     python3-phonenumbers, which the default directory comes from
ensure_packages() {
    local missing=() want
    for want in "$@"; do
        case "$want" in
            native)
                command -v cmake >/dev/null || missing+=(cmake)
                command -v g++ >/dev/null || missing+=(g++)
                [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
                [ -f /usr/include/CLI/CLI.hpp ] || missing+=(libcli11-dev)
                # vnlt serve: Boost.Beast and Asio, and nlohmann-json, all header-only.
                [ -f /usr/include/boost/beast.hpp ] || missing+=(libboost-dev)
                [ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
                /usr/bin/python3 -c 'import sysconfig, os, sys; sys.exit(not os.path.exists(sysconfig.get_paths()["include"] + "/Python.h"))' 2>/dev/null ||
                    missing+=(python3-dev)
                ;;
            mingw)
                command -v cmake >/dev/null || missing+=(cmake)
                command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686)
                command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
                ;;
            wine)
                command -v wine >/dev/null || missing+=(wine wine64)
                dpkg -s wine32:i386 >/dev/null 2>&1 || missing+=(wine32:i386)
                command -v Xvfb >/dev/null || missing+=(xvfb xauth)
                command -v xdpyinfo >/dev/null || missing+=(x11-utils)
                fc-list 2>/dev/null | grep -qi wqy || missing+=(fonts-wqy-microhei)
                # Wine's own fonts: Marlett draws the caption buttons.
                dpkg -s fonts-wine >/dev/null 2>&1 || missing+=(fonts-wine)
                locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$' || missing+=(locales)
                ;;
            clang)
                command -v clang++ >/dev/null || missing+=(clang)
                ;;
            browser)
                # The service's web page, tested in headless Chromium through Selenium.
                command -v chromium >/dev/null || missing+=(chromium)
                command -v chromedriver >/dev/null || missing+=(chromium-driver)
                /usr/bin/python3 -c "import selenium, openpyxl" 2>/dev/null || missing+=(python3-selenium python3-openpyxl)
                fc-list 2>/dev/null | grep -qi wqy || missing+=(fonts-wqy-microhei)
                ;;
            data)
                /usr/bin/python3 -c "import phonenumbers" 2>/dev/null || missing+=(python3-phonenumbers)
                ;;
            *) dpkg -s "$want" >/dev/null 2>&1 || missing+=("$want") ;;
        esac
    done
    install_packages "${missing[@]}"
    # The runtimes are packaged by clang's version, which only clang tells.
    if [[ " $* " == *" clang "* ]] && ! clang_has_runtimes; then
        install_packages "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
    fi
    # Wine takes its ANSI code page (936) from this locale.
    if [[ " $* " == *" wine "* ]] && ! locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$'; then
        as_root sed -i 's/^# *zh_CN.UTF-8/zh_CN.UTF-8/' /etc/locale.gen
        as_root locale-gen >/dev/null
    fi
}

clang_has_runtimes() {
    [ -f "$(clang -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a" ] &&
        [ -f "$(clang -print-resource-dir)/lib/linux/libclang_rt.asan-x86_64.a" ]
}

install_packages() {
    [ $# -gt 0 ] || return 0
    log "installing: $*"
    if [[ " $* " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
    fi
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

# Whether this host runs 32-bit programs at all (some kernels are built or
# booted without IA-32 emulation; wine32 then cannot start).
host_runs_32bit() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

# The Wine loader for the prefix: the one that runs 32-bit programs too where
# the host allows it.
pick_wine() {
    if host_runs_32bit; then WINE=/usr/lib/wine/wine; else WINE=/usr/lib/wine/wine64; fi
    export WINE WINELOADER="$WINE"
}

# A Wine prefix of our own, created once, without crash dialogs or the
# Mono/Gecko installers. The pictures take prefixes of their own at a DPI,
# where Wine draws the title bars itself, as no window manager runs.
setup_wine() {  # [prefix [dpi]]
    pick_wine
    export WINEPREFIX="${1:-$BUILD/wineprefix}"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
    if [ ! -f "$WINEPREFIX/.varnolt-ready" ]; then
        log "creating the Wine prefix"
        rm -rf "$WINEPREFIX"
        mkdir -p "$BUILD"
        timeout 300 "$WINE" wineboot -i >/dev/null 2>&1 || true
        timeout 60 wineserver -w || true
        timeout 60 "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        if [ -n "${2:-}" ]; then
            "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
            "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$2" /f >/dev/null 2>&1
        fi
        timeout 60 wineserver -w || true
        touch "$WINEPREFIX/.varnolt-ready"
    fi
    install_wine_fonts
}

# Wine's own TrueType fonts into the prefix's Fonts folder, where Wine finds
# them whatever its data folder: Marlett draws the caption buttons.
install_wine_fonts() {
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    [ -d "$fonts" ] && [ -d /usr/share/wine/fonts ] && cp -n /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null
    return 0
}

XVFB_PID=""
# Gives Wine a display: the user's, or a private Xvfb.
ensure_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return; fi
    local n
    for n in $(seq 91 120); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        export DISPLAY=":$n"
        for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return; sleep 0.1; done
        kill "$XVFB_PID" 2>/dev/null || true
    done
    echo "no display could be started" >&2
    return 1
}

# A persistent wineserver for the whole run, warmed up by one small program:
# the first program of a fresh server starts Wine's services, and a test
# program that happens to be that first one can hang at exit.
start_wineserver() {
    wineserver -p >/dev/null 2>&1 || true
    timeout 120 "$WINE" cmd /c ver >/dev/null 2>&1 || true
}

stop_session() {
    if [ -n "${WINEPREFIX:-}" ]; then timeout 30 wineserver -k >/dev/null 2>&1 || true; fi
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}

# Every shell script of the project, NUL-separated: the scripts, the test
# scripts and CI's.
shell_scripts() {
    (cd "$ROOT" && git ls-files -z scripts tests .ci | xargs -0 grep -lZ -m1 -e '^#!/usr/bin/env bash' -e '^# shellcheck shell=bash' --)
}
