# Where the server's configuration and data go, for a given installation prefix. Used when
# configuring (the package's list of configuration files) and when installing (cmake --install
# takes its prefix only then).
#
# kvo_server_paths(PREFIX SYSTEM): sets KVO_ETC and KVO_VAR in the caller's scope: /etc and /var
# when PREFIX is /usr (the Debian package) or SYSTEM is true (-DKVO_INSTALL_SYSTEM_PATHS=ON),
# else PREFIX/etc and PREFIX/var, so that an installation into any other prefix writes nothing
# outside it.
function(kvo_server_paths prefix system)
  if(prefix STREQUAL "/usr" OR system)
    set(KVO_ETC /etc PARENT_SCOPE)
    set(KVO_VAR /var PARENT_SCOPE)
  else()
    set(KVO_ETC ${prefix}/etc PARENT_SCOPE)
    set(KVO_VAR ${prefix}/var PARENT_SCOPE)
  endif()
endfunction()
