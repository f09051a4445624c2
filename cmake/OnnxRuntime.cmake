# Provides the imported target onnxruntime::onnxruntime.
#
# -DONNXRUNTIME_ROOT=DIR uses a user's own ONNX Runtime (DIR/include with
# onnxruntime_cxx_api.h, DIR/lib with libonnxruntime.so). Without it the
# project's fetch script prepares the pinned release in a cache outside the
# source tree and that copy is used.
set(ONNXRUNTIME_ROOT "" CACHE PATH "ONNX Runtime root with include/ and lib/ (empty: fetch the pinned release)")

if(NOT ONNXRUNTIME_ROOT)
  execute_process(
    COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/fetch-onnxruntime.sh
    OUTPUT_VARIABLE _ort_root
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE _ort_result)
  if(NOT _ort_result EQUAL 0)
    message(FATAL_ERROR "Fetching ONNX Runtime failed; pass -DONNXRUNTIME_ROOT=DIR to use your own copy")
  endif()
  set(ONNXRUNTIME_ROOT "${_ort_root}" CACHE PATH "ONNX Runtime root with include/ and lib/" FORCE)
endif()

find_path(ONNXRUNTIME_INCLUDE_DIR onnxruntime_cxx_api.h
  PATHS ${ONNXRUNTIME_ROOT}/include ${ONNXRUNTIME_ROOT}/include/onnxruntime
  NO_DEFAULT_PATH)
find_library(ONNXRUNTIME_LIBRARY onnxruntime PATHS ${ONNXRUNTIME_ROOT}/lib NO_DEFAULT_PATH)
if(NOT ONNXRUNTIME_INCLUDE_DIR OR NOT ONNXRUNTIME_LIBRARY)
  message(FATAL_ERROR "No ONNX Runtime headers or library under ${ONNXRUNTIME_ROOT}")
endif()
message(STATUS "ONNX Runtime: ${ONNXRUNTIME_LIBRARY}")

add_library(onnxruntime::onnxruntime SHARED IMPORTED GLOBAL)
set_target_properties(onnxruntime::onnxruntime PROPERTIES
  IMPORTED_LOCATION "${ONNXRUNTIME_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${ONNXRUNTIME_INCLUDE_DIR}")
