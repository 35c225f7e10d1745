# Build for WebAssembly with Debian's clang, wasi-libc and libc++ for
# wasm32: the engine of the web page (scripts/build-web).
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(GLYPH_WASM ON)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
# The scans' vector loops need WebAssembly's 128-bit SIMD, and copies its bulk
# memory operations; every current browser runs both.
set(CMAKE_C_FLAGS_INIT "-msimd128 -mbulk-memory")
set(CMAKE_CXX_FLAGS_INIT "-msimd128 -mbulk-memory")
