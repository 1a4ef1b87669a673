# Read by cpack for every package: the installer's file name from the version it builds.
set(CPACK_DEBIAN_FILE_NAME "Talvora_v${CPACK_PACKAGE_VERSION}_${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}.deb")
