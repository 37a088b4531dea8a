# Compile and link options shared by the project's own targets (not by
# third-party code such as GoogleTest).
add_library(zl_options INTERFACE)
target_compile_options(zl_options INTERFACE
  -Wall -Wextra
  # No fused multiply-add: double arithmetic gives the same bits everywhere.
  -ffp-contract=off)
# On in every preset; off by default so that a newer compiler's new warnings
# do not stop someone else's build of a release.
option(ZL_WERROR "Treat compiler warnings as errors" OFF)
if(ZL_WERROR)
  target_compile_options(zl_options INTERFACE -Werror)
endif()

if(WIN32)
  target_compile_options(zl_options INTERFACE
    # Doubles rounded as doubles, never in x87 extended precision.
    -msse2 -mfpmath=sse
    # A 32-bit Windows host calls with a stack aligned to 4 bytes only.
    -mincoming-stack-boundary=2)
  # Only system DLLs at run time: the GCC runtime and winpthread are linked in.
  target_link_options(zl_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

if(ZL_SANITIZE)
  target_compile_options(zl_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(zl_options INTERFACE -fsanitize=address,undefined)
endif()

if(ZL_TSAN)
  target_compile_options(zl_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(zl_options INTERFACE -fsanitize=thread)
endif()
