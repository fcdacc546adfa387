# Debug builds run under AddressSanitizer and UndefinedBehaviorSanitizer;
# STEREO_SANITIZER=thread selects ThreadSanitizer instead.
set(STEREO_SANITIZER "" CACHE STRING "address (default for Debug), thread, or none")
if(STEREO_SANITIZER STREQUAL "" AND CMAKE_BUILD_TYPE STREQUAL "Debug")
  set(STEREO_SANITIZER address)
endif()
if(STEREO_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(STEREO_SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
