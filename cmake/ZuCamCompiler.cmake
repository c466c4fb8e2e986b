# Warnings and sanitizers shared by every target of the project.
add_library(zucam_warnings INTERFACE)
target_compile_options(zucam_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wcast-align -Wunused -Woverloaded-virtual
  -Wformat=2 -Wimplicit-fallthrough -Wno-missing-field-initializers)

if(ZUCAM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# ThreadSanitizer: the whole build is instrumented; Qt, glib and PulseAudio are
# not, so tests/support adds the synchronisation TSan cannot see in them.
if(ZUCAM_TSAN)
  if(ZUCAM_SANITIZE)
    message(FATAL_ERROR "ZUCAM_TSAN and ZUCAM_SANITIZE cannot be combined (one sanitizer runtime per build)")
  endif()
  # -Wno-tsan: the camera queue's reader and writer pair stand-alone fences
  # (a sequence counter in memory shared with another process), which TSan
  # does not model; GCC says so at every build.
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -Wno-tsan)
  add_link_options(-fsanitize=thread)
endif()
