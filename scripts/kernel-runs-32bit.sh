#!/usr/bin/env bash
# Does this kernel run 32-bit x86 programs?
# Usage: scripts/kernel-runs-32bit.sh    exit 0 if it does; else exit 1
#
# Asked by running one: a 96-byte static i386 ELF program, written here byte
# by byte, whose only instructions are the exit system call with status 42.
# A kernel with IA-32 emulation off refuses it (ENOEXEC); a binfmt_misc
# handler standing in for it answers with anything but 42. Nothing is
# installed or needed for the question, so setup.sh can ask it before it
# decides whether 32-bit Wine is worth installing.
set -uo pipefail
probe="$(mktemp "${TMPDIR:-/tmp}/zelbin-i386-probe.XXXXXX")" || exit 1
trap 'rm -f "$probe"' EXIT
{
    # ELF header: 32-bit, little-endian, executable, i386, entry 08048054h,
    # one program header right after the 52 bytes of this header.
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
    printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
    # Program header: the whole file loaded at 08048000h, readable and
    # executable.
    printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
    printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
    # mov eax, 1 (exit); mov ebx, 42; int 80h
    printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
} >"$probe"
chmod +x "$probe"
"$probe" >/dev/null 2>&1
[ $? -eq 42 ]
