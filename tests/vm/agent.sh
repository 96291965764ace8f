#!/bin/sh
# Runs inside the virtual machine, in the host's root: loads the USB serial drivers, starts udev
# so that /dev/serial/by-id and the dialout group appear as on a desktop, then runs the commands
# the host drops into the share (cmd/N.sh), one at a time, writing N.out and then N.rc.
share=$(dirname "$0")
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp/home
mkdir -p "$HOME"

modprobe -d "$vmcache" -S "$vmkernel" -a xhci_pci ftdi_sio
/lib/systemd/systemd-udevd --daemon >/dev/null 2>&1
udevadm trigger --action=add
udevadm settle --timeout=30
echo ready >"$share/ready"

next=1
while :; do
  command=$share/cmd/$next.sh
  if [ -f "$command" ]; then
    # A command that hangs (a port that blocks its opener) must not stop the ones after it.
    timeout 60 sh "$command" >"$share/cmd/$next.out" 2>&1
    echo $? >"$share/cmd/$next.rc.new"
    mv "$share/cmd/$next.rc.new" "$share/cmd/$next.rc"
    next=$((next + 1))
  else
    sleep 0.1
  fi
done
