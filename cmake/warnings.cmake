# Compiler warnings and Qt's strictness defines. Included by the top
# CMakeLists.txt: the warnings below hold for every target (program, tests,
# benchmarks, fuzz targets); the folders of src/ add the stricter ones.
#
# With DORVASU_WERROR=ON every warning fails the build (CI turns it on).

option(DORVASU_WERROR "Treat compiler warnings as errors" OFF)

set(DORVASU_WARNINGS
  -Wall -Wextra
  -Wshadow -Wold-style-cast -Wcast-qual
  -Wnon-virtual-dtor -Woverloaded-virtual
  -Wformat=2 -Wimplicit-fallthrough
  -Wextra-semi -Wmissing-declarations -Wredundant-decls)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND DORVASU_WARNINGS -Wduplicated-cond -Wlogical-op)
endif()
if(DORVASU_WERROR)
  list(APPEND DORVASU_WARNINGS -Werror)
endif()
add_compile_options(${DORVASU_WARNINGS})

# For the calling folder and its subfolders: integer conversions that may
# change a value (-Wconversion: sizes and offsets of 64 bits cut to 32, a
# signed value into a byte) or its sign (-Wsign-conversion), unless
# NO_SIGN_CONVERSION is given.
function(dorvasu_conversion_warnings)
  cmake_parse_arguments(C "NO_SIGN_CONVERSION" "" "" ${ARGN})
  add_compile_options(-Wconversion)
  if(NOT C_NO_SIGN_CONVERSION)
    add_compile_options(-Wsign-conversion)
  endif()
endfunction()

# For the calling folder and its subfolders: no implicit conversion between
# QString and const char * or QByteArray (text is UTF-8 by an explicit
# QString::fromUtf8 or a literal of QStringLiteral), no narrowing arguments
# in signal connections, and nothing Qt 6.4 (Debian 12's) deprecates. Qt 6.4
# reads QT_DISABLE_DEPRECATED_BEFORE (what was deprecated before 6.5 is
# gone); Qt 6.5 and later read QT_DISABLE_DEPRECATED_UP_TO.
function(dorvasu_qt_strict)
  add_compile_definitions(QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_DISABLE_DEPRECATED_BEFORE=0x060500 QT_DISABLE_DEPRECATED_UP_TO=0x060400)
endfunction()
