# The version of a build. PROJECT_VERSION (the top CMakeLists) is raised with each release; a
# build from a git checkout adds the time of its commit, so that packages built from later
# commits order above earlier ones:
#
#   1.1.0+git20261211.022342.6fed1b9   (release 1.1.0, commit of 2026-12-11 02:23:42 UTC)
#
# dpkg compares the digits after "+git" as numbers, so a later commit (committer time, in UTC)
# upgrades an earlier one, and every such build upgrades the release it follows. The commit's
# time needs neither tags nor history, so a clone without tags and a shallow clone (CI) give
# the same version. Outside a checkout, or with -DKVO_VERSION=..., the version is taken as it is.
#
# Sets KVO_VERSION. The client library compiles it into LibraryVersion() (client/CMakeLists.txt),
# one source file, so that a new commit recompiles that file alone.
set(kvo_version ${PROJECT_VERSION})
find_package(Git QUIET)
if(GIT_FOUND AND NOT DEFINED CACHE{KVO_VERSION})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${GIT_EXECUTABLE} log -1 --no-show-signature
            --format=%cd.%h --date=format-local:%Y%m%d.%H%M%S
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE kvo_commit OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE kvo_git_status ERROR_QUIET)
  if(kvo_git_status EQUAL 0 AND kvo_commit MATCHES "^[0-9]+\\.[0-9]+\\.[0-9a-f]+$")
    set(kvo_version "${PROJECT_VERSION}+git${kvo_commit}")
    # A new commit changes the version: configure again when the checkout's HEAD moves.
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path logs/HEAD
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE kvo_head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(kvo_head_log AND EXISTS ${kvo_head_log})
      set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                                                                   ${kvo_head_log})
    endif()
  endif()
endif()
if(NOT DEFINED CACHE{KVO_VERSION})
  # Not cached, so that the next configure computes it again for the new commit.
  set(KVO_VERSION ${kvo_version})
endif()
message(STATUS "kvowebserver version ${KVO_VERSION}")
