# Warnings as errors on both compilers, and the sanitizer build.
add_library(muvra_compiler_settings INTERFACE)
target_compile_features(muvra_compiler_settings INTERFACE cxx_std_20)
target_compile_options(muvra_compiler_settings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wunused -Woverloaded-virtual
  -Wimplicit-fallthrough -Werror
  # GCC 12 reports false overlaps inside libstdc++'s string code (GCC bug 105329).
  -Wno-restrict)

if(WIN32)
  target_compile_definitions(muvra_compiler_settings INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
  target_link_options(muvra_compiler_settings INTERFACE -static -static-libgcc -static-libstdc++)
endif()

option(MUVRA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(MUVRA_SANITIZE)
  target_compile_options(muvra_compiler_settings INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(muvra_compiler_settings INTERFACE -fsanitize=address,undefined)
endif()
option(MUVRA_SANITIZE_THREADS "Build with ThreadSanitizer" OFF)
if(MUVRA_SANITIZE_THREADS)
  target_compile_options(muvra_compiler_settings INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(muvra_compiler_settings INTERFACE -fsanitize=thread)
endif()
