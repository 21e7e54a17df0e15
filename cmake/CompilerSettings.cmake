# Warnings as errors on both compilers, and the sanitizer build.
add_library(muvra_compiler_settings INTERFACE)
target_compile_features(muvra_compiler_settings INTERFACE cxx_std_20)
if(MSVC)
  target_compile_options(muvra_compiler_settings INTERFACE /W4 /WX /utf-8 /permissive- /EHsc)
else()
  target_compile_options(muvra_compiler_settings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wunused
    -Woverloaded-virtual -Wimplicit-fallthrough -Werror)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12 reports false overlaps inside libstdc++'s string code (GCC bug 105329).
    target_compile_options(muvra_compiler_settings INTERFACE -Wno-restrict)
  endif()
endif()

if(WIN32)
  target_compile_definitions(muvra_compiler_settings INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
endif()
if(MINGW)
  target_link_options(muvra_compiler_settings INTERFACE -static -static-libgcc -static-libstdc++)
endif()

# A UTF-16 wmain as the entry point, also of a GUI-subsystem program.
function(muvra_wide_entry target)
  if(MINGW)
    target_link_options(${target} PRIVATE -municode)
  elseif(MSVC)
    target_link_options(${target} PRIVATE /ENTRY:wmainCRTStartup)
  endif()
endfunction()

option(MUVRA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(MUVRA_SANITIZE)
  target_compile_options(muvra_compiler_settings INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(muvra_compiler_settings INTERFACE -fsanitize=address,undefined)
endif()
option(MUVRA_FUZZ "Build the libFuzzer targets (clang) with ASan and UBSan" OFF)
if(MUVRA_FUZZ)
  target_compile_options(muvra_compiler_settings INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(muvra_compiler_settings INTERFACE -fsanitize=address,undefined)
endif()
option(MUVRA_SANITIZE_THREADS "Build with ThreadSanitizer" OFF)
if(MUVRA_SANITIZE_THREADS)
  target_compile_options(muvra_compiler_settings INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(muvra_compiler_settings INTERFACE -fsanitize=thread)
endif()

# Release archives: the same sources give the same bytes. No build folder in the binaries, no
# symbols, and no link time in the Windows image's header.
option(MUVRA_REPRODUCIBLE "Build byte-identical programs for the release archives" OFF)
if(MUVRA_REPRODUCIBLE AND NOT MSVC)
  target_compile_options(muvra_compiler_settings INTERFACE
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
  target_link_options(muvra_compiler_settings INTERFACE -s)
  if(MINGW)
    target_link_options(muvra_compiler_settings INTERFACE -Wl,--no-insert-timestamp)
  endif()
endif()
