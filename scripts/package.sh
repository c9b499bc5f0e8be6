#!/usr/bin/env bash
# Builds the Debian package: an optimised build installed under /usr, packed by CPack with the
# dependencies that dpkg-shlibdeps finds plus the programs the application starts. Prints the
# package's path:
#   bash scripts/package.sh        # build/package/vantrel_<version>-<build>_<arch>.deb
# A build number other than 1: cmake --preset package -DVANTREL_BUILD_NUMBER=7 first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset package >/dev/null
cmake --build --preset package
rm -f build/package/vantrel_*.deb
(cd build/package && cpack -G DEB >/dev/null)
ls build/package/vantrel_*.deb
