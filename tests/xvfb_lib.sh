# shellcheck shell=sh disable=SC2034
# A private X server for a window check, sourced by the scripts that drive a window (POSIX sh).
#
# The display is the one Xvfb finds free and names on a pipe once it takes clients (-displayfd): a
# number guessed from /tmp/.X*-lock or socket files can be handed to two checks at once, and a server
# started with -displayfd leaves no lock file for such a guess to see. The server keeps that display
# until it is killed.
#
# -noreset: by default the server resets once its last client has gone, and the reset closes every
# connection it has accepted by then, finished or not. A check that starts its next program as the
# last one ends has that program's connection accepted before the server has noticed the old one gone,
# and the program fails with "Can't open display" (seen on a loaded machine between two steps).

# xvfb_start LOG: exports DISPLAY and sets xvfb_pid; false (LOG says why) when Xvfb ended before it
# named a display. Xvfb's own messages go to LOG.
xvfb_start() {
  xvfb_dir=$(mktemp -d) || return 1
  mkfifo "$xvfb_dir/display" || return 1
  Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$xvfb_dir/display" 2>"$1" &
  xvfb_pid=$!
  # Xvfb closes the pipe when it dies before writing: the read then ends empty.
  xvfb_number=
  read -r xvfb_number <"$xvfb_dir/display" || true
  rm -rf "$xvfb_dir"
  [ -n "$xvfb_number" ] || return 1
  DISPLAY=":$xvfb_number"
  export DISPLAY
}
