#!/bin/sh
# Fails when a shared library exports a defined symbol whose name does not begin with "mz".
status=0
for lib in "$@"; do
  extra=$(nm -D --defined-only "$lib" | awk '{print $NF}' | grep -v '^mz' || true)
  if [ -n "$extra" ]; then
    echo "$lib exports more than its mz functions:"
    echo "$extra" | sed 's/^/  /'
    status=1
  fi
  count=$(nm -D --defined-only "$lib" | awk '{print $NF}' | grep -c '^mz' || true)
  echo "$lib: $count exported mz functions"
done
exit $status
