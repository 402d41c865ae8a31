# Shared build settings: one static library per source folder, one test executable per module.

set(QUORVALE_WARNINGS -Wall -Wextra -Wpedantic)

if(QUORVALE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# quorvale_add_library(<name> SOURCES ... [DEPS ...])
function(quorvale_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(${name} PRIVATE ${QUORVALE_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# quorvale_add_test(<name> SOURCES ... [DEPS ...] [ENV ...] [LABELS ...])
function(quorvale_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;ENV;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${QUORVALE_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_DEPS})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_FORCE_STDERR_LOGGING=1;${ARG_ENV}"
    TIMEOUT 300)
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  quorvale_keyring_turns(${name} ${ARG_LABELS})
endfunction()

# Tests on the one desktop keyring of a test run take turns: gnome-keyring has been seen to lose a locked
# collection's item from its searches when an unlock is dismissed while other clients write to the keyring
# (scripts/keyring-side-by-side.sh shows it), which would fail a test for what another one did.
# Under the sanitizers their allocations are traced through GLib in full, so that a leak of libsecret's own
# (tests/support/lsan-suppressions.txt) is known by its place.
function(quorvale_keyring_turns name)
  if("keyring" IN_LIST ARGN)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK desktop-keyring)
    if(QUORVALE_SANITIZE)
      set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "ASAN_OPTIONS=fast_unwind_on_malloc=0")
    endif()
  endif()
endfunction()
