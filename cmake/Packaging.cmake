# Debian packages by CPack (scripts/package.sh): one per component, versions from the
# project version, library dependencies found by dpkg-shlibdeps.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/python/qx4
        DESTINATION lib/python3/dist-packages COMPONENT python
        PATTERN __pycache__ EXCLUDE)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tools python)
if(QX4_BUILD_BENCH)
  list(APPEND CPACK_COMPONENTS_ALL bench)
endif()
set(CPACK_PACKAGE_NAME qx4)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "QX4 developers <qx4@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "QX4 ISO 15693 RFID reader/writer software")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${CMAKE_BINARY_DIR}/driver ${CMAKE_BINARY_DIR}/dumps)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(exact "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libqx4drv1)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "QX4 reader/writer driver library\n The libQX4DRV shared library: the serial (or RFC 2217 / TCP) link to the reader,\n its framed protocol, reader and tag commands as flat C functions.")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libqx4drv-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libqx4drv1 ${exact}")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "QX4 reader/writer driver library: development files\n The header qx4drv.h, pkg-config file qx4drv.pc and CMake package QX4DRV.")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME qx4-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libqx4drv1 ${exact}")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "QX4 reader/writer command-line tools\n qx4 (every command, tag dumps in qx4, Proxmark3 and Flipper formats, restore,\n diff, watch) and qx4sim, a simulated reader; man pages and bash completion.")

set(CPACK_DEBIAN_BENCH_PACKAGE_NAME qx4bench)
set(CPACK_DEBIAN_BENCH_PACKAGE_DEPENDS "libqx4drv1 ${exact}")
set(CPACK_COMPONENT_BENCH_DESCRIPTION
    "QX4 reader/writer checker\n QX4Bench, the checker window: every command from menus and dialogs.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-qx4)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "libqx4drv1 ${exact}, python3 (>= 3.11)")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_COMPONENT_PYTHON_DESCRIPTION
    "QX4 reader/writer from Python\n The qx4 package (ctypes over libQX4DRV) with libqx4dump, the dump and restore\n code of qx4.")

include(CPack)
