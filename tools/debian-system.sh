# Sourced by the scripts that try the Debian package on a freshly installed system
# (tests/package_test.sh): a minimal Debian of the host's own release, made once with
# debootstrap and kept in ${XDG_CACHE_HOME:-~/.cache}/varnoth, is copied into a throwaway
# folder, $system, with /proc and /dev/pts mounted. in_system runs a command there as root;
# $system_log is a file for what it prints. When the script exits the copy goes; apt's
# package lists and the packages it fetched stay in the cache for the next run.
# Needs root (or sudo) and Debian's archive, as apt-get on the host reaches it.

release=$(. /etc/os-release && echo "$VERSION_CODENAME")
cache=${XDG_CACHE_HOME:-$HOME/.cache}/varnoth/debian-$release-$(dpkg --print-architecture)
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
# Beside the cache, so that apt's lists and packages come in and go back as hard links.
"${as_root[@]}" mkdir -p "$cache"
system=$("${as_root[@]}" mktemp -d "$(dirname "$cache")/run-XXXXXX")
system_log=$system.log
lists=var/lib/apt/lists
archives=var/cache/apt/archives

in_system() { "${as_root[@]}" chroot "$system" "$@"; }

end_debian_system() {
  set +e
  local mounted
  for mounted in dev/pts proc; do
    ! mountpoint -q "$system/$mounted" || "${as_root[@]}" umount "$system/$mounted"
  done
  "${as_root[@]}" flock "$cache/lock" bash -c 'cp -al --remove-destination "$1/$2/." "$3/lists" &&
    cp -al --remove-destination "$1/$4/." "$3/archives"' keep "$system" $lists "$cache" $archives 2>/dev/null
  "${as_root[@]}" rm -rf --one-file-system "$system" "$system_log"
}
trap end_debian_system EXIT

# Several test runs on one machine share the cache: one makes it, the others wait.
"${as_root[@]}" flock "$cache/lock" bash -euo pipefail -c '
  cache=$1 release=$2 system=$3 lists=$4 archives=$5
  if [ ! -f "$cache/complete" ]; then
    rm -rf "$cache/system" "$cache/lists" "$cache/archives"
    # The archive as apt on the host reaches it, for the host release.
    mirror=$(apt-get indextargets --format "\$(REPO_URI) \$(RELEASE)" |
      awk -v release="$release" "\$2 == release { print \$1; exit }")
    [ -n "$mirror" ] || { echo "apt on this machine knows no archive for $release" >&2; exit 1; }
    # man-db: the manual pages are part of what a user of the package reads.
    debootstrap --variant=minbase --include=man-db "$release" "$cache/system" "$mirror" \
      >"$cache/debootstrap.log" 2>&1 || { cat "$cache/debootstrap.log" >&2; exit 1; }
    # The same sources as the host, updates included, so that the packages built against
    # them install.
    rm -f "$cache/system/etc/apt/sources.list" "$cache/system/$archives"/*.deb
    cp /etc/apt/sources.list.d/*.sources "$cache/system/etc/apt/sources.list.d/" 2>/dev/null || true
    [ ! -f /etc/apt/sources.list ] || cp /etc/apt/sources.list "$cache/system/etc/apt/"
    mv "$cache/system/$lists" "$cache/lists"
    mv "$cache/system/$archives" "$cache/archives"
    touch "$cache/complete"
  fi
  cp -a "$cache/system/." "$system"
  cp -al "$cache/lists" "$system/$lists"
  cp -al "$cache/archives" "$system/$archives"
' debian-system "$cache" "$release" "$system" "$lists" "$archives"
"${as_root[@]}" cp /etc/resolv.conf "$system/etc/resolv.conf"
"${as_root[@]}" mount -t proc proc "$system/proc"
# apt keeps a log of each install on a pseudo-terminal.
"${as_root[@]}" mount --bind /dev/pts "$system/dev/pts"
