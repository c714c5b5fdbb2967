# Shared by build.sh and test.sh: packages, builds, the Wine prefixes.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WINE=/usr/lib/wine/wine64
# The 32-bit loader, from wine32:i386: 32-bit programs in a 64-bit prefix (WOW64) or in a
# 32-bit one. It starts only where the machine runs 32-bit code (see runs_32bit_code).
WINE32=/usr/lib/wine/wine
# One wineserver serves 64-bit and 32-bit prefixes alike.
WINESERVER=/usr/lib/wine/wineserver64
export WINEDEBUG=-all

PACKAGES=(cmake ninja-build g++ binutils libgtest-dev
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-i686-dev mingw-w64-x86-64-dev
          wine64 wixl msitools icoutils)
WINE32_PACKAGE=wine32:i386
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

# Whether this machine runs 32-bit x86 programs. Some kernels of the same kind have their
# 32-bit support switched off ("Exec format error"), so ask: a static i386 program that exits
# with a known code tells. Where the kernel refuses, qemu's user-mode emulator can run them
# instead when DRVMATE_QEMU=1 asks for it: scripts/qemu.sh, read only then, sets that up, and
# release_32bit_emulation takes it down again (without it, release_32bit_emulation does
# nothing). DRVMATE_NO_32BIT=1 answers no without asking, so that the path of a machine
# without 32-bit code can be seen anywhere. Says why not in NO_32BIT_REASON, and how 32-bit
# programs run in RUNS_32BIT_BY (EMULATED_32BIT is set when qemu runs them).
PROBE_EXIT_CODE=42

qemu_requested() { [ "${DRVMATE_QEMU:-0}" != 0 ]; }
release_32bit_emulation() { :; }
if qemu_requested; then
    source "$ROOT/scripts/qemu.sh"
fi

# Runs the probe; its error text, if any, in probe_error.
run_probe() {
    local dir=$1 rc
    probe_error=$("$dir/probe" 2>&1)
    rc=$?
    [ "$rc" -eq "$PROBE_EXIT_CODE" ] && return 0
    probe_error=${probe_error##*: }
    probe_error=${probe_error:-exit code $rc}
    return 1
}

runs_32bit_code() {
    local emulate=1
    [ "${1:-}" = --natively ] && emulate=
    NO_32BIT_REASON=
    RUNS_32BIT_BY=
    EMULATED_32BIT=
    if [ -n "${DRVMATE_NO_32BIT:-}" ] && [ "$DRVMATE_NO_32BIT" != 0 ]; then
        NO_32BIT_REASON="this kernel does not run 32-bit code"
        NO_32BIT_REASON+=" (so says DRVMATE_NO_32BIT=$DRVMATE_NO_32BIT; the probe did not run)"
        return 1
    fi
    local dir="$ROOT/build/probe-i386"
    mkdir -p "$dir"
    printf '%s\n' '.globl _start' '_start:' '    movl $1, %eax' "    movl \$$PROBE_EXIT_CODE, %ebx" '    int $0x80' \
        > "$dir/probe.s"
    if ! as --32 -o "$dir/probe.o" "$dir/probe.s" >"$dir/build.txt" 2>&1 ||
       ! ld -m elf_i386 -o "$dir/probe" "$dir/probe.o" >>"$dir/build.txt" 2>&1; then
        NO_32BIT_REASON="the 32-bit probe could not be built with as --32 and ld -m elf_i386 (see $dir/build.txt)"
        return 1
    fi
    if run_probe "$dir"; then
        RUNS_32BIT_BY="the kernel"
        # An emulator registered before this run answers the probe as well.
        if qemu_requested; then emulation_registered_before; fi
        return 0
    fi
    local native_error=$probe_error
    NO_32BIT_REASON="this kernel does not run 32-bit code (a static i386 program: $native_error)"
    [ -n "$emulate" ] || return 1
    if ! qemu_requested; then
        NO_32BIT_REASON+="; DRVMATE_QEMU=1 runs 32-bit code under qemu-i386 user-mode emulation instead"
        return 1
    fi
    emulate_32bit_code "$dir" "$native_error"
}

# Installs the 32-bit Wine from Debian's i386 architecture when run as root; otherwise says how.
ensure_wine32() {
    dpkg-query -W -f='${Status}' "$WINE32_PACKAGE" 2>/dev/null | grep -q "install ok installed" && [ -x "$WINE32" ] &&
        return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "installing: $WINE32_PACKAGE"
        dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$WINE32_PACKAGE" >/dev/null
    else
        echo "this machine runs 32-bit code and lacks the 32-bit Wine; run as root:" >&2
        echo "  dpkg --add-architecture i386" >&2
        echo "  apt-get update" >&2
        echo "  apt-get install -y --no-install-recommends $WINE32_PACKAGE" >&2
        return 1
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
    mkdir -p "$ROOT/build"
    forget_outputs "$name"
    if ! cmake -S "$ROOT" -B "$ROOT/build/$name" -G Ninja "${args[@]}" >"$out" 2>&1 ||
       ! ninja -C "$ROOT/build/$name" >>"$out" 2>&1; then
        # ninja prints the compiler's errors on standard output: show the failing steps.
        grep -v '^\[[0-9]*/[0-9]*\] ' "$out" >&2 || cat "$out" >&2
        echo "build $name failed (whole output: $out)" >&2
        return 1
    fi
    # The example package into the dist folder, and the packages that the package life test
    # installs beside the Wine test programs.
    local arch
    case $name in
        win32) arch=x86 ;;
        win64) arch=x64 ;;
        *) return 0 ;;
    esac
    "$ROOT/packaging/build-msi.sh" "$ROOT/dist/$name" $arch &&
    "$ROOT/tests/package_life_msis.sh" "$ROOT/dist/$name" $arch "$ROOT/build/$name/wine-tests/package-life"
}

# Removes the programs and packages that a build makes, before it makes them again: a build
# that fails then leaves nothing behind that a test could run.
forget_outputs() {
    local name=$1
    case $name in
        host) rm -f "$ROOT/build/host/host_tests" "$ROOT/build/host/conformance_tests" "$ROOT/build/host/logread" ;;
        win32|win64)
            rm -rf "$ROOT/dist/$name"
            rm -f "$ROOT/build/$name"/wine-tests/*.exe
            rm -rf "$ROOT/build/$name/wine-tests/package-life" ;;
    esac
}

# The Windows path of a host path, through Wine's Z: drive.
winpath() { echo "Z:$(realpath "$1" | sed 's|/|\\|g')"; }

# A fresh Wine prefix in the given folder, for the 64-bit loader.
new_prefix() { boot_prefix "$1" x64 >/dev/null 2>&1 || true; }

# A fresh Wine prefix in the given folder, of one kind:
#   x64    a 64-bit prefix for 64-bit programs (wine64 wineboot);
#   wow64  the same prefix for 32-bit programs, which run there under WOW64;
#   x86    a 32-bit Windows prefix (WINEARCH=win32, booted by the 32-bit loader in an empty folder).
# Exports WINEPREFIX (and WINEARCH for x86). Returns non-zero with the reason in BOOT_FAILURE
# when the prefix is not of its kind after the boot; the boot's output is in FOLDER.boot.txt.
boot_prefix() {
    local folder=$1 kind=$2 loader=$WINE arch=win64 output="$1.boot.txt"
    BOOT_FAILURE=
    export WINEPREFIX="$folder"
    unset WINEARCH
    if [ "$kind" = x86 ]; then
        loader=$WINE32 arch=win32
        export WINEARCH=win32
    fi
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    local rc=0
    "$loader" wineboot -i >"$output" 2>&1 || rc=$?
    # Wine 8.0 leaves more than one services.exe behind the first boot; programs then reach
    # one service control manager or another. A restarted prefix runs exactly one.
    stop_prefix
    local windows="$WINEPREFIX/drive_c/windows"
    if [ "$rc" -ne 0 ]; then
        BOOT_FAILURE="$loader wineboot -i ended with $rc: $(tail -n 1 "$output")"
    elif ! grep -q "^#arch=$arch" "$WINEPREFIX/system.reg" 2>/dev/null; then
        BOOT_FAILURE="the prefix is not a $arch prefix ($WINEPREFIX/system.reg)"
    elif [ "$kind" = wow64 ] && [ ! -e "$windows/syswow64/kernel32.dll" ]; then
        BOOT_FAILURE="the prefix has no 32-bit system files in syswow64: is $WINE32_PACKAGE installed?"
    elif [ ! -e "$windows/system32/kernel32.dll" ]; then
        BOOT_FAILURE="the prefix has no system files in system32"
    fi
    [ -z "$BOOT_FAILURE" ] || return 1
    # 64-bit Windows has a drivers folder in its WOW64 system directory; a new prefix lacks it.
    [ "$arch" = win64 ] && mkdir -p "$windows/syswow64/drivers"
    return 0
}

stop_prefix() { [ -n "${WINEPREFIX:-}" ] && "$WINESERVER" -k >/dev/null 2>&1 || true; }
