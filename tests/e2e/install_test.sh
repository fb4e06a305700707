#!/usr/bin/env bash
# `cmake --install` puts the daemon and its tools under the prefix, and every shipped country
# profile in the directory the installed daemon reads profiles from, under the same prefix.
set -u
source_dir=$1 build_dir=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
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
[ $status -eq 0 ] && echo "installed the daemon, 3 tools and $count profiles"
exit $status
