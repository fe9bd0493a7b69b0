# The Debian package: `cpack -G DEB` in the build folder (or `./run.sh
# package`) makes vrexa_VERSION_ARCH.deb from what `cmake --install` puts
# under /usr.
set(VREXA_PACKAGE_MAINTAINER "vrexa developers <packages@vrexa.invalid>" CACHE STRING
    "Maintainer named in the Debian package")

set(CPACK_PACKAGE_NAME vrexa)
set(CPACK_PACKAGE_VENDOR "vrexa developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VREXA_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download engine that checks every chunk, and a desktop updater")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The binaries are built with debug data; users get them stripped.
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VREXA_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link against, with the versions they need, as
# dpkg-shlibdeps reads them from the binaries themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The long description; CPack puts the summary above it and indents it as the
# control file wants, a blank line becoming a paragraph break.
set(CPACK_PACKAGE_DESCRIPTION
    "vrexa downloads a package from a network of download nodes, chunk by
chunk, fetching each chunk with a byte range from a node a learning
optimizer chooses. Every chunk is checked against its checksum before it
is fetched, so whatever is already correct on disk is never downloaded
again, and an interrupted download resumes where it stopped.

This package holds the command-line downloader vrexa, the publisher
vrexa-publish that lays out packages, manifests and node lists for the
network, and the desktop updater orbiq-update.")

include(CPack)
