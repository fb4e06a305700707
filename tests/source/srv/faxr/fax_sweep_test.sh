#!/usr/bin/env bash
# scripts/fax-sweep on a stand-in for the sweep's test program, which plants what the runner must
# not pass over: a violation, a shard that crashes, a shard that skips a call, and libtiff's
# messages on stderr in the middle of a line; and a call through spandsp's that died is told. A clean run exits 0, and summing its logs again
# gives the same; each planted case exits non-zero and says why.
set -u
source_dir=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
bin=$stage/build/tests/source/srv/faxr/faxr_call_test
mkdir -p "$(dirname "$bin")"
cat >"$bin" <<'STANDIN'
#!/usr/bin/env bash
first=$ORVOX_FAX_SWEEP_FIRST calls=$ORVOX_FAX_SWEEP_CALLS status=0
for ((seed = first; seed < first + calls; seed++)); do
  [ "$seed" = "${PLANT_SKIP:-}" ] && continue
  [ "$seed" = "${PLANT_CRASH:-}" ] && kill -SEGV $$
  [ "$seed" = "${PLANT_DIED:-}" ] && echo "[ call sweep${seed}_spandsp ] died: signal 11"
  printf '[ sweep ca'
  echo "TIFFOpen: /tmp/faxr_call_$seed.tif: No such file or directory." >&2
  echo "ll $seed ] done 1/1 forged 0/0 hung 0/0: v17 ecm audio_to_t38 bars red 3 clean"
  if [ "$seed" = "${PLANT_VIOLATION:-}" ]; then
    echo "[ sweep violation ] ORVOX_FAX_SWEEP_SEED=$seed  # I2 a terminal waits to the limit where spandsp's call ended"
    status=1
  fi
done
echo "[ sweep-tally ] all $calls $calls $calls 0 0 0 0"
exit $status
STANDIN
chmod +x "$bin"

failures=0
# runs the sweep of 12 calls in 3 shards; expects its exit status to be 0 or not, and its output to
# hold a line matching `says`
sweep() {
  local expect=$1 says=$2 name=$3
  shift 3
  local out rc
  out=$(env "$@" ORVOX_BUILD="$stage/build" "$source_dir/scripts/fax-sweep" 12 1 3 2>&1)
  rc=$?
  logs=$(sed -n 's/^logs in //p' <<<"$out")
  if { [ "$expect" = ok ] && [ $rc -ne 0 ]; } || { [ "$expect" = fails ] && [ $rc -eq 0 ]; } || ! grep -q -- "$says" <<<"$out"; then
    echo "FAILED $name: exit $rc, expected $expect and a line with '$says'"
    echo "$out"
    failures=$((failures + 1))
  fi
}

sweep ok '^all *12 *12/12' "a clean run" PLANT=none
clean=$logs
out=$("$source_dir/scripts/fax-sweep" --sum "$clean"/*.log 2>&1) || { echo "FAILED summing a clean run again: $out"; failures=$((failures + 1)); }
rm -rf "$clean"
sweep fails '^\[ sweep violation \] ORVOX_FAX_SWEEP_SEED=7 ' "a violation" PLANT_VIOLATION=7
rm -rf "$logs"
sweep ok "^1 call(s) through spandsp's gateway died" "a call through spandsp's that died" PLANT_DIED=5
rm -rf "$logs"
sweep fails 'the shard failed (exit 139)' "a shard that crashes" PLANT_CRASH=6
rm -rf "$logs"
sweep fails '3 of 4 calls ran (seed 10 is missing)' "a shard that skips a call" PLANT_SKIP=10
rm -rf "$logs"
[ $failures -eq 0 ] && echo "fax-sweep: all cases pass"
exit $((failures > 0))
