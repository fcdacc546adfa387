# Warnings are errors in every target of the project.
add_compile_options(-Wall -Wextra -Werror)
# GCC 12 at -O2 reports std::string concatenation as overlapping memcpy
# (GCC bug 105329), a false alarm that would fail every optimised build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options(-Wno-restrict)
endif()
