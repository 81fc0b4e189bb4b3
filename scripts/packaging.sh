# Shared by scripts/package and the package tests: the Windows zip and
# installer and the Debian package, each built reproducibly from
# SOURCE_DATE_EPOCH.
# shellcheck shell=bash

VERSION="$(sed -n 's/^project(Varnolt VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")"
# The Windows installer's identity across every version.
UPGRADE_CODE=6F3D2A1C-8B57-4E0A-9C41-2D7E5B90A613
# shellcheck disable=SC2034  # for the scripts that source this
PACKAGING_TOOLS=(zip unzip msitools wixl faketime debhelper dpkg-dev fakeroot lintian pkg-config abigail-tools
    dh-python python3-all-dev python3-setuptools python3-wheel python3-build python3-venv pybuild-plugin-pyproject)

# Whether FOLDER may not take release files, saying why: the checkout, a
# folder holding it, and the home folder are no release's own.
release_folder_refused() {  # folder (absolute)
    local top="${1%/}"
    case "$ROOT/" in
        "$top"/*) echo "--out $1 holds the checkout; choose a folder of its own" >&2 && return 0 ;;
    esac
    if [ "$top" = "$(realpath -m "${HOME:-/}")" ]; then
        echo "--out $1 is the home folder; choose a folder of its own" >&2 && return 0
    fi
    return 1
}

# Every date in a release is the last commit's, unless the caller set one.
set_source_date_epoch() {
    if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
        SOURCE_DATE_EPOCH="$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || true)"
        [ -n "$SOURCE_DATE_EPOCH" ] || { echo "SOURCE_DATE_EPOCH is not set and there is no commit to take it from" >&2; return 1; }
    fi
    export SOURCE_DATE_EPOCH
}

# A text for Windows' Notepad: UTF-8 with a byte-order mark, CR LF.
windows_text() {  # source target
    { printf '\xef\xbb\xbf'; sed -e "s/@VERSION@/$VERSION/g" -e 's/$/\r/' "$1"; } >"$2"
}

# The files of the Windows release in STAGE/Varnolt-VERSION/, from a MinGW
# build folder. The directory is the one in the sources, never the build
# folder's copy, which the programs may have saved into. sdk/ holds the
# library's header; add_sdk_dll adds its DLL of each architecture.
stage_windows() {  # build_folder stage
    local folder="$2/Varnolt-$VERSION"
    rm -rf "$2" && mkdir -p "$folder/sdk"
    cp "$1/Varnolt.exe" "$1/vnlt.exe" "$folder/"
    cp "$ROOT/data/Varnolt.dat" "$folder/Varnolt.dat"
    windows_text "$ROOT/LICENSE" "$folder/LICENSE.txt"
    { cat "$ROOT/packaging/windows/NOTICE.txt"; cat "$ROOT/data/NOTICE"; } >"$2/notice"
    windows_text "$2/notice" "$folder/NOTICE.txt" && rm "$2/notice"
    windows_text "$ROOT/packaging/windows/README.txt" "$folder/README.txt"
    cp "$ROOT/lib/varnolt.h" "$folder/sdk/varnolt.h"
    windows_text "$ROOT/packaging/windows/SDK.txt" "$folder/sdk/README.txt"
}

add_sdk_dll() {  # stage arch(x86|x64) build_folder
    mkdir -p "$1/Varnolt-$VERSION/sdk/$2"
    cp "$3/varnolt.dll" "$3/varnolt.dll.a" "$1/Varnolt-$VERSION/sdk/$2/"
}

# Every folder 0755 and file 0644, every time SOURCE_DATE_EPOCH's.
settle_stage() {  # stage
    find "$1/Varnolt-$VERSION" -type d -exec chmod 0755 {} +
    find "$1/Varnolt-$VERSION" -type f -exec chmod 0644 {} +
    find "$1/Varnolt-$VERSION" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# One top folder, entries in a fixed order, no owner or extra time fields,
# times in UTC.
make_zip() {  # stage target
    local target
    target="$(realpath -m "$2")"
    rm -f "$target"
    settle_stage "$1"
    (cd "$1" && find "Varnolt-$VERSION" | LC_ALL=C sort | TZ=UTC zip -X -9 -q "$target" -@)
}

# A name-based UUID, so that the same input always gives the same code.
stable_uuid() {  # text
    python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.NAMESPACE_URL, sys.argv[1])).upper())' "$1"
}

# The per-user installer. wixl takes its dates from the clock and draws a
# fresh package code, so the clock is set to SOURCE_DATE_EPOCH and the codes
# are derived: the product code from the version and architecture, the
# package code from the payload too.
make_msi() {  # stage arch(x86|x64) target
    local stage="$1" arch="$2" target clock product package template
    target="$(realpath -m "$3")"
    clock="$(TZ=UTC date -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')"
    product="$(stable_uuid "varnolt:product:$VERSION:$arch")"
    package="$(stable_uuid "varnolt:package:$VERSION:$arch:$(find "$stage/Varnolt-$VERSION" -maxdepth 1 -type f |
        LC_ALL=C sort | xargs cat | sha256sum | cut -d' ' -f1)")"
    template="Intel;2052"
    [ "$arch" = x64 ] && template="x64;2052"
    rm -f "$target"
    # wixl wants the payload's folder relative; it warns about the attributes
    # it does not know, and what it cannot express is set below with SQL.
    (cd "$stage" && TZ=UTC faketime -f "@$clock" wixl -a "$arch" -D "Version=$VERSION" -D "SourceDir=Varnolt-$VERSION" \
        -D "ProductCode=$product" -D "PackageCode=$package" -D "UpgradeCode=$UPGRADE_CODE" -o "$target" "$ROOT/packaging/windows/Varnolt.wxs" \
        2> >(grep -v 'g_object_set_is_valid_property' >&2)) && [ -f "$target" ] || return 1
    # Varnolt.dat is the user's data once the program has saved into it: it
    # is never overwritten (msidbComponentAttributesNeverOverwrite, 128) and
    # outlives the product (msidbComponentAttributesPermanent, 16), so that
    # neither the old product's removal in an upgrade nor an uninstall loses it.
    TZ=UTC faketime -f "@$clock" msibuild "$target" \
        -q "UPDATE Component SET Attributes = 144 WHERE Component = 'Directory'" &&
        # Windows Installer compares three fields of a version, and ours
        # change in the fourth: an older or equal version is upgraded
        # (msidbUpgradeAttributesVersionMaxInclusive, 0x200).
        TZ=UTC faketime -f "@$clock" msibuild "$target" \
            -q "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'" &&
        TZ=UTC faketime -f "@$clock" msibuild "$target" \
            -q "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('{$UPGRADE_CODE}', '$VERSION', 513, 'WIX_UPGRADE_DETECTED')" &&
        TZ=UTC faketime -f "@$clock" msibuild "$target" -s "Varnolt $VERSION" "Varnolt" "$template" "{$package}"
}

# The project's files (what git tracks or would track, as they are in the
# work tree) into TARGET.
copy_sources() {  # target
    mkdir -p "$1"
    if git -C "$ROOT" rev-parse --git-dir >/dev/null 2>&1; then
        (cd "$ROOT" && git ls-files -z --cached --others --exclude-standard |
            while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
            xargs -0 cp -P --parents -t "$1")
    else
        tar -C "$ROOT" --exclude=./build --exclude=./dist -cf - . | tar -C "$1" -xf -
    fi
}

# The Python package's sdist and wheel, built offline from a copy of the
# sources in WORK (setuptools writes beside them), into TARGET. The wheel's
# entries take SOURCE_DATE_EPOCH from bdist_wheel; the sdist, a tar that
# setuptools dates by the clock, is written again in a fixed order and time.
make_python() {  # work target
    local work target sdist
    work="$(realpath -m "$1")" target="$(realpath -m "$2")"
    rm -rf "$work" && mkdir -p "$work/src" "$target"
    copy_sources "$work/src"
    (cd "$work/src" && /usr/bin/python3 -m build --no-isolation --outdir "$work/dist" . >"$work/build.log" 2>&1) || {
        tail -40 "$work/build.log" >&2
        return 1
    }
    sdist="varnolt-$VERSION.tar.gz"
    mkdir "$work/sdist" && tar -C "$work/sdist" -xzf "$work/dist/$sdist"
    tar -C "$work/sdist" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
        --mode=u+w,go-w,a+rX -cf - "varnolt-$VERSION" | gzip -9n >"$target/$sdist"
    cp "$work"/dist/*.whl "$target/"
}

# The Debian packages (varnolt, libvarnolt1, libvarnolt-dev, python3-varnolt), built the
# Debian way from a copy of the sources in WORK (dpkg-buildpackage writes
# beside the source folder). Prints their paths, one a line.
make_deb() {  # work
    local work="$1" source="$1/varnolt-$VERSION"
    rm -rf "$work" && mkdir -p "$source"
    copy_sources "$source"
    # Debian's own tools only: a python3 of pyenv's or a venv's on the PATH has not Debian's modules.
    (cd "$source" && PATH=/usr/sbin:/usr/bin:/sbin:/bin dpkg-buildpackage -b -us -uc >"$work/build.log" 2>&1) || {
        tail -40 "$work/build.log" >&2
        return 1
    }
    ls "$work"/{varnolt,libvarnolt1,libvarnolt-dev,python3-varnolt}_"$VERSION"_*.deb
}
