#!/usr/bin/env bash
# Lets the machine run 32-bit x86 programs such as the 32-bit Wine loader.
# Some virtual machines run only 64-bit code; there qemu-i386 is registered
# as the interpreter of 32-bit x86 ELF files. Does nothing where such
# programs already run, or where no 32-bit runtime is installed yet.
set -euo pipefail

loader=/lib/ld-linux.so.2
[ -e "$loader" ] || exit 0
"$loader" --version >/dev/null 2>&1 && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ! [ -x /usr/bin/qemu-i386-static ]; then
  echo "enable-i386: 32-bit programs do not run here; installing qemu-user-static to run them"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends qemu-user-static
fi
binfmt=/proc/sys/fs/binfmt_misc
[ -e "$binfmt/register" ] || $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
if ! [ -e "$binfmt/qemu-i386" ]; then
  # ELF, 32-bit, little-endian, executable or shared object, machine 3 (i386);
  # F: the kernel keeps the interpreter open, so it works in any mount namespace.
  echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
    $sudo tee "$binfmt/register" >/dev/null
fi
"$loader" --version >/dev/null 2>&1 || { echo "enable-i386: 32-bit programs still do not run" >&2; exit 1; }
