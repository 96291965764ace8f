# Sourced by the tests that need real kernel serial drivers: a QEMU virtual machine running
# Debian's own kernel, with two FTDI USB serial adapters (ftdi_sio) and 16550 UARTs (8250), the
# simulated device behind each adapter and behind the first UART, and the host's root as its
# root, so that the programs under test run there exactly as built.
#
#   vm_start                 boots the machine; the devices are up and udev has named them
#   guest SCRIPT             runs shell text in the machine as root; its output, its status
#   unplug NAME / plug NAME  pulls an adapter out of the machine, or puts it back
#   host_pty NAME            the host side of a device's line, for reading what the guest set
#   record NAME              the file holding every byte the device NAME received
#
# The devices, by NAME:
#   silent  adapter with USB serial number A1: answers program lines, never the identification
#   talker  adapter with USB serial number B2, plugged in before `silent`, so the kernel names it
#           ttyUSB0 while by-id order puts it second
#   uart    the first 16550 (ttyS0)
# The second 16550 (ttyS1) carries the machine's console and has no device behind it; ttyS2 and
# ttyS3 have no chip at all.
#
# The kernel comes from Debian's archive (the package linux-image-amd64 names), unpacked into
# $VARNOTH_VM_CACHE (default ~/.cache/varnoth/vm), not installed. Expects $work, a throwaway
# folder, and $simdevice, the simulated device; the processes are those of a session of
# tools/script-session.sh. VARNOTH_KEEP_VM_WORK=1 keeps $work for a look.

vm_cache=${VARNOTH_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/varnoth/vm}
share=$work/share
keep_work=${VARNOTH_KEEP_VM_WORK:-}
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/script-session.sh"

# Debian's current kernel with a modules.dep for modprobe, once per kernel version.
vm_kernel() {
  vm_version=$(apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: linux-image-//p' | head -n 1)
  [ -n "$vm_version" ] || { echo "apt-cache does not know linux-image-amd64" >&2; return 1; }
  vm_tree=$vm_cache/$vm_version
  [ -f "$vm_tree/ready" ] && return 0
  rm -rf "$vm_tree" && mkdir -p "$vm_tree"
  (cd "$vm_tree" && apt-get download -q "linux-image-$vm_version" >/dev/null 2>&1) &&
    dpkg -x "$vm_tree"/linux-image-*.deb "$vm_tree" && rm "$vm_tree"/linux-image-*.deb &&
    depmod -b "$vm_tree" "$vm_version" && touch "$vm_tree/ready"
}

# Busybox and what it takes to reach the host's root: virtio and 9p. The USB drivers are
# loaded later, by the agent, from the host's root.
vm_initramfs() {
  local root=$work/initramfs module
  mkdir -p "$root"/{bin,dev,proc,sys,modules}
  cp /bin/busybox "$root/bin/busybox"
  install -m 755 "$(dirname "${BASH_SOURCE[0]}")/init.sh" "$root/init"
  for module in virtio_pci 9pnet_virtio 9p; do
    modprobe -d "$vm_tree" -S "$vm_version" --show-depends "$module" | sed -n 's/^insmod //p'
  done | awk '!seen[$1]++' | while read -r module; do
    cp "$module" "$root/modules/" && basename "$module"
  done >"$root/modules.order"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"
}

vm_device() { # NAME OPTIONS...
  local name=$1
  shift
  "$simdevice" --link "$work/$name" --record "$work/$name.bin" "$@" >"$work/$name.log" 2>&1 &
  session_pids+=($!)
  wait_for "grep -q '^ready' '$work/$name.log' 2>/dev/null" 30 || { echo "device $name did not start" >&2; return 1; }
}

declare -A vm_serial=([silent]=A1 [talker]=B2)
adapter_options() { echo "usb-serial,chardev=$1,serial=${vm_serial[$1]},id=$1"; }

vm_start() {
  mkdir -p "$share/cmd"
  cp "$(dirname "${BASH_SOURCE[0]}")/agent.sh" "$share/agent.sh"
  vm_kernel && vm_initramfs || return 1
  vm_device silent --id none && vm_device talker && vm_device uart || return 1
  # TCG: a guest hung at boot under KVM on these machines, and TCG boots in seconds.
  qemu-system-x86_64 -accel tcg -m 1024 -nodefaults -display none -no-reboot \
    -kernel "$vm_tree/boot/vmlinuz-$vm_version" -initrd "$work/initramfs.gz" \
    -append "console=ttyS1 panic=-1 vmshare=$share vmcache=$vm_tree vmkernel=$vm_version" \
    -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on \
    -virtfs local,path="$share",mount_tag=share,security_model=none \
    -chardev serial,id=uart,path="$work/uart" -serial chardev:uart \
    -serial file:"$work/console.log" \
    -device qemu-xhci,id=xhci \
    -chardev serial,id=talker,path="$work/talker" -device "$(adapter_options talker)" \
    -chardev serial,id=silent,path="$work/silent" -device "$(adapter_options silent)" \
    -monitor unix:"$work/monitor",server=on,wait=off >"$work/qemu.log" 2>&1 &
  session_pids+=($!)
  vm_qemu=$!
  wait_for '[ -f "$share/ready" ] || ! kill -0 $vm_qemu 2>/dev/null' 180
  [ -f "$share/ready" ] || {
    echo "the virtual machine did not come up" >&2
    tail -n 30 "$work/qemu.log" "$work/console.log" >&2
    return 1
  }
}

guest() { # SCRIPT
  # Numbered by the commands already given: callers often run this in a subshell.
  local base=$share/cmd/$(($(find "$share/cmd" -name '*.sh' | wc -l) + 1))
  printf '%s\n' "$1" >"$base.new" && mv "$base.new" "$base.sh"
  wait_for '[ -f "$base.rc" ]' 120 || { echo "the machine did not run: $1" >&2; return 99; }
  cat "$base.out"
  return "$(cat "$base.rc")"
}

monitor() { # COMMAND
  /usr/bin/python3 - "$work/monitor" "$1" <<'EOF'
import socket, sys
connection = socket.socket(socket.AF_UNIX)
connection.settimeout(10)
connection.connect(sys.argv[1])
def until_prompt():
    text = b""
    while not text.endswith(b"(qemu) "):
        text += connection.recv(4096)
    return text
until_prompt()
connection.sendall(sys.argv[2].encode() + b"\n")
print(until_prompt().decode(errors="replace"))
EOF
}
unplug() { monitor "device_del $1" >/dev/null; }
# The adapter's removal ends a moment after device_del, and until then its id and its line
# are taken; once added, it is plugged in when udev has named it, in the machine's own time.
plug() {
  local tries answer link=/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_${vm_serial[$1]}-if00-port0
  for tries in $(seq 100); do
    answer=$(monitor "device_add $(adapter_options "$1")")
    grep -qiE "error|duplicate|in use|can't|cannot|failed" <<<"$answer" || break
    sleep 0.1
  done
  guest "for i in \$(seq 300); do [ -e $link ] && exec udevadm settle; sleep 0.1; done; exit 1" ||
    { echo "adapter $1 could not be plugged in again: $answer" >&2; return 1; }
}

host_pty() { readlink -f "$work/$1"; }
record() { echo "$work/$1.bin"; }
