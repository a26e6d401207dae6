#!/bin/sh
# R CMD check --no-manual of the quox package, in a temporary folder that is
# removed afterwards. The argument is the package archive (as built by
# R CMD build) or the package folder, which is then built first; by default
# r/quox next to this script. The package's tests run as part of the check;
# those that need the host's support file or the built archive are skipped.
# Fails unless the check ends with "Status: OK", i.e. without an ERROR,
# WARNING or NOTE.
set -u
src=${1:-$(dirname "$0")/quox}
case $src in /*) ;; *) src=$(pwd)/$src ;; esac
work=$(mktemp -d "${TMPDIR:-/tmp}/quox-check.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2
unset QUOX_ARCHIVE QUOX_SUPPORT_FILE
# without codetools the check leaves out its look for undeclared globals
if ! Rscript -e 'quit(status = !requireNamespace("codetools", quietly = TRUE))' > /dev/null 2>&1; then
  echo "R's codetools package is not installed (Debian: r-cran-codetools); R CMD check would not look at the code"
  exit 1
fi
# the check looks its dependencies up in a repository: an empty local one,
# as they are all installed
mkdir -p repo/src/contrib && : > repo/src/contrib/PACKAGES
printf 'options(repos = c(LOCAL = "file://%s/repo"))\n' "$work" > Rprofile
export R_LIBS_USER= R_PROFILE_USER="$work/Rprofile"
if [ -d "$src" ]; then
  R CMD build --no-manual "$src" > build.log 2>&1 || { cat build.log; exit 1; }
  archive=$(ls quox_*.tar.gz)
else
  archive=$src
fi
R CMD check --no-manual "$archive" > check.log 2>&1
status=$?
cat check.log
if [ $status -ne 0 ] || ! grep -qx "Status: OK" check.log; then
  for f in quox.Rcheck/tests/testthat.Rout.fail; do
    [ -f "$f" ] && { echo "--- $f"; tail -n 60 "$f"; }
  done
  echo "R CMD check of $archive is not clean"
  exit 1
fi
