#!/usr/bin/env bash
# The Linux/Wine test rig for the Windows program.
#
#   scripts/rig.sh up STATEDIR     bring the rig up, write STATEDIR/rig.env
#   scripts/rig.sh down STATEDIR   stop what "up" started for STATEDIR
#   scripts/rig.sh dpi STATEDIR N  set the display scale of the rig's prefix to
#                                  N DPI (96, 144, 192) and restart its server
#
# Up installs what is missing, builds the native helpers (the virtual
# null-modem cables and the pty modem-line shim) into STATEDIR, creates or
# reuses a Wine prefix (TAV_WINEPREFIX, default build/wineprefix), starts
# Xvfb on a free display when DISPLAY is unset or TAV_HEADLESS=1, plugs in
# three cables and maps their ends as COM ports of the prefix:
#
#   cable A: COM5  (the program's side)  <->  COM6  (the simulated reader)
#   cable B: COM40 (the program's side)  <->  COM41 (the simulated reader)
#   cable C: COM21 (the program's side)  <->  COM22 (the simulated reader)
#
# Cable B's ports lie above COM32, as an adapter's do on a bench PC that
# has seen many. Cable C's ports have their dosdevices links but are not
# announced: a test plugs one in while a program runs by adding its value
# under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (\Device\TavLive0 = COM21),
# which with the link is what Wine's mount manager makes for a new port
# (Wine sends no WM_DEVICECHANGE for it).
#
# and starts a persistent wineserver. `source STATEDIR/rig.env` then gives
# the environment for Wine programs (see the end of "up" for its list).
#
# The pages' template font 微软雅黑 is mapped to a font built from WenQuanYi
# Micro Hei with Windows' metrics (scripts/rig_font.py), so that dialogs
# have the base units of Windows: 8 x 19 at 96 DPI. The display scale is
# TAV_RIG_DPI (default 96; Windows' LogPixels).
#
# Cables are unplugged and replugged through the control file
# STATEDIR/ctl (TAV_RIG_CTL holds its Windows path under drive Z:); the
# protocol is described in sim/rig_control.h. From a shell:
#   printf 'unplug A\n' > STATEDIR/ctl; cat STATEDIR/ctl.status
#
# Several rigs may run at once, each with its own STATEDIR and its own
# prefix; a prefix in use by a live rig is refused.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

die() { echo "rig: $*" >&2; exit 1; }
log() { echo "rig: $*" >&2; }

usage() { echo "usage: $0 up|down STATEDIR, or $0 dpi STATEDIR N" >&2; exit 2; }
[ $# -eq 2 ] || [ $# -eq 3 ] || usage
ACTION=$1
mkdir -p "$2"
STATE=$(cd "$2" && pwd)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# Installs the packages whose commands are missing. Serialised between
# rigs coming up at the same time.
ensure_packages() {
  exec 9>/tmp/tav-rig-setup.lock
  flock 9
  local missing=() pkg
  for pkg in gcc libc6-dev wine wine64 xvfb x11-utils locales fonts-wqy-microhei fonts-wine python3-fonttools; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
  if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    log "generating the zh_CN.UTF-8 locale"
    as_root sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
  fi
  flock -u 9
  exec 9>&-
}

# Rebuilds a helper when its source is newer than the binary.
build_helper() {  # output source extra-flags...
  local out=$1 src=$2; shift 2
  if [ ! -x "$out" ] || [ "$src" -nt "$out" ]; then
    gcc -O2 -Wall -o "$out.new" "$src" "$@"
    mv -f "$out.new" "$out"
  fi
}

alive() { [ -n "${1:-}" ] && kill -0 "$1" 2>/dev/null; }

pid_of() { [ -f "$STATE/$1.pid" ] && cat "$STATE/$1.pid" || true; }

# TAV_RIG_SCREEN (WIDTHxHEIGHT), else 1280 x 1024 at 100 % and as much
# larger at another scale, as a laptop at that scale has, so that the
# grown window fits on it. Switching a live rig to 200 % needs 2560x2048.
start_xvfb() {
  local n pid dpi=${TAV_RIG_DPI:-96}
  local SCREEN=${TAV_RIG_SCREEN:-"$((1280 * dpi / 96))x$((1024 * dpi / 96))"}
  for n in $(seq 99 160); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    # Its own session: a signal to the caller's process group must not end it.
    setsid Xvfb ":$n" -screen 0 "$SCREEN"x24 -nolisten tcp >"$STATE/xvfb.log" 2>&1 </dev/null &
    pid=$!
    # Another rig may have taken the number meanwhile: Xvfb then exits.
    for _ in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && alive "$pid" && break
      alive "$pid" || break
      sleep 0.1
    done
    if alive "$pid" && [ -e "/tmp/.X11-unix/X$n" ]; then
      echo "$pid" >"$STATE/xvfb.pid"
      echo ":$n" >"$STATE/display"
      RIG_DISPLAY=":$n"
      return 0
    fi
  done
  die "no free X display found for Xvfb"
}

# Windows path of a Linux path, through drive Z:.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

start_server() {
  wineserver -p </dev/null >/dev/null 2>&1
  # The first program of a new server starts Wine's services, and the first
  # one touching the desktop starts explorer; both stay and inherit that
  # program's output. Let that be this one, not a test whose runner would
  # then wait for the output to close.
  wine rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
}

# The font with Windows' metrics, built once per prefix (again when its
# script changes), and 微软雅黑 mapped to it.
install_template_font() {
  local font="$WINEPREFIX/drive_c/windows/Fonts/tav-rig-hei.ttf"
  [ -f "$font" ] && [ "$font" -nt "$ROOT/scripts/rig_font.py" ] && return 0
  log "building the template font"
  /usr/bin/python3 "$ROOT/scripts/rig_font.py" "$font.new" || die "could not build the template font"
  mv -f "$font.new" "$font"
  local name
  for name in 微软雅黑 'Microsoft YaHei'; do
    LC_ALL=zh_CN.UTF-8 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$name" /t REG_SZ \
      /d 'Tav Rig Hei' /f >/dev/null 2>&1 || die "could not map $name"
  done
  wineserver -k || true
  wineserver -w || true
}

# LogPixels of the prefix; Wine reads it when its server starts.
set_dpi() {
  [ "$(cat "$WINEPREFIX/.tav-rig-dpi" 2>/dev/null)" = "$1" ] && return 0
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1 ||
    die "could not set LogPixels"
  wineserver -k || true
  wineserver -w || true
  echo "$1" >"$WINEPREFIX/.tav-rig-dpi"
}

# Cable C's links, made once the mount manager has made its own (it runs
# when a server starts): present, not announced.
link_unannounced() {
  ln -sfn "$STATE/com21" "$WINEPREFIX/dosdevices/com21"
  ln -sfn "$STATE/com22" "$WINEPREFIX/dosdevices/com22"
}

rig_dpi() {  # N: the live rig of STATEDIR at N DPI
  [ -f "$STATE/rig.env" ] || die "no rig in $STATE"
  # shellcheck disable=SC1091
  source "$STATE/rig.env"
  set_dpi "$1"
  start_server
  link_unannounced
  log "display scale $1 DPI"
}

rig_up() {
  [ -f "$STATE/rig.env" ] && alive "$(pid_of cable)" && { log "already up ($STATE)"; return 0; }
  ensure_packages

  build_helper "$STATE/tav-cable" "$ROOT/sim/cable.c"
  # The shim for 64-bit Wine processes and, where gcc can build 32-bit code,
  # for 32-bit ones: LD_PRELOAD names it through ld.so's $LIB.
  mkdir -p "$STATE/lib/x86_64-linux-gnu" "$STATE/lib/i386-linux-gnu"
  build_helper "$STATE/lib/x86_64-linux-gnu/libtavptyshim.so" "$ROOT/sim/pty_shim.c" -shared -fPIC -ldl
  if echo 'int main(void){return 0;}' | gcc -m32 -x c -o /dev/null - 2>/dev/null; then
    build_helper "$STATE/lib/i386-linux-gnu/libtavptyshim.so" "$ROOT/sim/pty_shim.c" -m32 -shared -fPIC -ldl
  fi

  export WINEPREFIX=${TAV_WINEPREFIX:-$ROOT/build/wineprefix}
  mkdir -p "$(dirname "$WINEPREFIX")"
  WINEPREFIX=$(cd "$(dirname "$WINEPREFIX")" && pwd)/$(basename "$WINEPREFIX")
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  local owner="$WINEPREFIX.rig-owner"
  if [ -f "$owner" ]; then
    local other otherpid
    read -r other otherpid <"$owner" || true
    if [ "$other" != "$STATE" ] && alive "$otherpid"; then
      die "prefix $WINEPREFIX is in use by the rig in $other; set TAV_WINEPREFIX to another folder"
    fi
  fi

  if [ -z "${DISPLAY:-}" ] || [ "${TAV_HEADLESS:-0}" = 1 ]; then
    start_xvfb
  else
    RIG_DISPLAY=$DISPLAY
    rm -f "$STATE/xvfb.pid"
  fi
  export DISPLAY=$RIG_DISPLAY

  # The cables. Links live in STATEDIR; the COM ports point at the links,
  # so a replugged cable (new ptys) is found under the same names.
  rm -f "$STATE/ctl" "$STATE/ctl.status"
  local a_app="$STATE/com5" a_sim="$STATE/com6" b_app="$STATE/com40" b_sim="$STATE/com41"
  local c_app="$STATE/com21" c_sim="$STATE/com22"   # see link_unannounced
  setsid "$STATE/tav-cable" "$STATE/ctl" A "$a_app" "$a_sim" B "$b_app" "$b_sim" C "$c_app" "$c_sim" \
    >"$STATE/cable.log" 2>&1 </dev/null &
  echo $! >"$STATE/cable.pid"
  for _ in $(seq 1 100); do [ -f "$STATE/ctl.status" ] && break; sleep 0.05; done
  [ -f "$STATE/ctl.status" ] || die "the cable program did not start (see $STATE/cable.log)"
  echo "$STATE $(pid_of cable)" >"$owner"

  export LD_PRELOAD="$STATE/\$LIB/libtavptyshim.so"
  # A prefix made before wine32 was installed (or removed) fails every
  # program with "could not load kernel32.dll": it is made again.
  local arches=win64
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' && arches=win64+win32
  if [ -f "$WINEPREFIX/system.reg" ] && [ "$(cat "$WINEPREFIX/.tav-wine-arches" 2>/dev/null || echo "$arches")" != "$arches" ]; then
    log "the Wine prefix $WINEPREFIX was made for other Wine packages: making it again"
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "creating the Wine prefix $WINEPREFIX"
    wineboot -i >"$STATE/wineboot.log" 2>&1 || die "wineboot failed (see $STATE/wineboot.log)"
    wineserver -w
  fi
  echo "$arches" >"$WINEPREFIX/.tav-wine-arches"

  # Map the COM ports: the registry for Wine's mount manager, and the
  # dosdevices links it would create from it. The server is restarted only
  # when the mapping changed, so the mount manager reads it again.
  local mapping="COM5=$a_app COM6=$a_sim COM40=$b_app COM41=$b_sim"
  if [ "$(cat "$WINEPREFIX/.tav-rig-ports" 2>/dev/null)" != "$mapping" ]; then
    local reg="$STATE/ports.reg" m
    for m in $(cat "$WINEPREFIX/.tav-rig-ports" 2>/dev/null); do
      rm -f "$WINEPREFIX/dosdevices/$(echo "${m%%=*}" | tr 'A-Z' 'a-z')"
    done
    # The key is made anew: ports of an earlier mapping would stay listed.
    {
      printf 'REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n\n'
      printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
      for m in $mapping; do printf '"%s"="%s"\n' "${m%%=*}" "${m#*=}"; done
    } >"$reg"
    wine regedit /S "$(winpath "$reg")" >/dev/null 2>&1 || die "could not write the port mapping"
    wineserver -k || true
    wineserver -w || true
    echo "$mapping" >"$WINEPREFIX/.tav-rig-ports"
  fi
  for m in $mapping; do
    local name; name=$(echo "${m%%=*}" | tr 'A-Z' 'a-z')
    ln -sfn "${m#*=}" "$WINEPREFIX/dosdevices/$name"
  done
  install_template_font
  set_dpi "${TAV_RIG_DPI:-96}"

  start_server
  # The first program of a new server starts Wine's services, and the first
  # one touching the desktop starts explorer; both stay and inherit that
  # program's output. Let that be this one, not a test whose runner would
  # then wait for the output to close.
  wine rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
  echo "$WINEPREFIX" >"$STATE/wineserver.prefix"
  link_unannounced

  cat >"$STATE/rig.env" <<EOF
# Written by scripts/rig.sh up; source it before running Wine programs.
export WINEPREFIX='$WINEPREFIX'
export WINEDEBUG='-all'
export WINEDLLOVERRIDES='mscoree,mshtml='
export DISPLAY='$RIG_DISPLAY'
export LD_PRELOAD='$STATE/\$LIB/libtavptyshim.so'
export LC_ALL='zh_CN.UTF-8'
export TAV_APP_PORT='COM5'
export TAV_SIM_PORT='COM6'
export TAV_APP_PORT_HIGH='COM40'
export TAV_SIM_PORT_HIGH='COM41'
export TAV_APP_PORT_LIVE='COM21'
export TAV_SIM_PORT_LIVE='COM22'
export TAV_APP_TTY='$a_app'
export TAV_SIM_TTY='$a_sim'
export TAV_APP_TTY_HIGH='$b_app'
export TAV_SIM_TTY_HIGH='$b_sim'
export TAV_APP_TTY_LIVE='$c_app'
export TAV_SIM_TTY_LIVE='$c_sim'
export TAV_RIG_CTL='$(winpath "$STATE/ctl")'
export TAV_RIG_CTL_LINUX='$STATE/ctl'
export TAV_RIG_STATE='$STATE'
EOF
  log "up: display $RIG_DISPLAY, prefix $WINEPREFIX, COM5<->COM6, COM40<->COM41, COM21<->COM22 (not announced); source $STATE/rig.env"
}

rig_down() {
  local pid prefix
  pid=$(pid_of cable)
  if alive "$pid"; then
    kill -TERM "$pid"
    for _ in $(seq 1 50); do alive "$pid" || break; sleep 0.05; done
  fi
  rm -f "$STATE/cable.pid"
  if [ -f "$STATE/wineserver.prefix" ]; then
    prefix=$(cat "$STATE/wineserver.prefix")
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    if [ -f "$prefix.rig-owner" ] && [ "$(cut -d' ' -f1 "$prefix.rig-owner")" = "$STATE" ]; then
      rm -f "$prefix.rig-owner"
    fi
    rm -f "$STATE/wineserver.prefix"
  fi
  pid=$(pid_of xvfb)
  if alive "$pid"; then
    kill -TERM "$pid"
    for _ in $(seq 1 50); do alive "$pid" || break; sleep 0.05; done
  fi
  rm -f "$STATE/xvfb.pid" "$STATE/rig.env"
  log "down ($STATE)"
}

case $ACTION in
  up) rig_up ;;
  dpi) [ $# -eq 3 ] || usage; rig_dpi "$3" ;;
  down) rig_down ;;
  *) usage ;;
esac
