# Debian's hardening flags (what dpkg-buildflags gives with hardening=+all), for every program,
# library, test and benchmark. The programs run as root over bytes that a damaged or hostile disk
# supplies, so a stray write must not become control of the process:
#   -fstack-protector-strong     a canary on the stack of every function with arrays or addresses taken
#   -fstack-clash-protection     large stack frames are probed page by page, never jumped over
#   -fcf-protection              indirect branches land only on marked targets (x86 only)
#   -Wformat -Werror=format-security   no printf-style call with a non-literal format and no arguments
#   -D_FORTIFY_SOURCE=2          memcpy, read, snprintf... checked against the size of their object
#                                (glibc's *_chk functions; only with optimisation)
#   PIE                          the programs are position independent (-fPIE, -pie), loaded at a random address
#   -z relro -z now              every symbol resolved at start, the relocation tables then read-only
# Each flag is checked with the compiler in use; one that it refuses stops the configuration rather
# than giving a program quietly built without it.
# The sanitizer build, which is never packaged, takes PIE and the linker's flags only: its
# instrumentation checks the stack and the memory calls itself (fortify's *_chk functions would
# take those calls out of AddressSanitizer's sight), and its objects stay those of the test build.
include(CheckCCompilerFlag)
include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)
include(CheckPIESupported)

foreach(flag IN ITEMS "LINKER:-z,relro" "LINKER:-z,now")
  string(MAKE_C_IDENTIFIER "BRULIN_LD_${flag}" ld_ok)
  check_linker_flag(CXX "${flag}" ${ld_ok})
  if(NOT ${ld_ok})
    message(FATAL_ERROR "The linker does not take the hardening flag ${flag}")
  endif()
endforeach()
add_link_options("LINKER:-z,relro" "LINKER:-z,now")

# CMAKE_POSITION_INDEPENDENT_CODE gives -fPIE; with the linker's support checked, the programs
# are linked with -pie too.
check_pie_supported(OUTPUT_VARIABLE pie_output LANGUAGES C CXX)
if(NOT CMAKE_C_LINK_PIE_SUPPORTED OR NOT CMAKE_CXX_LINK_PIE_SUPPORTED)
  message(FATAL_ERROR "The toolchain cannot link position-independent programs: ${pie_output}")
endif()

if(NOT BRULIN_SANITIZE)
  # Each entry is checked as the compiler is given it: GCC refuses -Werror=format-security
  # without -Wformat, so the pair is one entry.
  set(brulin_hardening_flags "-fstack-protector-strong" "-fstack-clash-protection"
      "-Wformat -Werror=format-security")
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i.86)$")
    list(APPEND brulin_hardening_flags "-fcf-protection")
  endif()
  foreach(entry IN LISTS brulin_hardening_flags)
    separate_arguments(words UNIX_COMMAND "${entry}")
    string(MAKE_C_IDENTIFIER "BRULIN_CC_${entry}" c_ok)
    string(MAKE_C_IDENTIFIER "BRULIN_CXX_${entry}" cxx_ok)
    check_c_compiler_flag("${words}" ${c_ok})
    check_cxx_compiler_flag("${words}" ${cxx_ok})
    if(NOT ${c_ok} OR NOT ${cxx_ok})
      message(FATAL_ERROR "The compiler does not take the hardening flags ${entry}")
    endif()
    add_compile_options(${words})
  endforeach()
  # The compiler may define a level of its own; ours replaces it.
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
