#!/usr/bin/env bash
# How scripts/private-network.sh tells a chroot (which the kernel gives no user namespaces) from a
# machine's own root and a container's, by the mount tables of the process and of PID 1: real
# tables of those roots, cut short.
set -u
# shellcheck source=/dev/null # its functions alone
source "$(dirname "$0")/../scripts/private-network.sh"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failed=0

# expect NAME yes|no SELF PID1: whether chrooted says yes with these tables.
expect() {
    local got=no
    printf '%s\n' "$3" >"$dir/self"
    printf '%s\n' "$4" >"$dir/init"
    if chrooted "$dir/self" "$dir/init"; then
        got=yes
    fi
    if [ "$got" != "$2" ]; then
        echo "FAILED $1: chrooted says $got"
        failed=1
    fi
}

host='27 1 254:0 / / rw,relatime - ext4 /dev/vda rw
22 27 0:21 / /proc rw,relatime - proc proc rw'
expect "the machine's own root" no "$host" "$host"
# Its root folder is no mount: its table has no /.
expect "a chroot into a folder" yes '90 27 0:25 / /proc rw - proc proc rw' "$host
90 27 0:25 / /var/tmp/r/proc rw - proc proc rw"
# The folder bind-mounted on itself first, as schroot does: PID 1 sees that mount elsewhere.
expect "a chroot into a mount" yes '82 27 254:0 /var/tmp/r / rw - ext4 /dev/vda rw
91 82 0:25 / /proc rw - proc proc rw' "$host
82 27 254:0 /var/tmp/r /var/tmp/r rw - ext4 /dev/vda rw
91 82 0:25 / /var/tmp/r/proc rw - proc proc rw"
# pivot_root in a mount namespace of its own, PID 1 either its own or the machine's.
container='82 61 254:0 /var/tmp/r / rw - ext4 /dev/vda rw
83 82 0:26 / /proc rw - proc proc rw'
expect "a container with its own PID 1" no "$container" "$container"
expect "a container with the machine's PID 1" no "$container" "$host"
exit "$failed"
