#!/usr/bin/env bash
# Bootstraps, builds and runs every test. By default the tree is built with AddressSanitizer and
# UndefinedBehaviorSanitizer (NX_SANITIZE=0 turns that off). A throwaway PostgreSQL cluster is
# started for the database tests and stopped afterwards; exits non-zero on any failure.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export NX_SANITIZE=${NX_SANITIZE:-1}
build_dir=${NX_TEST_BUILD_DIR:-$here/build-test}
[ "$NX_SANITIZE" = "1" ] || build_dir=${NX_TEST_BUILD_DIR:-$here/build-test-plain}

"$here/scripts/bootstrap.sh" "$build_dir"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen

# shellcheck source=scripts/pg_cluster.sh
source "$here/scripts/pg_cluster.sh"
pg_dir=$(mktemp -d /tmp/nx-pg.XXXXXX)
cleanup() { pg_cluster_stop "$pg_dir" || true; rm -rf "$pg_dir"; }
trap cleanup EXIT
if pg_cluster_start "$pg_dir"; then
  export NX_TEST_PG_CONNINFO="host=$pg_dir/socket port=$NX_PG_PORT dbname=postgres user=postgres"
else
  echo "test.sh: PostgreSQL could not be started; database tests on it will fail" >&2
fi

status=0
(cd "$build_dir" && ctest --output-on-failure -j "$(nproc)" --timeout 600) || status=$?

if [ -x "$here/scripts/fuzz.sh" ]; then
  "$here/scripts/fuzz.sh" || status=1
fi
exit $status
