#!/usr/bin/env bash
# A screenshot of the main window monitoring the lab network, for the documentation. Runs
# inside the lab (tools/lab/lab.sh), under its own Xvfb:
#
#   tools/lab/lab.sh --hosts 10.231.0.2-10.231.0.40 -- tools/lab/screenshot.sh docs/screenshot.png
#
# The hosts get office-like names and MAC addresses of well-known makers; after the first
# confirmations some hosts fall silent (down events), one is renamed and one changes its card
# (information events). The picture is taken when those events have happened, then the program
# is asked to exit (SIGTERM) and Xvfb stops. The program runs with a temporary HOME.
set -euo pipefail

out=${1:?usage: screenshot.sh OUTPUT.png [SECONDS]}
seconds=${2:-50}
here=$(cd "$(dirname "$0")" && pwd)
build=${LAB_BUILD:-$(cd "$here/../.." && pwd)/build/default}
program=$build/app/quorvane
sim=${LAB_SIM_INPUT:?run me inside tools/lab/lab.sh}
[ -x "$program" ] || { echo "screenshot: $program not built" >&2; exit 2; }
case $out in /*) ;; *) out=$PWD/$out ;; esac

work=$(mktemp -d)
xvfb_pid= app_pid=
finish() {
  set +e
  [ -n "$app_pid" ] && kill -TERM "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill -TERM "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT

# A free display number: no lock file and no socket.
display=
for n in $(seq 90 199); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "screenshot: no free X display number" >&2; exit 1; }
mkdir -p "$work/fb" "$work/home/.config"
Xvfb ":$display" -screen 0 1440x900x24 -fbdir "$work/fb" -br -nocursor -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X$display" ] || { cat "$work/xvfb.log" >&2; echo "screenshot: Xvfb did not start" >&2; exit 1; }

# Names and makers: Intel, HP, Dell, VMware, Raspberry Pi, Apple, Lenovo prefixes.
names=(ACCOUNTS-PC RECEPTION FILESRV01 PRINT-HUB BUILD-07 LAB-PI-2 DESIGN-MAC HR-LAPTOP SALES-03 SALES-04
       CAD-STATION WAREHOUSE NAS-BACKUP VM-TEST-01 VM-TEST-02 KIOSK-1 MEETING-RM CEO-PC IT-ADMIN DEV-BOX-11)
groups=(OFFICE OFFICE SERVERS OFFICE BUILD LAB DESIGN OFFICE SALES SALES DESIGN OFFICE SERVERS LAB LAB OFFICE OFFICE OFFICE IT IT)
users=(ANNA - - - BUILDER PI MARTA JONAS PETRA OLIVER KARIM - - - - - - MARK ADMIN LUCIA)
ouis=(00:1b:21 3c:d9:2b f0:1f:af 00:50:56 b8:27:eb a4:83:e7 54:ee:75 00:1b:21 3c:d9:2b f0:1f:af 00:1b:21
      54:ee:75 f0:1f:af 00:50:56 00:50:56 b8:27:eb 3c:d9:2b a4:83:e7 00:1b:21 54:ee:75)
{
  for i in "${!names[@]}"; do
    a=10.231.0.$((i + 2))
    echo "host $a ${names[$i]}"
    echo "group $a ${groups[$i]}"
    echo "user $a ${users[$i]}"
    printf 'mac %s %s:%02x:%02x:%02x\n' "$a" "${ouis[$i]}" $((i * 7 % 256)) $((i * 13 % 256)) $((i + 16))
  done
} >"$sim"

# Without a window manager nothing maximises the window: Qt's -geometry gives it the screen, as
# maximising would (the panes keep the sizes of the default window, the bottom row grows).
# Run from the scratch folder, so the log file (a relative path by default) lands there too.
(cd "$work" && exec env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" DISPLAY=":$display" QT_QPA_PLATFORM=xcb \
  "$program" --local-address="${LAB_LOCAL_ADDRESS:-10.231.0.1}" -geometry 1440x900+0+0 >"$work/app.log" 2>&1) &
app_pid=$!

# Let every host be found and confirmed (four answers, three seconds apart), then change things.
sleep 16
{
  echo "silent 10.231.0.9 on"
  echo "silent 10.231.0.16 on"
  echo "silent 10.231.0.30-10.231.0.32 on"
  echo "host 10.231.0.11 SALES-04-NEW"
  echo "user 10.231.0.5 GUEST"
  echo "mac 10.231.0.13 00:1b:21:aa:bb:cc"
} >"$sim"
sleep $((seconds - 16))
kill -0 "$app_pid" 2>/dev/null || { cat "$work/app.log" >&2; echo "screenshot: the program ended early" >&2; exit 1; }
python3 "$here/xwd2png.py" --crop "$work/fb/Xvfb_screen0" "$out"
echo "screenshot: $out"
