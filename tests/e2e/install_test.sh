#!/usr/bin/env bash
# `cmake --install` puts the daemon and its tools under the prefix, and every shipped country
# profile in the directory the installed daemon reads profiles from, under the same prefix. The
# installed daemon needs no library that deployment.md does not list, and starts as that
# document's run-through starts it: on the stand-ins, with the sample configuration, the installed
# profiles and a pipe directory of mode 2750.
set -u
source_dir=$1 build_dir=$2
stage=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$stage"
}
trap cleanup EXIT
cmake --install "$build_dir" --prefix "$stage" >/dev/null || { echo "install failed"; exit 1; }
status=0
for program in usr/sbin/orvoxd usr/bin/boardctl usr/bin/pbxsim usr/bin/dectsim; do
  [ -x "$stage/$program" ] || { echo "missing: $program"; status=1; }
done
profiles=/etc/telephonyProfiles.d/
grep -aq "$profiles" "$stage/usr/sbin/orvoxd" || { echo "the daemon does not read $profiles"; status=1; }
count=0
for profile in "$source_dir"/prov/tel_profiles/*_profile.xml; do
  count=$((count + 1))
  cmp -s "$profile" "$stage$profiles$(basename "$profile")" ||
    { echo "not installed in $profiles: $(basename "$profile")"; status=1; }
done
[ "$count" -gt 0 ] || { echo "no profiles found in the tree"; status=1; }

# Every library the daemon links (the C library's own loader and the sanitizers' run-times of a
# test build aside) is named in deployment.md, so that a gateway's image is not left without one.
libraries=$(readelf -d "$stage/usr/sbin/orvoxd" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -n "$libraries" ] || { echo "cannot read the daemon's libraries"; status=1; }
for library in $libraries; do
  case "$library" in ld-linux*|ld-*.so*|libasan.so*|libubsan.so*|libtsan.so*) continue ;; esac
  grep -qF "\`$library\`" "$source_dir/docs/deployment.md" ||
    { echo "the daemon links $library, which deployment.md does not list"; status=1; }
done

# The run-through's start, with bounded waits.
wait_for() {  # file, text, tenths of a second, the process that writes the file
  local i
  for ((i = 0; i < $3; i++)); do
    grep -aq -- "$2" "$1" 2>/dev/null && return 0
    kill -0 "$4" 2>/dev/null || { grep -aq -- "$2" "$1" 2>/dev/null; return; }
    sleep 0.1
  done
  return 1
}
mkdir -p "$stage/etc/config" "$stage/var/run/voice"
cp "$source_dir/platform/uci/examples/asterisk" "$stage/etc/config/"
chmod 2750 "$stage/var/run/voice"
export UBUS_SOCKET=$stage/ubus.sock ORVOX_PIPE_DIR=$stage/var/run/voice \
  ORVOX_PROFILE_DIR=$stage/etc/telephonyProfiles.d/ ORVOX_BOARD_SOCKET=$stage/board.sock \
  ORVOX_NO_RT=1 ORVOX_TICK=fast hw_board_hasDect=1
"$build_dir/platform/ubus/ubusd" -s "$UBUS_SOCKET" >"$stage/ubusd.log" 2>&1 &
pids+=($!)
for ((i = 0; i < 100; i++)); do [ -S "$UBUS_SOCKET" ] && break; sleep 0.1; done
"$build_dir/platform/uci/uci_service" "$stage/etc/config" >"$stage/uci.log" 2>&1 &
pids+=($!)
for ((i = 0; i < 100; i++)); do "$build_dir/platform/ubus/ubus" list uci >/dev/null 2>&1 && break; sleep 0.1; done
"$stage/usr/sbin/orvoxd" >"$stage/orvoxd.log" 2>&1 &
daemon=$!
pids+=($daemon)
if wait_for "$stage/orvoxd.log" "Startup ready!" 300 "$daemon"; then
  kill -TERM "$daemon"
  wait_for "$stage/orvoxd.log" "orvoxd exits" 200 "$daemon" || { echo "the installed daemon did not stop"; status=1; }
else
  echo "the installed daemon did not start:"; tail -n 5 "$stage/orvoxd.log"; status=1
fi

[ $status -eq 0 ] && echo "installed the daemon, 3 tools and $count profiles; the daemon starts from them"
exit $status
