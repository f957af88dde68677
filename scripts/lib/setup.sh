# shellcheck shell=bash disable=SC2034
# Shared set-up of the commands in scripts/. Source it; it defines functions and variables
# only.
#
# Everything the build needs comes from Debian's packages. Only missing packages are
# installed, and the package lists are refreshed only when something is missing, so a
# machine that has everything runs no apt at all.

# Native build: the default and sanitize presets (the runner, the tests and the
# benchmark).
FW_NATIVE_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev googletest
    nlohmann-json3-dev libbenchmark-dev)
# The rest of the test run: mingw-w64 for the Windows build, Wine to run what it builds
# (wine64 alone ships only the loader; the wine package adds the `wine` front end and
# wineserver on PATH), and clang-format for the style check.
FW_TEST_PACKAGES=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 wine
    clang-format jq)
# The fuzzers (scripts/fuzz): clang 14, and its runtime libraries for libFuzzer and the
# sanitizers, which clang only recommends.
FW_FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)
# The coverage report (scripts/coverage): gcovr reads the gcov data of the native build.
FW_COVERAGE_PACKAGES=(gcovr)

fw_log() { printf '==> %s\n' "$*"; }

fw_package_installed() {
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

# fw_install_packages PACKAGE...: installs those of PACKAGE... that are missing.
fw_install_packages() {
    local missing=() package
    for package in "$@"; do
        fw_package_installed "$package" || missing+=("$package")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        fw_log "Packages: all ${#} present"
        return 0
    fi
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            echo "error: missing packages (${missing[*]}) and not root to install them" >&2
            return 1
        fi
        sudo=(sudo)
    fi
    fw_log "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -q || return 1
    # With their recommended packages: Wine loads several of its libraries only when
    # they are there, and this is the set the project is tested with.
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}" || return 1
}

# fw_setup_wine BUILD_ROOT: exports the Wine environment used for the Windows build's
# tests and the product runs, and creates the prefix if it is not there yet. The prefix
# lives in the build tree so that a run never depends on (or disturbs) the user's own.
fw_setup_wine() {
    export WINEPREFIX="$1/wine-prefix"
    export WINEDEBUG=-all
    # No Mono or Gecko: nothing here needs them, and their installers would ask.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    FW_WINE=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
    FW_WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        fw_log "Creating the Wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        "$FW_WINE" wineboot --init </dev/null >/dev/null 2>&1 || return 1
        "$FW_WINESERVER" -w
    fi
}
