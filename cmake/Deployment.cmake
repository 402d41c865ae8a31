# Which environment a build is for. The default is the Development environment: the API host on this machine
# (127.0.0.1:8443, or QUORVALE_DEV_API_HOST at run time) whose certificate comes from the development
# certificate authority. Any other environment makes a deployment build: an explicit choice (the "deployment"
# preset, or QUORVALE_CONFIGURATION), which must be told its API host and pinned keys, and into which neither
# the run-time host override nor the development authority is compiled.

set(QUORVALE_ENVIRONMENTS
    "Debug(Development)" "Release(Development)" "Release(UAT)" "Debug(UAT)" "Debug(QA)" "Release(QA)"
    "Debug(Production)" "Release(Production)" "Debug(Demo)" "Release(Demo)")
set(QUORVALE_CONFIGURATION "Debug(Development)" CACHE STRING "Build environment named in the information dictionary")
set_property(CACHE QUORVALE_CONFIGURATION PROPERTY STRINGS ${QUORVALE_ENVIRONMENTS})
set(QUORVALE_BUNDLE_IDENTIFIER "com.quorvale.desktop" CACHE STRING "Bundle identifier")
set(QUORVALE_API_HOST_DEVELOPMENT "127.0.0.1:8443" CACHE STRING "API host of the development environment")
# Hosts under .example are placeholders; a deployment build refuses them.
set(QUORVALE_API_HOST_UAT "uat-api.quorvale.example" CACHE STRING "API host of the UAT environment")
set(QUORVALE_API_HOST_QA "qa-api.quorvale.example" CACHE STRING "API host of the QA environment")
set(QUORVALE_API_HOST_PRODUCTION "api.quorvale.example" CACHE STRING "API host of the production environment")
set(QUORVALE_API_HOST_DEMO "demo-api.quorvale.example" CACHE STRING "API host of the demo environment")
set(QUORVALE_PINNED_KEY_HASHES "" CACHE STRING
    "Base64 SHA-256 hashes of the SubjectPublicKeyInfo pinned for every API host (list); empty pins nothing")

# A pin that is not a SHA-256 digest would be dropped at run time and its host refused, so the build would
# fail only once installed. The Base64 of 32 bytes is 43 characters and "=": the 43rd carries the digest's
# last four bits and two zero bits, so one text stands for one digest.
foreach(_pin IN LISTS QUORVALE_PINNED_KEY_HASHES)
  string(LENGTH "${_pin}" _length)
  if(NOT _length EQUAL 44 OR NOT _pin MATCHES "^[A-Za-z0-9+/]+[AEIMQUYcgkosw048]=$")
    message(FATAL_ERROR "QUORVALE_PINNED_KEY_HASHES holds \"${_pin}\", which is not the Base64 of a SHA-256 "
                        "digest (32 bytes, 44 characters ending in \"=\").")
  endif()
endforeach()
if(NOT QUORVALE_CONFIGURATION IN_LIST QUORVALE_ENVIRONMENTS)
  message(FATAL_ERROR "QUORVALE_CONFIGURATION \"${QUORVALE_CONFIGURATION}\" names no environment; "
                      "one of: ${QUORVALE_ENVIRONMENTS}")
endif()
string(REGEX REPLACE "^.*\\((.*)\\)$" "\\1" QUORVALE_ENVIRONMENT "${QUORVALE_CONFIGURATION}")
if(QUORVALE_ENVIRONMENT STREQUAL "Development")
  set(QUORVALE_DEVELOPMENT_BUILD ON)
else()
  set(QUORVALE_DEVELOPMENT_BUILD OFF)
  string(TOUPPER "${QUORVALE_ENVIRONMENT}" _environment)
  set(_host "${QUORVALE_API_HOST_${_environment}}")
  if(_host STREQUAL "" OR _host MATCHES "\\.example(:[0-9]+)?$")
    message(FATAL_ERROR "A build for the ${QUORVALE_ENVIRONMENT} environment needs its API host: "
                        "-DQUORVALE_API_HOST_${_environment}=<host or host:port> (now \"${_host}\").")
  endif()
  # A backup pin lets the service change its key without stranding every installed client; the same pin
  # given twice is no backup.
  set(_pins ${QUORVALE_PINNED_KEY_HASHES})
  list(REMOVE_DUPLICATES _pins)
  list(LENGTH _pins _pins)
  if(_pins LESS 2)
    message(FATAL_ERROR "A build for the ${QUORVALE_ENVIRONMENT} environment pins its API host's key and a "
                        "backup key: -DQUORVALE_PINNED_KEY_HASHES=\"<hash>;<backup hash>\" (Base64 SHA-256 of "
                        "each SubjectPublicKeyInfo).")
  endif()
endif()
message(STATUS "QuorvaleID for ${QUORVALE_CONFIGURATION}")
