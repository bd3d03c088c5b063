# find_package(MivoCapture) gives the imported target Mivo::capture: the
# shared library libmivo_capture and the directory of mivo_capture.h.
include(${CMAKE_CURRENT_LIST_DIR}/MivoCaptureTargets.cmake)
