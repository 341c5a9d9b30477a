# Set-user-ID: built without the sanitizers (their runtimes are not for such programs).
set_target_properties(setuid_pkexec PROPERTIES
  COMPILE_OPTIONS "-Wall;-Wextra"
  LINK_OPTIONS ""
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
