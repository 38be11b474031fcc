#!/usr/bin/env bash
# scripts/run-app, as the README gives it, with cmake replaced by a recorder: the build it asks
# for must be the application alone, not every test and benchmark of the tree.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stub=$(mktemp -d)
trap 'rm -rf "$stub"' EXIT
cat >"$stub/cmake" <<STUB
#!/bin/sh
echo "\$*" >>"$stub/calls"
STUB
chmod +x "$stub/cmake"
# Should a release build exist, the application runs only for an instant.
PATH="$stub:$PATH" QT_QPA_PLATFORM=offscreen \
  bash "$root/scripts/run-app" --screenshot "$stub/shot.png" --steps 0 >/dev/null 2>&1
builds=$(grep -e '--build' "$stub/calls" || true)
if [ -z "$builds" ]; then
  echo "run-app asked cmake for no build"
  exit 1
fi
while read -r line; do
  case " $line " in
  *" --target corvane "*) ;;
  *)
    echo "run-app builds more than the application: cmake $line"
    exit 1
    ;;
  esac
done <<<"$builds"
echo "run-app builds: $builds"
