#!/usr/bin/env bash
# The release files, installed and run as users would: the zip extracted into
# a folder whose path has spaces and Chinese characters, the installer under
# Wine's msiexec (install, upgrade, uninstall), and the Debian package
# packages extracted into a scratch root, where the README's C example is
# built against the library, and the Python wheel and sdist installed into
# fresh virtual environments, where its Python example runs, as it does over
# python3-varnolt. Run by scripts/test inside its Wine session, or alone,
# when it starts one of its own.
# Usage: package_test.sh [WINDOWS_BUILD_FOLDER x86|x64 [RELEASE_FOLDER]]
# The Windows build is the shipped i686 one where the host runs it, else
# the x86_64 one, built if missing. RELEASE_FOLDER: the Debian and Python
# packages already built from these sources (./scripts/package --out);
# built here if not given.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$ROOT/scripts/common.sh"
source "$ROOT/scripts/packaging.sh"
if [ -z "${WINE:-}" ]; then
    ensure_packages native mingw wine "${PACKAGING_TOOLS[@]}"
    setup_wine
    ensure_display
    trap stop_session EXIT
    start_wineserver
fi
if [ $# -ge 2 ]; then
    build="$1" arch="$2"
else
    preset=win64 arch=x64
    if host_runs_32bit; then preset=win32 arch=x86; fi
    build="$BUILD/$preset"
    { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$(nproc)" \
        --target Varnolt vnlt varnolt e2e_driver c_api_test >/dev/null; } || exit 1
fi
debs="${3:-}"
work="$ROOT/build/package-test"
rm -rf "$work" && mkdir -p "$work"
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || date +%s)}"
passed=0 failed=0
check() {  # description, then the test command
    local what="$1"; shift
    if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $what" >&2; fi
}
install_check() { "$WINE" "$build/tests/e2e_driver.exe" --install-check "$1" >"$work/check.log" 2>&1 || { cat "$work/check.log" >&2; return 1; }; }
winepath_of() { printf 'Z:%s' "${1//\//\\}"; }
starts_with_bom_and_crlf() { [ "$(head -c3 "$1" | od -An -tx1 | tr -d ' ')" = efbbbf ] && head -1 "$1" | grep -q $'\r$'; }

# The zip.
stage_windows "$build" "$work/stage"
add_sdk_dll "$work/stage" "$arch" "$build"
make_zip "$work/stage" "$work/Varnolt.zip"
expected=""
for entry in / LICENSE.txt NOTICE.txt README.txt Varnolt.dat Varnolt.exe sdk/ sdk/README.txt sdk/varnolt.h \
    "sdk/$arch/" "sdk/$arch/varnolt.dll" "sdk/$arch/varnolt.dll.a" vnlt.exe; do
    expected+="Varnolt-$VERSION/${entry#/} "
done
check "the zip holds one top folder with the program's files and the library's sdk/" \
    [ "$(unzip -Z1 "$work/Varnolt.zip" | LC_ALL=C sort | tr '\n' ' ')" = "$expected" ]
place="$work/我的 工具 (测试)"
mkdir -p "$place" && unzip -q "$work/Varnolt.zip" -d "$place"
cp "$build/c_api_test.exe" "$place/Varnolt-$VERSION/sdk/$arch/"
check "a C program calls the zip's varnolt.dll" \
    "$WINE" "$place/Varnolt-$VERSION/sdk/$arch/c_api_test.exe" "$ROOT/data/Varnolt.dat" "$ROOT/tests/data"
for text in README.txt LICENSE.txt NOTICE.txt; do
    check "$text is UTF-8 with a byte-order mark and CR LF" starts_with_bom_and_crlf "$place/Varnolt-$VERSION/$text"
done
check "the extracted program answers, and saves beside itself" install_check "$place/Varnolt-$VERSION"

# The installer: per user, into LocalAppData\Programs\Varnolt.
make_msi "$work/stage" "$arch" "$work/Varnolt.msi"
users="$WINEPREFIX/drive_c/users"
installed() { find "$users" -path "*/AppData/Local/Programs/Varnolt/$1" 2>/dev/null | grep -q .; }
shortcut() { find "$users" -path '*/Start Menu/Programs/Varnolt.lnk' 2>/dev/null | grep -q .; }
# What an earlier run may have left in the prefix goes first.
"$WINE" msiexec /x "$(winepath_of "$work/Varnolt.msi")" /qn >/dev/null 2>&1
find "$users" -depth -path '*/AppData/Local/Programs/Varnolt*' -delete 2>/dev/null
"$WINE" msiexec /i "$(winepath_of "$work/Varnolt.msi")" /qn >/dev/null 2>&1
check "msiexec installs vnlt.exe beside the program" installed vnlt.exe
check "and a Start-menu shortcut" shortcut
check "the installed program answers and saves" install_check '%LOCALAPPDATA%\Programs\Varnolt'
dat="$(find "$users" -path '*/AppData/Local/Programs/Varnolt/Varnolt.dat' | head -1)"
cp "$dat" "$work/changed.dat"
# An upgrade (the next version) keeps the directory the user changed.
next="${VERSION%.*}.$((${VERSION##*.} + 1))"
cp -r "$work/stage/Varnolt-$VERSION" "$work/stage/Varnolt-$next"
bash -c "ROOT='$ROOT' && source '$ROOT/scripts/packaging.sh' && VERSION='$next' && make_msi '$work/stage' '$arch' '$work/next.msi'"
"$WINE" msiexec /i "$(winepath_of "$work/next.msi")" /qn >/dev/null 2>&1
check "an upgrade leaves the changed directory as it was" cmp -s "$dat" "$work/changed.dat"
check "and the program in place" installed Varnolt.exe
"$WINE" msiexec /x "$(winepath_of "$work/next.msi")" /qn >/dev/null 2>&1
check "uninstall removes the program" bash -c "! find '$users' -path '*/AppData/Local/Programs/Varnolt/*.exe' | grep -q ."
check "and keeps the user's directory" cmp -s "$dat" "$work/changed.dat"
check "and the shortcut" bash -c "! find '$users' -path '*/Start Menu/Programs/Varnolt.lnk' | grep -q ."

# The Debian packages.
[ -n "$debs" ] || { debs="$work/deb"; make_deb "$debs" >/dev/null && make_python "$work/python" "$debs"; }
lintian --fail-on error,warning "$debs"/*_"$VERSION"_*.deb >"$work/lintian.log" 2>&1
check "lintian reports no error and no warning" bash -c "! grep -q '^[EW]:' '$work/lintian.log'"
[ -s "$work/lintian.log" ] && grep -v 'root privileges' "$work/lintian.log" >&2
rootfs="$work/root" home="$work/home"
mkdir -p "$rootfs" "$home"
for package in "$debs"/*_"$VERSION"_*.deb; do dpkg -x "$package" "$rootfs"; done
HOME="$home" XDG_DATA_HOME="" "$rootfs/usr/bin/vnlt" query 13912345678 >"$work/out" 2>&1
check "vnlt answers from the packaged directory with no --dat" \
    [ "$(cat "$work/out")" = "13912345678	江苏省常州市	中国移动" ]
HOME="$home" XDG_DATA_HOME="" "$rootfs/usr/bin/vnlt" add 1391234 安装测试 测试类型 2>"$work/err"
check "add writes the user's own copy" [ -f "$home/.local/share/varnolt/Varnolt.dat" ]
check "and leaves the packaged directory unchanged" cmp -s "$rootfs/usr/share/varnolt/Varnolt.dat" "$ROOT/data/Varnolt.dat"
check "the man page is there" [ -f "$rootfs/usr/share/man/man1/vnlt.1.gz" ]
check "the service unit is there" bash -c "find '$rootfs' -name varnolt.service -path '*/systemd/system/*' | grep -q ."

# The README's C example, built against the installed packages as a user
# builds it: with pkg-config, and with CMake's find_package.
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
libs="$rootfs/usr/lib/$multiarch"
# shellcheck disable=SC2016  # the fences are literal
sed -n '/^```c$/,/^```$/p' "$ROOT/README.md" | sed '1d;$d' >"$work/example.c"
example_answers() {  # program
    LD_LIBRARY_PATH="$libs" "$1" "$rootfs/usr/share/varnolt/Varnolt.dat" "Tel: 139 1234 5678" >"$work/example.out" &&
        [ "$(cat "$work/example.out")" = "Tel: 139 1234 5678	江苏省常州市	中国移动	found" ]
}
flags="$(PKG_CONFIG_SYSROOT_DIR="$rootfs" PKG_CONFIG_LIBDIR="$libs/pkgconfig" pkg-config --cflags --libs varnolt)"
# shellcheck disable=SC2086  # the flags are words
check "the README's C example builds with pkg-config" cc -std=c89 -Wall -Werror -o "$work/example" "$work/example.c" $flags
check "and answers from the packaged directory" example_answers "$work/example"
mkdir -p "$work/cmake-example"
printf 'cmake_minimum_required(VERSION 3.16)\nproject(example C)\nfind_package(Varnolt 1 REQUIRED)\nadd_executable(example %s)\ntarget_link_libraries(example Varnolt::varnolt)\n' \
    "$work/example.c" >"$work/cmake-example/CMakeLists.txt"
check "find_package(Varnolt) finds the library" bash -c "cmake -S '$work/cmake-example' -B '$work/cmake-example/build' \
    -DCMAKE_PREFIX_PATH='$rootfs/usr' >/dev/null && cmake --build '$work/cmake-example/build' >/dev/null"
check "and the program it builds answers" example_answers "$work/cmake-example/build/example"
check "libvarnolt exports its C functions only" bash -c "! nm -D --defined-only '$libs/libvarnolt.so.1' |
    grep -v -e ' varnolt_[a-z_]*@@VARNOLT_1$' -e ' A VARNOLT_1$' | grep -q ."

# The README's Python example, from the wheel and from the sdist, each
# installed into a fresh virtual environment (that sees Debian's pandas),
# and from python3-varnolt over libvarnolt1.
# shellcheck disable=SC2016  # the fences are literal
sed -n '/^```python$/,/^```$/p' "$ROOT/README.md" | sed '1d;$d' >"$work/example.py"
python_example_answers() {  # python, then variables for env
    local python="$1"; shift
    env "$@" "$python" -c 'import sys, varnolt; print(varnolt.__file__)' >"$work/where" &&
        env "$@" "$python" "$work/example.py" >"$work/example-py.out" 2>&1 &&
        [ "$(head -1 "$work/example-py.out")" = "found 江苏省常州市 中国移动 江苏省 常州市 0519" ] &&
        grep -qx "1 no directory file" "$work/example-py.out" && grep -q "010-6552 9988 *found" "$work/example-py.out"
}
for kind in whl tar.gz; do
    venv="$work/venv-$kind"
    /usr/bin/python3 -m venv --system-site-packages "$venv"
    "$venv/bin/pip" install -q --no-index --no-build-isolation "$(echo "$debs/varnolt-$VERSION"*."$kind")"
    check "pip installs the $kind into a fresh virtual environment, where the README's Python example runs" \
        python_example_answers "$venv/bin/python"
    check "with the package from the environment" grep -q "^$venv/" "$work/where"
done
check "the README's Python example runs from python3-varnolt" python_example_answers /usr/bin/python3 \
    PYTHONPATH="$rootfs/usr/lib/python3/dist-packages" LD_LIBRARY_PATH="$libs"
check "with the package from the Debian package" grep -q "^$rootfs/usr/lib/python3/dist-packages/" "$work/where"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
