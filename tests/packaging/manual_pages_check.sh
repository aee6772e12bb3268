#!/bin/sh
# The manual pages document every switch the keyword parser takes and every
# control operation, and they format without a warning of the macros, as
# man --warnings (and lintian) formats them: groff of groff-base, which
# install-deps installs where man-db may not be.
# Usage: manual_pages_check.sh <checkout>
set -u
checkout=$1
page=$checkout/packaging/man/kairovel.8
failures=0
for word in $(grep -o '{L"[^"]*"' "$checkout/src/config/keyword_parser.cpp" | cut -d'"' -f2); do
  grep -q -- "/$word\([^a-z_]\|$\)" "$page" || { echo "kairovel.8 does not document /$word"; failures=$((failures + 1)); }
done
for operation in $(grep -o 'EqualsIgnoringCase(operation, L"[^"]*"' "$checkout/src/shell/control_operation.cpp" | cut -d'"' -f2); do
  grep -qx "\.B $operation" "$page" || { echo "kairovel.8 does not document /control=$operation"; failures=$((failures + 1)); }
done
for manual in "$checkout"/packaging/man/*.8; do
  warnings=$(groff -man -Tutf8 -wmac -z "$manual" 2>&1)
  [ -z "$warnings" ] || { echo "$manual: $warnings"; failures=$((failures + 1)); }
done
[ "$failures" -eq 0 ] && echo "every switch and operation documented, no warning"
exit "$failures"
