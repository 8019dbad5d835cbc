# Sourced by the stage scripts: timed steps and the Debian packages a step needs.
#   STAGE_NAME  the prefix of each step's lines ("arm64", "windows", ...)
# A step's failure sets rc=1 and the script goes on; the caller exits with $rc.
rc=0

# CPU seconds used by finished child processes so far; beside the wall time it tells a busy machine
# from a slow step.
cpu_seconds() {
  local st
  read -r -a st </proc/$$/stat
  echo $(((st[15] + st[16]) / $(getconf CLK_TCK)))
}

step() {
  local name=$1
  shift
  local t0=$SECONDS c0
  c0=$(cpu_seconds)
  echo "-- $STAGE_NAME: $name"
  if "$@"; then
    echo "-- $STAGE_NAME: $name: passed in $((SECONDS - t0)) s ($(($(cpu_seconds) - c0)) s of CPU)"
  else
    echo "-- $STAGE_NAME: $name: FAILED after $((SECONDS - t0)) s ($(($(cpu_seconds) - c0)) s of CPU)"
    rc=1
  fi
}

# Installs those of the named Debian packages that are missing (root, or sudo).
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update >/dev/null &&
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
}
