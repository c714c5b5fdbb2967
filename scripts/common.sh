# Shared by build.sh and test.sh: packages, builds, the Wine prefix.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
export WINEDEBUG=-all

PACKAGES=(cmake ninja-build g++ libgtest-dev
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-i686-dev mingw-w64-x86-64-dev
          wine64 wixl msitools icoutils)
# What fuzz.sh needs: the build tools, and clang with its libFuzzer and sanitizer runtimes.
FUZZ_PACKAGES=(cmake ninja-build g++ clang-14 libclang-rt-14-dev)

# Installs the Debian packages that are missing when run as root; otherwise says how.
# Without arguments it ensures PACKAGES, else the packages named.
ensure_packages() {
    local wanted=("$@") missing=()
    [ ${#wanted[@]} -eq 0 ] && wanted=("${PACKAGES[@]}")
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "installing: ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    else
        echo "missing packages; run as root:" >&2
        echo "  apt-get install -y --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
}

# Configures and builds one of the three builds: host, win32 or win64. Compiler and linker
# errors are shown; a failed step returns non-zero, and what an earlier build left in the
# output folders is removed first, so that no test ever runs a binary from another build.
build() {
    local name=$1 args=()
    case $name in
        host)  args=(-DCMAKE_BUILD_TYPE=Debug) ;;
        win32) args=(-DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" -DDIST_NAME=win32 -DCMAKE_BUILD_TYPE=Release) ;;
        win64) args=(-DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" -DDIST_NAME=win64 -DCMAKE_BUILD_TYPE=Release) ;;
    esac
    local out="$ROOT/build/$name.out"
    forget_outputs "$name"
    if ! cmake -S "$ROOT" -B "$ROOT/build/$name" -G Ninja "${args[@]}" >"$out" 2>&1 ||
       ! ninja -C "$ROOT/build/$name" >>"$out" 2>&1; then
        # ninja prints the compiler's errors on standard output: show the failing steps.
        grep -v '^\[[0-9]*/[0-9]*\] ' "$out" >&2 || cat "$out" >&2
        echo "build $name failed (whole output: $out)" >&2
        return 1
    fi
    case $name in
        win32) "$ROOT/packaging/build-msi.sh" "$ROOT/dist/win32" x86 ;;
        win64) "$ROOT/packaging/build-msi.sh" "$ROOT/dist/win64" x64 ;;
    esac
}

# Removes the programs and packages that a build makes, before it makes them again: a build
# that fails then leaves nothing behind that a test could run.
forget_outputs() {
    local name=$1
    case $name in
        host) rm -f "$ROOT/build/host/host_tests" "$ROOT/build/host/logread" ;;
        win32|win64)
            rm -rf "$ROOT/dist/$name"
            rm -f "$ROOT/build/$name"/wine-tests/*.exe ;;
    esac
}

# The Windows path of a host path, through Wine's Z: drive.
winpath() { echo "Z:$(realpath "$1" | sed 's|/|\\|g')"; }

# A fresh Wine prefix in the given folder.
new_prefix() {
    export WINEPREFIX="$1"
    rm -rf "$WINEPREFIX"
    "$WINE" wineboot -i >/dev/null 2>&1 || true
    # Wine 8.0 leaves more than one services.exe behind the first boot; programs then reach
    # one service control manager or another. A restarted prefix runs exactly one.
    stop_prefix
}

stop_prefix() { [ -n "${WINEPREFIX:-}" ] && "$WINESERVER" -k >/dev/null 2>&1 || true; }
