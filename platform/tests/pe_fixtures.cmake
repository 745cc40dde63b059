# Real PE files for the version reader's tests, built from the .rc sources in pe_fixtures/ with
# the MinGW resource compiler, assembler and linker. Missing tools fail the build of the tests
# with a message naming the packages: a machine without them must not pass the tests by
# skipping them.
set(PE_FIXTURE_SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/tests/pe_fixtures)
set(PE_FIXTURE_DIR ${CMAKE_CURRENT_BINARY_DIR}/pe_fixtures)

# name:architecture; "nores" is linked without any resource.
set(PE_FIXTURES pt:x86_64 pt:i686 en:i686 en:x86_64 other:x86_64 first:x86_64 lower:i686
    wide:x86_64 notrans:x86_64 nover:x86_64 nores:x86_64)

set(PE_FIXTURE_FILES)
foreach(fixture ${PE_FIXTURES})
  string(REPLACE ":" ";" parts ${fixture})
  list(GET parts 0 name)
  list(GET parts 1 arch)
  set(out ${PE_FIXTURE_DIR}/${name}_${arch}.dll)
  list(APPEND PE_FIXTURE_FILES ${out})
  find_program(MINGW_WINDRES_${arch} ${arch}-w64-mingw32-windres)
  find_program(MINGW_AS_${arch} ${arch}-w64-mingw32-as)
  find_program(MINGW_LD_${arch} ${arch}-w64-mingw32-ld)
  if(NOT MINGW_WINDRES_${arch} OR NOT MINGW_AS_${arch} OR NOT MINGW_LD_${arch})
    if(arch STREQUAL "i686")
      set(package binutils-mingw-w64-i686)
    else()
      set(package binutils-mingw-w64-x86-64)
    endif()
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E echo
              "PE test fixtures need ${arch}-w64-mingw32-windres, -as and -ld: install ${package}"
      COMMAND ${CMAKE_COMMAND} -E false
      VERBATIM)
    continue()
  endif()
  set(entry ${PE_FIXTURE_DIR}/${name}_${arch}.entry.o)
  set(objects ${entry})
  set(depends ${PE_FIXTURE_SOURCE}/entry.s)
  set(commands COMMAND ${MINGW_AS_${arch}} ${PE_FIXTURE_SOURCE}/entry.s -o ${entry})
  if(NOT name STREQUAL "nores")
    set(res ${PE_FIXTURE_DIR}/${name}_${arch}.res.o)
    list(APPEND objects ${res})
    list(APPEND depends ${PE_FIXTURE_SOURCE}/${name}.rc)
    list(APPEND commands COMMAND ${MINGW_WINDRES_${arch}} --preprocessor=cpp
         --preprocessor-arg=-P -c 1252 ${PE_FIXTURE_SOURCE}/${name}.rc -O coff -o ${res})
  endif()
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PE_FIXTURE_DIR}
    ${commands}
    COMMAND ${MINGW_LD_${arch}} --dll -e entry -s ${objects} -o ${out}
    DEPENDS ${depends}
    VERBATIM)
endforeach()
add_custom_target(pe_fixtures DEPENDS ${PE_FIXTURE_FILES})

find_program(WRESTOOL_PROGRAM wrestool)
if(NOT WRESTOOL_PROGRAM)
  set(WRESTOOL_PROGRAM "")
endif()
if(TARGET platform_unit_tests)
  add_dependencies(platform_unit_tests pe_fixtures)
  target_compile_definitions(platform_unit_tests PRIVATE KVO_PE_FIXTURES="${PE_FIXTURE_DIR}"
                             KVO_WRESTOOL="${WRESTOOL_PROGRAM}")
endif()
