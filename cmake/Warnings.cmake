add_compile_options(-Wall -Wextra -Werror)
# Qt's strings are UTF-16 and our sources are UTF-8.
add_compile_definitions(QT_NO_FOREACH QT_NO_KEYWORDS)

if(PIMSEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Everything is instrumented for coverage; only the fuzz binaries link libFuzzer's main.
if(PIMSEL_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# A layer library: every .cpp in its folder, linked to what it depends on.
function(pimsel_layer name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(${name} STATIC ${sources})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()
