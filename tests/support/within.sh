# Sourced by the shell tests.
# within <seconds> <command...>: runs the command every 0.1 s until it succeeds, for at most that long.
within() {
  local seconds=$1 i
  shift
  for ((i = 0; i < seconds * 10; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
