/* Reads the first tag in the field: its UID and its first block.
 * usage: read_tag [COM number]   (the port is resolved through QX4_COM<n>) */
#include <qx4drv.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    const int port = argc > 1 ? atoi(argv[1]) : 3;
    if (!QX4DllOpen(port, 0)) {
        fprintf(stderr, "cannot open COM%d\n", port);
        QX4DllClose();
        return 1;
    }
    unsigned char dsfid = 0, uid[8], block[4];
    int status = 1;
    if (QX4Inventory(0x40, &dsfid, uid) && QX4ReadSingleBlock(0x01, 0, block, uid)) {
        printf("UID ");
        for (int i = 7; i >= 0; --i)
            printf("%02X", uid[i]);
        printf("  block 0: %02X %02X %02X %02X\n", block[0], block[1], block[2], block[3]);
        status = 0;
    } else {
        int code = 0, detail = 0;
        QX4GetErrorCode(&code, &detail);
        fprintf(stderr, "no tag read (last NACK %d: %s)\n", code, QX4ErrorText(code, detail));
    }
    QX4DllClose();
    return status;
}
