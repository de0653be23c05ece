#!/bin/sh
# Run by install_test.sh inside the throw-away root as a new user: starts
# Corvalin as the desktop entry says, on a virtual display without a window
# manager, and presses the sample button, "Next >" and "Start Appending"
# where the windows' design puts them. Prints what showed.
set -eu
Xvfb :7 -screen 0 1024x768x24 -dpi 96 -nolisten tcp >/tmp/xvfb.log 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=:7
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.2; done

command=$(sed -n 's/^Exec=//p' /usr/share/applications/corvalin.desktop)
echo "desktop entry: Exec=$command"
sh -c "exec $command" >/tmp/corvalin.log 2>&1 &
program=$!

# The visible top-level windows named $1, one id a line.
windows() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null || true; }
wait_for() {
  for _ in $(seq 100); do
    ids=$(windows "$1")
    [ -n "$ids" ] && { echo "$ids"; return 0; }
    sleep 0.2
  done
  return 1
}
# Clicks the point (x, y) of a window, in pixels from its top-left corner.
click() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $((X + $2)) $((Y + $3)) click 1
  sleep 0.5
}

form1=$(wait_for Corvalin) || { echo "no window"; cat /tmp/corvalin.log; exit 1; }
echo "window: $(xwininfo -id "$form1" | sed -n 's/.*"\(.*\)"$/\1/p;s/.*Width: //p;s/.*Height: //p' | tr '\n' ' ')"
[ -e "$HOME/.config/Varnholt/Corvalin.ini" ] && echo "settings before the first change!"
click "$form1" 136 214   # "Load Sample/Example Database" (120, 3020 twips, 3840 x 405)
click "$form1" 400 214   # "Next >" (4080, 3020 twips)
sleep 1
form2=$(wait_for Corvalin) || { echo "no second page"; exit 1; }
echo "second page: $form2"
click "$form2" 268 243   # "Start Appending" (120, 3450 twips, 7800 x 405)
for _ in $(seq 100); do
  box=$(windows Corvalin | grep -v -x "$form2" || true)
  [ -n "$box" ] && break
  [ -n "$(windows 'Application Error')" ] && break
  sleep 0.2
done
import -window root /tmp/done.png 2>/dev/null || true
[ -n "$(windows 'Application Error')" ] && echo "ERROR BOX"
if [ -n "$box" ]; then
  for id in $box; do
    echo "DONE BOX $(xwininfo -id "$id" | sed -n 's/.*"\(.*\)"$/\1/p;s/.*Width: //p;s/.*Height: //p' | tr '\n' ' ')"
  done
fi
kill $program 2>/dev/null || true
wait $program 2>/dev/null || true
