# Debian packages (cpack -G DEB in a build configured with -DCMAKE_INSTALL_PREFIX=/usr):
#   kvowebserver      the program, kvoclient, the lighttpd and Firebird client configurations,
#                     the server settings, the drives folder, the documentation and examples
#   libkvoclient1     the client library
#   libkvoclient-dev  its headers and CMake package
include(GNUInstallDirs)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvowebserver)
set(CPACK_PACKAGE_VENDOR "KVO")
set(CPACK_PACKAGE_CONTACT "KVO.Net developers <dev@kvonet.com.br>")
# The build's version (cmake/version.cmake): a package built from a later commit upgrades one
# built from an earlier commit.
set(CPACK_PACKAGE_VERSION ${KVO_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_COMPONENTS_ALL kvowebserver libkvoclient1 libkvoclient-dev)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_KVOWEBSERVER_PACKAGE_NAME kvowebserver)
set(CPACK_COMPONENT_KVOWEBSERVER_DESCRIPTION
    "KVO.Net application server (CGI) with its lighttpd configuration\n The server of the suite's remote data access, configuration and distribution\n services, run per request by lighttpd; enable it with\n lighty-enable-mod kvowebserver. It serves no database until\n /etc/kvowebserver/KVO.Server.Config names them. Includes the command-line\n client kvoclient.")
# Found by shlibdeps: the Firebird client, zlib, expat, libstdc++ (the FastCGI library is linked
# in statically). Not found: what the program opens only when a request needs it (libcurl, for
# the memo service's remote route), and the web server that runs it.
set(CPACK_DEBIAN_KVOWEBSERVER_PACKAGE_DEPENDS
    "libcurl4, lighttpd (>= 1.4.56), lighttpd-modules-lua")
# The FastCGI spawner among the templates (nginx/spawn-kvowebserver, for nginx and Apache)
# starts the processes with spawn-fcgi and restarts them with multiwatch. Recommended rather than
# required: the installed lighttpd configuration starts its own processes and needs neither.
set(CPACK_DEBIAN_KVOWEBSERVER_PACKAGE_RECOMMENDS "spawn-fcgi, multiwatch")
# The administrator's edits of these survive upgrades; purging removes them.
include(${PROJECT_SOURCE_DIR}/deploy/server_paths.cmake)
kvo_server_paths("${CMAKE_INSTALL_PREFIX}" "${KVO_INSTALL_SYSTEM_PATHS}")
file(WRITE ${CMAKE_BINARY_DIR}/deploy/conffiles
     "${KVO_ETC}/lighttpd/conf-available/50-kvowebserver.conf\n"
     "${KVO_ETC}/kvowebserver/firebird/firebird.conf\n"
     "${KVO_ETC}/kvowebserver/KVO.Server.Config\n")
set(CPACK_DEBIAN_KVOWEBSERVER_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/deploy/conffiles
    ${PROJECT_SOURCE_DIR}/deploy/debian/postinst ${PROJECT_SOURCE_DIR}/deploy/debian/prerm
    ${PROJECT_SOURCE_DIR}/deploy/debian/postrm)

set(CPACK_DEBIAN_LIBKVOCLIENT1_PACKAGE_NAME libkvoclient1)
set(CPACK_DEBIAN_LIBKVOCLIENT1_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_LIBKVOCLIENT1_DESCRIPTION
    "KVO.Net client data-access library\n Datasets and queries over a Firebird database, directly or through kvowebserver.")
# The remote route opens libcurl when it first sends a request, where shlibdeps cannot see it.
set(CPACK_DEBIAN_LIBKVOCLIENT1_PACKAGE_DEPENDS "libcurl4")
set(CPACK_DEBIAN_LIBKVOCLIENT1_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/deploy/debian/libkvoclient1/triggers)

set(CPACK_DEBIAN_LIBKVOCLIENT-DEV_PACKAGE_NAME libkvoclient-dev)
set(CPACK_DEBIAN_LIBKVOCLIENT-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBKVOCLIENT-DEV_PACKAGE_DEPENDS "libkvoclient1 (= ${KVO_VERSION})")
set(CPACK_COMPONENT_LIBKVOCLIENT-DEV_DESCRIPTION
    "KVO.Net client data-access library: development files\n Headers and the CMake package (find_package(KvoClient)).")

include(CPack)
