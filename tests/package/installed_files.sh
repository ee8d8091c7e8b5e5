#!/usr/bin/env bash
# Checks an installed copy (cmake --install into a folder) the way its consumers read it.
# Usage: installed_files.sh install <build folder> <root>
#        installed_files.sh desktop|metainfo|unit|manpages <root> [manual pages...]
#        installed_files.sh rules <root> <unit tests of the rules>
# Exits 77, which CTest counts as skipped, when the check's tool is not installed; under CI=true,
# where every tool is to be there, that fails.
set -u
check=${1:?usage: installed_files.sh <check> ...}
shift

need() {
  command -v "$1" >/dev/null && return
  echo "$1 is not installed ($2)"
  [ "${CI:-}" = "true" ] && exit 1
  exit 77
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
rules)
  # The unit tests name the rules file beside them: they run on a copy of the installed one.
  need promtool prometheus
  rules=$1/usr/share/doc/zqnlistd/examples/zqnlist.rules.yml tests=$2
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  promtool check rules "$rules" || exit 1
  cp "$rules" "$tests" "$work"/ || exit 1
  promtool test rules "$work/${tests##*/}"
  ;;
*)
  echo "unknown check: $check" >&2
  exit 2
  ;;
esac
