# Which Windows build of the program this host runs, and the Wine that runs it. Sourced by the
# scripts that build or run the program. The builds are x86 (32-bit, build/win) and x64 (64-bit,
# build/win64); the 32-bit one is the reference wherever this host can run it.
#
#   arch_runs ARCH         whether this host starts that build's Wine
#   arch_hosted            the builds this host runs, one a line, x86 first; with none, says why
#                          in one line and fails
#   arch_chosen            the builds to use: PRINTTEST_ARCH (x86, x64 or both) where it is set,
#                          else x86 where the host runs it, else x64; one a line
#   arch_one               the one build a command that runs one program uses: the first chosen
#   arch_dir ARCH [KIND]   the build's folder under the build folder: win or win64 (KIND
#                          clang: clang or clang64)
#   arch_bits ARCH         32 or 64
#   arch_target ARCH       the processor the toolchain files are named after: i686 or x86_64
#   wine_use ARCH          exports the Wine environment for that build: WINELOADER, the one
#                          variable that names the loader, and what follows from it
#   build_loader DIR       the loader a CMake build folder's tests run with
#   compiler_cache         sets cache_args, CMake's arguments that compile through ccache
#                          where it is installed

WINE_LOADER_x86=/usr/lib/wine/wine
WINE_LOADER_x64=/usr/lib/wine/wine64

arch_loader() { if [ "$1" = x86 ]; then echo "$WINE_LOADER_x86"; else echo "$WINE_LOADER_x64"; fi; }

# The loaders are programs of their build's width: the 32-bit one starts only where the host
# runs 32-bit programs, whatever packages are installed.
arch_runs() { "$(arch_loader "$1")" --version >/dev/null 2>&1; }

# One line saying why a build's Wine does not start, and what to do.
arch_why_not() {
    local loader error
    loader=$(arch_loader "$1")
    if [ ! -x "$loader" ]; then
        if [ "$1" = x86 ]; then
            echo "the 32-bit Wine ($loader) is not installed: install wine32:i386 (scripts/install-deps.sh does)"
        else
            echo "the 64-bit Wine ($loader) is not installed: install wine64 (scripts/install-deps.sh does)"
        fi
        return
    fi
    error=$("$loader" --version 2>&1 >/dev/null | head -n 1 || true)
    error=${error:-it exits with an error}
    if [ "$1" = x86 ]; then
        echo "the 32-bit Wine cannot start on this host ($loader: ${error##*: }); it runs 64-bit programs only: use the 64-bit build (PRINTTEST_ARCH=x64)"
    else
        echo "the 64-bit Wine cannot start ($loader: ${error##*: }): reinstall wine64 (scripts/install-deps.sh)"
    fi
}

arch_hosted() {
    local arch found=
    for arch in x86 x64; do
        if arch_runs "$arch"; then echo "$arch"; found=1; fi
    done
    if [ -z "$found" ]; then
        echo "Wine cannot start here: $(arch_why_not x86); and $(arch_why_not x64)" >&2
        return 1
    fi
}

arch_chosen() {
    local arch asked
    case ${PRINTTEST_ARCH:-} in
        "") arch_one_of "$(arch_hosted)"; return ;;
        x86|x64) asked=$PRINTTEST_ARCH ;;
        both) asked="x86 x64" ;;
        *) echo "PRINTTEST_ARCH=$PRINTTEST_ARCH: it takes x86, x64 or both" >&2; return 1 ;;
    esac
    for arch in $asked; do
        if ! arch_runs "$arch"; then
            echo "PRINTTEST_ARCH=$PRINTTEST_ARCH: $(arch_why_not "$arch")" >&2
            return 1
        fi
    done
    printf '%s\n' $asked
}

# The first line of the lines given; fails on none, as what gave them said why.
arch_one_of() { [ -n "$1" ] && echo "${1%%$'\n'*}"; }

arch_one() { arch_one_of "$(arch_chosen)"; }

arch_dir() { if [ "$1" = x86 ]; then echo "${2:-win}"; else echo "${2:-win}64"; fi; }

arch_bits() { if [ "$1" = x86 ]; then echo 32; else echo 64; fi; }

arch_target() { if [ "$1" = x86 ]; then echo i686; else echo x86_64; fi; }

build_loader() { sed -n 's/^WINE_LOADER:INTERNAL=//p' "$1/CMakeCache.txt"; }

# The objects compiled, kept across builds and clones in the project's cache folder, beside
# GhostPCL: a build of sources compiled before takes seconds instead of minutes. The settings are
# part of the launcher, so that a build run again by hand uses the same cache; paths within the
# clone are hashed relative to it, so that a clone elsewhere finds what another compiled.
compiler_cache() {
    cache_args=()
    command -v ccache >/dev/null || return 0
    local cache=${PRINTTEST_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/printtest}/ccache
    local clone
    clone=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    local launcher="env;CCACHE_DIR=$cache;CCACHE_BASEDIR=$clone;ccache"
    # shellcheck disable=SC2034  # read by the scripts that source this file
    cache_args=("-DCMAKE_C_COMPILER_LAUNCHER=$launcher" "-DCMAKE_CXX_COMPILER_LAUNCHER=$launcher")
}

wine_use() {
    export WINELOADER
    WINELOADER=$(arch_loader "$1")
    wine_defaults
}

# What every run of Wine here needs, given WINELOADER: the prefix's width to match the loader,
# Wine's own logging off, no offer to install Mono or Gecko, whose dialog would hang a run with
# no one to answer it, and no menu builder, which would write menu entries and folders into the
# user's home.
wine_defaults() {
    : "${WINELOADER:?WINELOADER names the Wine loader to use (scripts/arch.sh sets it)}"
    case $WINELOADER in
        *64) export WINEARCH=win64 ;;
        *) export WINEARCH=win32 ;;
    esac
    export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}
