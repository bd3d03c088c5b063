# Debian packages from the install components (cpack -G DEB in a build
# configured with CMAKE_INSTALL_PREFIX=/usr):
#   libmivo-capture1     runtime      the shared library
#   libmivo-capture-dev  development  header, link name, pkg-config, CMake package
#   mivo-recorder        recorder     the recorder and its manual page
#   mivo-ocr             ocr          the text-recognition tool and its manual page
# Depends come from dpkg-shlibdeps; the library ships a shlibs file so that
# packages built against it depend on libmivo-capture1.
set(CPACK_PACKAGE_NAME mivo)
set(CPACK_PACKAGE_VENDOR "Mivo")
set(CPACK_PACKAGE_CONTACT "Mivo developers <dev@mivo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Debian ships programs and libraries stripped (debug symbols go elsewhere).
set(CPACK_STRIP_FILES ON)
# The recorder links the library of this very build, not an installed one.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/capture)

set(CPACK_COMPONENTS_ALL runtime development recorder)
if(MIVO_BUILD_OCR)
  list(APPEND CPACK_COMPONENTS_ALL ocr)
endif()

set(library_package libmivo-capture${PROJECT_VERSION_MAJOR})
set(exact_library "${library_package} (= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${library_package})
# The shlibs file goes only into packages that ship a shared library.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The dynamic linker's cache is refreshed by dpkg's trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
# What a capture talks to: the sound server and its session manager.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "pipewire, wireplumber")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Mivo system-audio capture library\n Records what the machine plays (every process's audio output except the\n host's own) and hands it to the host as mono 32-bit float frames.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libmivo-capture-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${exact_library}")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "Mivo system-audio capture library (development files)\n The header, pkg-config module mivo-capture and CMake package MivoCapture\n (target Mivo::capture) for building hosts of libmivo_capture.")

set(CPACK_DEBIAN_RECORDER_PACKAGE_NAME mivo-recorder)
set(CPACK_DEBIAN_RECORDER_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_RECORDER_PACKAGE_DEPENDS "${exact_library}")
set(CPACK_COMPONENT_RECORDER_DESCRIPTION
    "Records what the machine plays into a WAV file\n A small host of libmivo_capture: mono 32-bit float WAV (RF64 beyond 4 GiB).")

set(CPACK_DEBIAN_OCR_PACKAGE_NAME mivo-ocr)
set(CPACK_DEBIAN_OCR_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_OCR_PACKAGE_DEPENDS tesseract-ocr-eng)
# A page in one of these languages is read again with its model.
set(CPACK_DEBIAN_OCR_PACKAGE_RECOMMENDS
    "tesseract-ocr-fra, tesseract-ocr-deu, tesseract-ocr-nld, tesseract-ocr-spa, tesseract-ocr-ita, tesseract-ocr-por")
set(CPACK_COMPONENT_OCR_DESCRIPTION
    "Prints the text of an image as one line of JSON\n Recognises the text of one image file with Tesseract and prints it, its\n line count and mean confidence as JSON.")

include(${CMAKE_CURRENT_LIST_DIR}/debian_docs.cmake)
set(mivo_copyright ${CMAKE_CURRENT_LIST_DIR}/debian/copyright)
mivo_package_docs(${library_package} runtime ${mivo_copyright})
mivo_package_docs(libmivo-capture-dev development ${mivo_copyright})
mivo_package_docs(mivo-recorder recorder ${mivo_copyright})
if(MIVO_BUILD_OCR)
  mivo_package_docs(mivo-ocr ocr ${mivo_copyright})
endif()

include(CPack)
