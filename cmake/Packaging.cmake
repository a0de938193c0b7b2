# The Python package, for installs straight from the build tree (cmake --install). The
# Debian packages build it with pybuild instead, with its metadata and byte-compilation
# (debian/rules turns this off).
option(QX4_INSTALL_PYTHON "Install the Python package qx4 with the rest" ON)
if(QX4_INSTALL_PYTHON)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/python/qx4
          DESTINATION lib/python3/dist-packages COMPONENT python
          PATTERN __pycache__ EXCLUDE)
endif()
