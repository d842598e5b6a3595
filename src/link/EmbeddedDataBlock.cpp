// The read-only data block of the resources built into the program. Today it
// holds one file, the FPGA configuration, at offset 0; the build names the file
// in QV_EMBEDDED_BITSTREAM_FILE.
#ifndef QV_EMBEDDED_BITSTREAM_FILE
#error "QV_EMBEDDED_BITSTREAM_FILE must name the generated FPGA configuration"
#endif

__asm__(".section .rodata.qvembedded,\"a\",@progbits\n"
        ".global qvEmbeddedDataBlock\n"
        ".type qvEmbeddedDataBlock, @object\n"
        ".global qvEmbeddedDataBlockEnd\n"
        ".type qvEmbeddedDataBlockEnd, @object\n"
        ".balign 16\n"
        "qvEmbeddedDataBlock:\n"
        ".incbin \"" QV_EMBEDDED_BITSTREAM_FILE "\"\n"
        "qvEmbeddedDataBlockEnd:\n"
        ".byte 0\n"
        ".previous\n");
