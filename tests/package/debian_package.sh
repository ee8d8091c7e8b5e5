#!/usr/bin/env bash
# Builds the Debian packages from a copy of the source tree in a temporary folder (nothing lands
# in the tree), then runs lintian on them: no errors allowed.
# Usage: debian_package.sh <source folder>
set -u
source=${1:?usage: debian_package.sh <source folder>}

for tool in dpkg-buildpackage dh lintian; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/deps --test installs it)"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/zqnlist"
tar -C "$source" --exclude=./.git --exclude=./build --exclude='./build-*' --exclude='./obj-*' --exclude=./.cache -cf - . |
  tar -C "$work/zqnlist" -xf - || exit 1

# Two cores are shared with others: never more than two compile jobs.
if ! (cd "$work/zqnlist" && DEB_BUILD_OPTIONS=parallel=2 dpkg-buildpackage -us -uc -b) >"$work/build.log" 2>&1; then
  tail -n 60 "$work/build.log"
  echo "FAILED: dpkg-buildpackage"
  exit 1
fi

changes=$(ls "$work"/zqnlist_*.changes)
failed=0
lintian=(lintian --fail-on error)
[ "$(id -u)" -eq 0 ] && lintian+=(--allow-root)
"${lintian[@]}" "$changes" || failed=1

# Each package holds its own part.
expect() {
  local deb=$1 path=$2
  if ! dpkg-deb -c "$work"/"$deb"_*.deb | grep " \./$path\$" >/dev/null; then
    echo "FAILED: $deb lacks /$path"
    failed=1
  fi
}
expect zqnlist usr/bin/zqnlist
expect zqnlist usr/share/applications/io.github.zqnlist.ZqnList.desktop
expect zqnlist usr/share/icons/hicolor/scalable/apps/io.github.zqnlist.ZqnList.svg
expect zqnlistd usr/bin/zqnlistd
expect zqnlistd lib/systemd/system/zqnlistd.service
expect zqnlistd etc/zqnlist/zqnlist.Ini
if ! dpkg-deb -I "$work"/zqnlistd_*.deb conffiles | grep -qx /etc/zqnlist/zqnlist.Ini; then
  echo "FAILED: the service's settings are no conffile"
  failed=1
fi
if ! dpkg-deb -I "$work"/zqnlistd_*.deb postrm | grep -q 'rm -rf /var/lib/private/zqnlist'; then
  echo "FAILED: purging the service would leave its state folder"
  failed=1
fi

for deb in "$work"/*.deb; do
  echo "$(basename "$deb"): $(stat -c %s "$deb") bytes, Installed-Size $(dpkg-deb -f "$deb" Installed-Size) KiB"
done
[ "$failed" -eq 0 ]
