#!/usr/bin/env bash
# Checks an installed copy (cmake --install into a folder) the way its consumers read it.
# Usage: installed_files.sh install <build folder> <root>
#        installed_files.sh desktop|metainfo|unit|manpages <root> [manual pages...]
# Exits 77, which CTest counts as skipped, when the check's tool is not installed.
set -u
check=${1:?usage: installed_files.sh <check> ...}
shift

need() {
  command -v "$1" >/dev/null || { echo "$1 is not installed ($2)"; exit 77; }
}

# Runs a validator that must succeed and say nothing at all: some only warn, with status 0.
silent() {
  local output
  output=$("$@" 2>&1)
  local status=$?
  [ -n "$output" ] && printf '%s\n' "$output"
  [ "$status" -eq 0 ] && [ -z "$output" ]
}

case $check in
install)
  build=$1 root=$2
  rm -rf "$root"
  DESTDIR=$root cmake --install "$build" --prefix /usr
  ;;
desktop)
  need desktop-file-validate desktop-file-utils
  silent desktop-file-validate "$1"/usr/share/applications/io.github.zqnlist.ZqnList.desktop
  ;;
metainfo)
  # Notes fail too (a missing content rating is only one); pedantic ones, such as the capital
  # letters of the reverse-DNS id, are not shown.
  need appstreamcli appstream
  output=$(appstreamcli validate --no-net "$1"/usr/share/metainfo/io.github.zqnlist.ZqnList.metainfo.xml 2>&1)
  status=$?
  printf '%s\n' "$output"
  [ "$status" -eq 0 ] && ! grep -q '^[IWE]: ' <<<"$output"
  ;;
unit)
  # The unit names /usr/bin/zqnlistd; verify a copy that names the one in the root instead, and
  # find its Documentation= page there too.
  need systemd-analyze systemd
  root=$1
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  sed "s|^ExecStart=/|ExecStart=$root/|" "$root"/usr/lib/systemd/system/zqnlistd.service >"$work/zqnlistd.service" || exit 1
  MANPATH=$root/usr/share/man silent systemd-analyze verify "$work/zqnlistd.service" || exit 1
  # The sandbox: an exposure of 1.5 at most (15 on the threshold's scale of 100).
  systemd-analyze security --offline=yes --threshold=15 "$work/zqnlistd.service" | tail -n 1
  exit "${PIPESTATUS[0]}"
  ;;
manpages)
  need man man-db
  root=$1
  shift
  failed=0
  for page in "$@"; do
    file=$root/usr/share/man/man${page##*.}/$page
    if ! warnings=$(man --warnings -E UTF-8 -l "$file" 2>&1 >/dev/null) || [ -n "$warnings" ]; then
      echo "FAILED: $page ${warnings:-(cannot be read)}"
      failed=1
    fi
  done
  exit $failed
  ;;
*)
  echo "unknown check: $check" >&2
  exit 2
  ;;
esac
