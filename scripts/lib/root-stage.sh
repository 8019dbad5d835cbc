# Sourced, from the top of the tree, by the stages that build and test in a root of their own
# (scripts/in-$STAGE_NAME-root.sh): the timed steps of stage.sh, in_root, and stage_done, which
# prints the stage's whole time and exits with its status.
#   STAGE_NAME  arm64 or trixie
# shellcheck shell=bash
export CTEST_OUTPUT_ON_FAILURE=1

# shellcheck source=scripts/lib/stage.sh
source scripts/lib/stage.sh

in_root() { bash "scripts/in-$STAGE_NAME-root.sh" "$@"; }

t_all=$SECONDS
stage_done() {
  echo "-- $STAGE_NAME: $((SECONDS - t_all)) s in all"
  exit "$rc"
}
