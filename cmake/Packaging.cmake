# `cpack -G DEB` in the build folder makes the Debian package of the viewer.
set(CPACK_PACKAGE_NAME thread-viewer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "thread-viewer")
set(CPACK_PACKAGE_CONTACT "thread-viewer maintainers <maintainers@thread-viewer.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "翎澜浏览器: viewer for the threads of one web forum")
set(CPACK_PACKAGE_DESCRIPTION
    "Opens the forum's newest thread by itself, steps to the previous and next thread by \
number, jumps to a typed thread number, keeps links inside its one window and sends \
suggestions to the forum. Nothing is stored between runs.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
# Libraries come from dpkg-shlibdeps; the engine's helper process and the CJK font are not
# linked, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6webenginecore6-bin, fonts-noto-cjk")

include(CPack)
