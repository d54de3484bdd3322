#!/usr/bin/env bash
# The tests of the station history in a PostgreSQL server (CTest label postgres), against a
# server of their own: made with initdb in a temporary folder, listening on a free port of
# 127.0.0.1 (password logins) and on a socket in that folder (trusted), stopped and removed
# whatever happens. Installs Debian's postgresql first when it is missing.
# Usage: scripts/postgres_tests.sh [BUILD_DIR]   (default build/test, configured already)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
build=${1:-build/test}

mz_install_packages postgresql libpq-dev
bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -x "$bindir/initdb" ] || { echo "postgres_tests.sh: no initdb below /usr/lib/postgresql" >&2; exit 1; }

# The server refuses to run as root: then it runs as the postgres system user.
as=()
[ "$(id -u)" -eq 0 ] && as=(runuser -u postgres --)

dir=$(mktemp -d /tmp/mz-postgres.XXXXXX)
cleanup() {
  if [ -f "$dir/data/postmaster.pid" ]; then
    "${as[@]}" "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
[ "$(id -u)" -eq 0 ] && chown postgres: "$dir"

# A password nobody needs: the tests log in by the socket, and over TCP only to be refused.
head -c 24 /dev/urandom | base64 >"$dir/password"
"${as[@]}" "$bindir/initdb" -D "$dir/data" -U postgres --auth-local=trust --auth-host=scram-sha-256 \
  --pwfile="$dir/password" -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
  { cat "$dir/initdb.log" >&2; exit 1; }

# A port nothing answers on; should another server take it meanwhile, the start fails and says so.
port=
for _ in $(seq 50); do
  candidate=$((20000 + RANDOM % 40000))
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then port=$candidate; break; fi
done
[ -n "$port" ] || { echo "postgres_tests.sh: no free port found" >&2; exit 1; }

# Durability off: a test server's data is thrown away anyway.
"${as[@]}" "$bindir/pg_ctl" -D "$dir/data" -w -l "$dir/server.log" \
  -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
  start >/dev/null || { cat "$dir/server.log" >&2; exit 1; }
echo "== PostgreSQL $("$bindir/postgres" --version | awk '{print $3}') on port $port, socket in $dir"

cmake --build "$build" --target station_postgres_test
MZ_TEST_POSTGRES_HOST=$dir MZ_TEST_POSTGRES_PORT=$port ctest --test-dir "$build" -L postgres --output-on-failure
