#!/bin/busybox sh
# The virtual machine's first process, from its initramfs: mounts the host's root (read-only)
# and the rig's share over 9p, gives the host's root the writable places a running system needs,
# and hands over to the agent inside it. The kernel passes vmshare, vmcache and vmkernel (see
# tests/vm/machine.sh) as environment variables.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in $(cat /modules.order); do
  insmod "/modules/$module" || echo "init: insmod $module failed"
done

options=trans=virtio,version=9p2000.L,msize=262144
mkdir -p /host
mount -t 9p -o "$options,ro" host /host || { echo "init: no host root"; poweroff -f; }
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t devtmpfs devtmpfs /host/dev
mkdir -p /host/dev/pts
mount -t devpts devpts /host/dev/pts
for place in run tmp var/tmp; do
  mount -t tmpfs tmpfs "/host/$place"
done
# The share may lie below one of those tmpfs, where its folder has to be made again.
mkdir -p "/host$vmshare"
mount -t 9p -o "$options" share "/host$vmshare" || { echo "init: no share"; poweroff -f; }

exec chroot /host /bin/sh "$vmshare/agent.sh"
