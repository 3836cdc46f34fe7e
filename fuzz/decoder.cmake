# libFuzzer target for the receive handler. Needs clang.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(WARNING "fuzz_decoder needs clang (set CXX=clang++); not built")
  return()
endif()
# The decoder's sources are compiled into the fuzzer itself so that they carry
# its coverage instrumentation; the serial port is only linked.
add_executable(fuzz_decoder
  decoder/FuzzDecoder.cpp
  ${PROJECT_SOURCE_DIR}/protocol/KXProtocol.cpp
  ${PROJECT_SOURCE_DIR}/protocol/KXPacket.cpp)
target_include_directories(fuzz_decoder PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(fuzz_decoder PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
target_link_options(fuzz_decoder PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_libraries(fuzz_decoder PRIVATE lds_serial)
