# `cpack -G DEB` in a build configured with the prefix /usr (the "package" preset) makes
# vantrel_<version>-<build number>_<architecture>.deb from what `cmake --install` puts there.

set(VANTREL_PACKAGE_CONTACT "Vantrel <support@vantrel.app>" CACHE STRING "Maintainer of the Debian package")

set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VENDOR Vantrel)
set(CPACK_PACKAGE_CONTACT "${VANTREL_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps network shares (SMB, NFS v4) mounted")
set(CPACK_PACKAGE_DESCRIPTION "Vantrel lives in the system tray and keeps SMB and NFS v4 shares mounted:
it mounts each enabled share when the network it belongs to is up, retries
failures and remounts after wake.")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_RELEASE "${VANTREL_BUILD_NUMBER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://vantrel.app)
# The libraries come from dpkg-shlibdeps; the rest is named here. SMB shares are mounted by rclone
# over FUSE (fusermount3 unmounts them) with expect handing it the password, ping tests a server
# from the share editor, and every icon is an SVG drawing that Qt reads through the plugins of
# libqt6svg6, which no symbol links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "rclone, fuse3, libsmbclient, expect, iputils-ping, libqt6svg6")
# Not every user mounts NFS, and nfs-common brings the rpcbind service with it; passwords need a
# Secret Service provider, and links and folders open through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "nfs-common, gnome-keyring | libkf5wallet-bin, xdg-utils")

include(CPack)
