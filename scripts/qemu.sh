# Read by scripts/common.sh only when DRVMATE_QEMU=1: 32-bit programs under qemu's user-mode
# emulator, through binfmt_misc, on a kernel that does not run them itself. As root,
# emulate_32bit_code registers the emulator for the run, and release_32bit_emulation takes it
# down again. It is not the default because under the emulator Wine now and then loses a
# process, which fails a case that passes elsewhere.
QEMU_PACKAGE=qemu-user-static
QEMU_I386=/usr/bin/qemu-i386-static
BINFMT=/proc/sys/fs/binfmt_misc
BINFMT_ENTRY=drvmate-qemu-i386
# What binfmt_misc matches: the ELF header of an i386 executable (class 32-bit, little-endian,
# machine 3), as qemu's own registration has it. F: the emulator is opened once, at registration.
BINFMT_I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
BINFMT_I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# Wine's 32-bit loader reserves most of the 4 GiB address space at start; qemu walks its page
# table over every reservation, a page at a time, which takes about 50 s per process with 4 KiB
# pages. Larger host pages (qemu's -p) cut that to about 3 s; the guest still sees 4 KiB pages.
QEMU_HOST_PAGE_SIZE=262144
registered_emulation=

# After a probe that ran: whether it ran under qemu-i386 registered before this run, by us or
# by the system's own registration; if so, says so in RUNS_32BIT_BY and EMULATED_32BIT.
emulation_registered_before() {
    if [ -e "$BINFMT/$BINFMT_ENTRY" ] || grep -qsx "interpreter $QEMU_I386" "$BINFMT"/qemu-i386; then
        RUNS_32BIT_BY="qemu-i386 user-mode emulation, registered before this run"
        EMULATED_32BIT=1
        export QEMU_PAGESIZE=${QEMU_PAGESIZE:-$QEMU_HOST_PAGE_SIZE}
    fi
}

# After a probe that the kernel refused with `native_error`: registers qemu-i386 and runs the
# probe in the folder `dir` again. Returns as runs_32bit_code does.
emulate_32bit_code() {
    local dir=$1 native_error=$2
    if [ "$(id -u)" -ne 0 ]; then
        NO_32BIT_REASON+=", and DRVMATE_QEMU=1 needs root to register qemu-i386 for it"
        return 1
    fi
    local why
    if ! why=$(register_emulation 2>&1); then
        NO_32BIT_REASON+=", and qemu-i386 could not be registered for it: $why"
        return 1
    fi
    registered_emulation=1
    if ! run_probe "$dir"; then
        NO_32BIT_REASON+=", nor under qemu-i386 user-mode emulation ($probe_error)"
        release_32bit_emulation
        return 1
    fi
    NO_32BIT_REASON=
    export QEMU_PAGESIZE=$QEMU_HOST_PAGE_SIZE
    EMULATED_32BIT=1
    RUNS_32BIT_BY="qemu-i386 user-mode emulation: this kernel does not run 32-bit code itself ($native_error)"
    return 0
}

# Registers qemu-i386 for i386 programs with binfmt_misc (as root).
register_emulation() {
    ensure_packages "$QEMU_PACKAGE" >&2 || return 1
    [ -x "$QEMU_I386" ] || { echo "$QEMU_I386 is missing"; return 1; }
    if [ ! -e "$BINFMT/register" ]; then
        mount -t binfmt_misc binfmt_misc "$BINFMT" || { echo "binfmt_misc cannot be mounted on $BINFMT"; return 1; }
    fi
    # An entry of ours left switched off: switch it on.
    if [ -e "$BINFMT/$BINFMT_ENTRY" ]; then
        echo 1 > "$BINFMT/$BINFMT_ENTRY" || { echo "$BINFMT/$BINFMT_ENTRY cannot be switched on"; return 1; }
        return 0
    fi
    printf '%s' ":$BINFMT_ENTRY:M::$BINFMT_I386_MAGIC:$BINFMT_I386_MASK:$QEMU_I386:F" > "$BINFMT/register" ||
        { echo "$BINFMT/register refused the entry"; return 1; }
}

# Removes the registration that emulate_32bit_code made, leaving the machine as it was found.
release_32bit_emulation() {
    [ -n "$registered_emulation" ] || return 0
    [ -e "$BINFMT/$BINFMT_ENTRY" ] && echo -1 > "$BINFMT/$BINFMT_ENTRY" 2>/dev/null || true
    registered_emulation=
}
