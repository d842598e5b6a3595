# cmake -DBITSTREAM=<file> -DHEADER=<out.h> -P BitstreamDigest.cmake
# Writes the MD5 digest and size of the generated FPGA configuration as a header.
file(MD5 "${BITSTREAM}" digest)
file(SIZE "${BITSTREAM}" size)
string(REGEX MATCHALL ".." pairs "${digest}")
set(bytes "")
foreach(pair ${pairs})
  if(bytes)
    string(APPEND bytes ", ")
  endif()
  string(APPEND bytes "0x${pair}")
endforeach()
file(WRITE "${HEADER}.tmp"
"// Generated from ${BITSTREAM}; do not edit.
#pragma once
#define QV_BITSTREAM_SIZE ${size}u
#define QV_BITSTREAM_MD5_BYTES ${bytes}
#define QV_BITSTREAM_MD5_TEXT \"${digest}\"
")
file(COPY_FILE "${HEADER}.tmp" "${HEADER}" ONLY_IF_DIFFERENT)
file(REMOVE "${HEADER}.tmp")
