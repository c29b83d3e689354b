# Sourced by the scripts that measure a Windows program from the Linux
# side: finding its process in our prefix, and what /proc says about it.

# The Linux process of a Windows program NAME (a regular expression, such
# as 'tavrolin\.exe') running in $WINEPREFIX: the one whose first argument
# names it, not the start.exe that `wine PATH` may leave waiting for it.
find_wine_process() {
  local pid
  for pid in $(pgrep -f "$1"); do
    { tr '\0' '\n' <"/proc/$pid/cmdline" | head -n 1 | grep -q "$1"; } 2>/dev/null || continue
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"; return 0
    fi
  done
  return 1
}

# utime + stime of a process, in clock ticks.
cpu_ticks() {
  sed 's/^.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'
}

# "THREADS DESCRIPTORS RSSANON_KB" of a process.
proc_figures() {
  echo "$(ls "/proc/$1/task" | wc -l) $(ls "/proc/$1/fd" | wc -l) $(awk '/^RssAnon:/ {print $2}' "/proc/$1/status")"
}
