# Run by cmake --install for the component kvowebserver (deploy/CMakeLists.txt sets
# KVO_DEPLOY_SOURCE and KVO_INSTALL_SYSTEM_PATHS first): installs what lies
# outside the prefix's usual folders, in the places kvo_server_paths gives for the prefix of
# this installation, and fills the lighttpd configuration's placeholders with them.
include(${KVO_DEPLOY_SOURCE}/server_paths.cmake)
kvo_server_paths("${CMAKE_INSTALL_PREFIX}" "${KVO_INSTALL_SYSTEM_PATHS}")

set(URL_PREFIX /kvo)
set(CGI_DIR ${CMAKE_INSTALL_PREFIX}/lib/kvowebserver/cgi)
set(KVO_DRIVES ${KVO_VAR}/lib/kvo/drives)
set(FIREBIRD_CLIENT ${KVO_ETC}/kvowebserver/firebird)
set(REMOTE_HOST_LUA ${CMAKE_INSTALL_PREFIX}/share/kvowebserver/lighttpd/remote-host.lua)
# The template's header explains the placeholders; the installed file says where it came from.
file(READ ${KVO_DEPLOY_SOURCE}/lighttpd/kvowebserver.conf template)
string(REGEX REPLACE "^(#[^\n]*\n)+" "" body "${template}")
string(CONFIGURE [[
# kvowebserver behind lighttpd, as installed: the program answers at
#   http://<host>@URL_PREFIX@/ikvowebserver.dll/<action>  (and @URL_PREFIX@/kvowebserver.exe/...)
# Enable it ("lighty-enable-mod kvowebserver", or include it from lighttpd.conf) and restart
# lighttpd. The places of this installation:
#   the program's folder          @CGI_DIR@
#   the drives folder             @KVO_DRIVES@ (C:\KVO\... is @KVO_DRIVES@/C/KVO/...)
#   the Firebird client settings  @FIREBIRD_CLIENT@
#   the server settings           @KVO_ETC@/kvowebserver/KVO.Server.Config
# An upgrade of the package keeps your edits of this file. The template it was made from is
# @CMAKE_INSTALL_PREFIX@/share/kvowebserver/templates/lighttpd/kvowebserver.conf.
]] header @ONLY)
string(CONFIGURE "${body}" body @ONLY)
# Written in place: the build folder may not be the installing user's.
set(fragment $ENV{DESTDIR}${KVO_ETC}/lighttpd/conf-available/50-kvowebserver.conf)
message(STATUS "Installing: ${fragment}")
file(WRITE ${fragment} "${header}${body}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES ${KVO_ETC}/lighttpd/conf-available/50-kvowebserver.conf)

file(INSTALL DESTINATION ${FIREBIRD_CLIENT} TYPE FILE
     FILES ${KVO_DEPLOY_SOURCE}/firebird-client/firebird.conf)
# The server settings, edited on every installation: a direct installation keeps an existing
# file (the package's is a conffile, which dpkg keeps).
set(settings ${KVO_ETC}/kvowebserver/KVO.Server.Config)
if("$ENV{DESTDIR}" STREQUAL "" AND EXISTS ${settings})
  message(STATUS "Keeping: ${settings}")
else()
  file(INSTALL DESTINATION ${KVO_ETC}/kvowebserver TYPE FILE
       FILES ${KVO_DEPLOY_SOURCE}/examples/KVO.Server.Config)
endif()

# The drives folder with the folders a fresh installation needs: Config and Logs, which the web
# server's user writes (the package's maintainer script gives them owners and modes), the
# module folder, the traffic file's folder and a folder for the memos.
set(base ${KVO_DRIVES}/C/KVO/KVO.Net)
foreach(dir ${base}/Config ${base}/Logs "${base}/Módulos" ${base}/WebServers ${KVO_DRIVES}/C/KVO/Memos)
  message(STATUS "Installing: $ENV{DESTDIR}${dir}")
  file(MAKE_DIRECTORY "$ENV{DESTDIR}${dir}")
endforeach()

# What the administrator may have made or edited: the server settings' place in Config (a link
# to the file above), the tool list and the traffic file (empty). Made only where nothing is
# yet, and only by a direct installation: a staged one (DESTDIR, as for the Debian package)
# leaves them to the package's maintainer script, since a file of the package would be
# replaced by every upgrade.
if("$ENV{DESTDIR}" STREQUAL "")
  set(link ${base}/Config/KVO.Server.Config)
  if(NOT EXISTS ${link} AND NOT IS_SYMLINK ${link})
    message(STATUS "Installing: ${link} -> ${settings}")
    file(CREATE_LINK ${settings} ${link} SYMBOLIC)
  endif()
  foreach(empty ${base}/Config/RDP.Modules ${base}/WebServers/trafego.xml)
    if(NOT EXISTS ${empty})
      message(STATUS "Installing: ${empty}")
      file(TOUCH ${empty})
    endif()
  endforeach()
endif()
