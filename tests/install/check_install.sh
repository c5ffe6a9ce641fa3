#!/usr/bin/env bash
# Installs a build into a staging folder as a package build does (prefix /usr, DESTDIR) and checks the tree:
# exactly the expected files and nothing writable beside the programs; programs that run from there without a
# display and link nothing by a build path; a desktop entry and metainfo that name what was installed; man pages that groff
# reads without a warning and whose OPTIONS are exactly the options the program's --help lists; the Debian copyright
# file and a changelog whose newest entry is the package's version.
# Usage: check_install.sh BUILD_DIR VERSION PACKAGE_VERSION APP_ID PROGRAM...
set -euo pipefail
build=$1 version=$2 packageVersion=$3 appId=$4
shift 4
programs=("$@")
stage=$(mktemp -d)
home=$(mktemp -d)
trap 'rm -rf "$stage" "$home"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
has() {
    local wanted=$1 p
    shift
    for p in "$@"; do [ "$p" = "$wanted" ] && return 0; done
    return 1
}

# No display and a home of its own: --help and --version must need neither a window nor the user's files.
headless() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_DATA_HOME -u VANTREL_DATA_DIR HOME="$home" "$@"
}

if ! log=$(DESTDIR="$stage" cmake --install "$build" --prefix /usr 2>&1); then
    echo "$log" >&2
    echo "FAIL: cmake --install" >&2
    exit 1
fi
root=$stage/usr

# -- the tree: these files and the folders that hold them, nothing else
expected=("usr/share/doc/vantrel/copyright" "usr/share/doc/vantrel/changelog.Debian.gz"
    "usr/share/lintian/overrides/vantrel")
for p in "${programs[@]}"; do
    expected+=("usr/bin/$p" "usr/share/man/man1/$p.1.gz")
done
if has vantrel "${programs[@]}"; then
    expected+=("usr/share/applications/$appId.desktop" "usr/share/metainfo/$appId.metainfo.xml"
        "usr/share/icons/hicolor/scalable/apps/$appId.svg")
fi
installed=$(cd "$stage" && find . -mindepth 1 ! -type d | sed 's|^\./||' | LC_ALL=C sort)
wanted=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)
if [ "$installed" != "$wanted" ]; then
    fail "installed files differ from the expected ones (< expected, > installed):"
    diff <(echo "$wanted") <(echo "$installed") | grep '^[<>]' >&2 || true
fi
while IFS= read -r folder; do
    grep -q "^$folder/" <<<"$wanted" || fail "folder $folder holds none of the installed files"
done < <(cd "$stage" && find . -mindepth 1 -type d | sed 's|^\./||')

# -- programs: executable, no run path, the project's version
for p in "${programs[@]}"; do
    exe=$root/bin/$p
    [ -x "$exe" ] || { fail "$p is not executable"; continue; }
    if readelf -d "$exe" | grep -q -E '\((RPATH|RUNPATH)\)'; then
        fail "$p carries a run path: $(readelf -d "$exe" | grep -E 'R(UN)?PATH')"
    fi
    got=$(headless "$exe" --version) || fail "$p --version failed"
    [ "$got" = "$p $version" ] || fail "$p --version says '$got', not '$p $version'"
done

# -- the installed window program: its data folder is the user's one, named by --help, made only when it runs
if has vantrel "${programs[@]}"; then
    help=$(headless "$root/bin/vantrel" --help) || fail "vantrel --help failed"
    grep -q -F "Data folder: $home/.local/share/vantrel/ (the user's data folder)" <<<"$help" ||
        fail "vantrel --help does not name the user's data folder: $(grep 'Data folder' <<<"$help")"
    [ ! -e "$home/.local" ] || fail "vantrel --help created $home/.local"
    headless "$root/bin/vantrel" --no-such-option 2>/dev/null && status=0 || status=$?
    [ "$status" -eq 2 ] || fail "vantrel with a bad option exits with $status, not 2"
fi

# -- desktop entry and metainfo name what was installed
desktop=$root/share/applications/$appId.desktop
if [ -f "$desktop" ]; then
    key() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
    exec_program=$(key Exec | cut -d ' ' -f 1)
    [ -x "$root/bin/$exec_program" ] || fail "desktop entry starts '$exec_program', which is not installed"
    [ "$(key TryExec)" = "$exec_program" ] || fail "desktop entry's TryExec is not its Exec program"
    icon=$(key Icon)
    [ -f "$root/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "desktop entry's icon '$icon' is not installed"
    grep -q '<svg' "$root/share/icons/hicolor/scalable/apps/$icon.svg" || fail "icon $icon is not an SVG image"
fi
metainfo=$root/share/metainfo/$appId.metainfo.xml
if [ -f "$metainfo" ]; then
    tag() { sed -n "s|.*<$1[^>]*>\\([^<]*\\)</$1>.*|\\1|p" "$metainfo"; }
    [ "$(tag id)" = "$appId" ] || fail "metainfo id is '$(tag id)', not $appId"
    [ "$(tag launchable)" = "$appId.desktop" ] || fail "metainfo launches '$(tag launchable)', not $appId.desktop"
    release=$(sed -n 's|.*<release version="\([^"]*\)".*|\1|p' "$metainfo" | head -n 1)
    [ "$release" = "$version" ] || fail "metainfo's newest release is '$release', not $version"
    for binary in $(tag binary); do
        [ -x "$root/bin/$binary" ] || fail "metainfo provides '$binary', which is not installed"
    done
fi

# -- man pages: clean roff, named and versioned, OPTIONS exactly as --help lists them
options_of() { grep -o -E -- '--[a-z][a-z-]*' | LC_ALL=C sort -u; }
for p in "${programs[@]}"; do
    page=$root/share/man/man1/$p.1.gz
    [ -f "$page" ] || continue
    gzip -t "$page" || { fail "$p.1.gz is not a valid gzip file"; continue; }
    text=$(zcat "$page")
    warnings=$(groff -man -ww -z -Tutf8 <<<"$text" 2>&1) || true
    [ -z "$warnings" ] || fail "groff warns about $p.1: $warnings"
    upper=$(tr '[:lower:]' '[:upper:]' <<<"$p")
    grep -q "^\.TH $upper 1 .*\"Vantrel $version\"" <<<"$text" || fail "$p.1 does not head itself $upper(1), Vantrel $version"
    grep -q "^$p \\\\- " <<<"$(sed -n '/^\.SH NAME/,/^\.SH/p' <<<"$text")" || fail "$p.1 has no NAME line for $p"
    documented=$(awk '/^\.SH /{inside = ($2 == "OPTIONS")} inside && previous == ".TP" {print} {previous = $0}' \
        <<<"$text" | sed 's/\\-/-/g' | options_of)
    listed=$(headless "$root/bin/$p" --help | options_of)
    if [ "$documented" != "$listed" ]; then
        fail "$p.1 OPTIONS differ from $p --help (< man page, > --help):"
        diff <(echo "$documented") <(echo "$listed") | grep '^[<>]' >&2 || true
    fi
done

# -- the package's documents: machine-readable copyright with the licence's text, a changelog dpkg reads
docs=$root/share/doc/vantrel
if [ -f "$docs/copyright" ]; then
    head -n 1 "$docs/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
        fail "copyright does not name the machine-readable format on its first line"
    for licence in $(sed -n 's/^License: *//p' "$docs/copyright" | LC_ALL=C sort -u); do
        awk -v name="License: $licence" 'previous == name && /^ / {found = 1} {previous = $0} END {exit !found}' \
            "$docs/copyright" || fail "copyright has no text for the licence $licence"
    done
fi
if [ -f "$docs/changelog.Debian.gz" ]; then
    changelog=$(mktemp)
    zcat "$docs/changelog.Debian.gz" >"$changelog"
    newest=$(dpkg-parsechangelog -l "$changelog" -S Version 2>&1) || fail "dpkg cannot read the changelog: $newest"
    [ "$newest" = "$packageVersion" ] || fail "the changelog's newest entry is '$newest', not $packageVersion"
    rm -f "$changelog"
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures problems in the installed tree" >&2
    exit 1
fi
echo "installed tree of ${#programs[@]} programs checked: $(wc -l <<<"$installed") files"
