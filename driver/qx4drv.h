/*
 * QX4DRV: driver for a serial ISO 15693 (and my-d) reader/writer.
 *
 * Principles of this interface
 * - Flat C functions, C calling convention, usable from C, C++ and Python ctypes.
 * - Buffers belong to the caller. The library never allocates for the caller;
 *   each function states how many bytes it reads from or writes to a buffer.
 * - One command at a time, on the caller's thread. A command blocks until the
 *   reader's answer or until the response time-out (QX4SetCmdWaitTime, 2000 ms
 *   by default, clamped to 0..60000). While it waits it keeps calling the
 *   pumpMessages hook, so a GUI stays responsive.
 * - Command results are 1 for success and 0 for failure (time-out, NACK, another
 *   frame, no open context, a lost port, another command running, or arguments
 *   that cannot form a valid frame). The cause of a NACK is read with
 *   QX4GetErrorCode; codes are not cleared by a success, and a time-out leaves
 *   them unchanged.
 * - Outputs are written only on success. An ACK too short for the value a
 *   command reads is a failure and leaves the outputs untouched.
 * - Times are milliseconds. UIDs are 8 bytes in the order the reader delivers
 *   them (least significant byte first); the library never reorders them.
 * - Port n is opened as "COMn:", resolved to a device path by the environment
 *   variable QX4_COM<n> (for example QX4_COM3=/dev/ttyUSB0), else COM1-32 ->
 *   /dev/ttyS0-31, COM33-64 -> /dev/ttyUSB0-31, COM65-96 -> /dev/ttyACM0-31.
 *   What the device received before the open is discarded.
 *
 * Which answer belongs to which command
 * - Frames received before a command is sent (and a frame still arriving then)
 *   are dispatched first, as QX4ReadData would: notifications reach the window,
 *   NACK codes are recorded, acknowledgements nobody waits for are dropped.
 * - Tag commands (0x78) and reader reads and writes (0x4F, 0x4E) take only an
 *   ACK that echoes the ISO 15693 code or sub-command they sent; other ACKs are
 *   dispatched and the wait goes on. The buzzer (0x42), the simple read (0x52)
 *   and the tag data write take the first ACK. A NACK ends any wait.
 * - Notifications (data 0x44, UID data 0x64, UID report 0x49) arriving during a
 *   wait are dispatched and do not end it; QX4SimpleReadCmd, whose answer is
 *   such a frame, takes the first frame that is not a NACK.
 * - After a time-out, the next command of the same kind (same command byte and
 *   echo) first waits for the late reply, up to the response time-out (at least
 *   1000 ms) more, and drops it. A reply later than that can still answer it:
 *   nothing in the reply tells them apart.
 *
 * Threads and re-entry
 * - Command exports and QX4ReadData may be called from any thread. While one
 *   of them runs, another (from the pumpMessages hook, a window notification,
 *   a timer or another thread) returns 0 at once and sends nothing; the running
 *   command still gets its own answer. QX4ReadData is then a no-op.
 * - QX4DllOpen, QX4DllClose, QX4ComReOpen and the setters belong to one thread
 *   (the one that runs the commands), or to any thread while no command runs.
 * - The library runs one receive thread per open port. It calls no user code
 *   except the messageBox hook when the port hangs up or fails ("WaitCommEvent."
 *   or "Reading comms port.", caption "Error Info1"). From then on QX4IsOK is 0,
 *   a waiting command returns 0 at once and later commands return 0 without
 *   sending, until QX4ComReOpen (or QX4DllOpen) opens a port again. Every other
 *   hook and window notification runs on the thread of the command or QX4ReadData.
 * - The receive ring holds 16384 bytes. Bytes arriving while it is full of
 *   unscanned ones are dropped (never overwriting those) and reported to the
 *   trace hook as QX4_TRACE_LOST.
 */
#ifndef QX4DRV_H
#define QX4DRV_H

#include <stdint.h>

#if defined(QX4DRV_BUILDING)
#define QX4_API __attribute__((visibility("default")))
#else
#define QX4_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Platform layer ------------------------------------------------------ */

/* Unsolicited frame handed to the registered window. */
typedef struct QX4CopyData {
    uintptr_t kind;            /* 0 data notification, 1 UID data notification */
    uint32_t count;            /* number of data bytes */
    const unsigned char* data; /* valid only during the call */
} QX4CopyData;

typedef struct QX4Window QX4Window; /* what QX4SetHandle takes */
struct QX4Window {
    /* Called synchronously on the thread that runs a command wait or QX4ReadData. */
    void (*copyData)(QX4Window* self, const QX4CopyData* record);
};

typedef struct QX4PlatformHooks {
    /* Modal box. May be called from the receive thread (port read/wait failures). */
    void (*messageBox)(const char* textUtf8, const char* captionUtf8);
    /* Take and dispatch the caller's pending UI messages. */
    void (*pumpMessages)(void);
    /* "Windows\Alarm1.wav" after a port opened, "Windows\Alarm2.wav" when it did not. */
    void (*playSound)(const char* name);
} QX4PlatformHooks;

/* NULL restores the defaults: a box is one line "caption: text" on standard
 * error; pumping and sound do nothing. A NULL member keeps that member's default. */
QX4_API void QX4SetPlatformHooks(const QX4PlatformHooks* hooks);

/* Wire trace: called with every frame written (QX4_TRACE_SENT) and every complete
 * frame received (QX4_TRACE_RECEIVED), on the thread of the command or scan. With
 * QX4_TRACE_LOST, bytes is NULL and count the number of received bytes dropped
 * because the receive ring was full. QX4_TRACE_BAD: received bytes dropped as no
 * frame (wrong ETX, sum or CR, or a partial frame that stopped arriving); their
 * bytes after the STX are scanned again. NULL switches it off (the default). */
#define QX4_TRACE_SENT 0
#define QX4_TRACE_RECEIVED 1
#define QX4_TRACE_LOST 2
#define QX4_TRACE_BAD 3
typedef void (*QX4TraceHook)(int direction, const unsigned char* bytes, unsigned count, void* user);
QX4_API void QX4SetTraceHook(QX4TraceHook hook, void* user);

/* Why the last command export returned 0. QX4_CAUSE_NONE: it succeeded. */
#define QX4_CAUSE_NONE 0
#define QX4_CAUSE_TIMEOUT 1      /* no answer within the response time-out */
#define QX4_CAUSE_NACK 2         /* the reader refused: QX4GetErrorCode has the code */
#define QX4_CAUSE_BUSY 3         /* another command was running; nothing sent */
#define QX4_CAUSE_NO_PORT 4      /* no context, port not open or lost; nothing sent */
#define QX4_CAUSE_BAD_ARGUMENT 5 /* refused before any frame was sent */
#define QX4_CAUSE_BAD_REPLY 6    /* an answer of the wrong length or shape */
#define QX4_CAUSE_OUT_OF_STEP 7  /* the link could not be brought back in step */
QX4_API int QX4GetFailureCause(void);

/* Sends the link's fence (a request whose answer nothing else can be taken for) and
 * waits for its answer, dispatching every frame that arrives before it as a scan would
 * and taking none of them as an answer. 1 when the link is in step, 0 otherwise
 * (QX4GetFailureCause). Always sends. Call it once after opening when an earlier
 * program's late answer may still be on the line. */
QX4_API unsigned char QX4Resync(void);

/* UTF-8 text of a NACK code, or of the ISO 15693 error code when code is 5. */
QX4_API const char* QX4ErrorText(int code, int detail);

/* The library's version, "MAJOR.MINOR.PATCH". */
QX4_API const char* QX4LibraryVersion(void);

/* Sends one request of the caller's making: command byte (0x78 tag command, 0x4F / 0x4E
 * reader read / write, 0x42, 0x4A, 0x52) and its data field (0 to 255 bytes, for 0x78:
 * ISO 15693 code, parameters, mode byte, the UID when addressed), and waits as every
 * command does, under the same rules (one command at a time; an ACK of 0x78, 0x4F and
 * 0x4E must echo data[0]). 1 on an ACK: reply receives its data field (the echo first)
 * and *replyLength its length n. 0 on a NACK (QX4GetErrorCode), a time-out, an unknown
 * command byte or a data field that cannot be framed (nothing sent), and when n exceeds
 * replyCapacity (*replyLength still says n). reply: 255 bytes always suffice. */
QX4_API unsigned char QX4Transceive(int commandByte, const unsigned char* data, int length,
                                    unsigned char* reply, int replyCapacity, int* replyLength);

/* ---- Lifecycle and settings ---------------------------------------------- */

/* Creates the context (a previous one is destroyed) and opens COM<port>: at
 * 19200 baud, or 9600 when slowRate is non-zero. 1 when the port is open. The
 * context stays when the port fails, so QX4ComReOpen can retry. */
QX4_API unsigned char QX4DllOpen(int port, int slowRate);
QX4_API void QX4DllClose(void); /* closes the port, ends the receive thread */
QX4_API int QX4IsOK(void);      /* 1 when a context exists and its port is open and alive */
QX4_API void QX4SetHandle(QX4Window* window); /* NULL: no forwarding */
QX4_API int QX4ComReOpen(int port, int slowRate);
QX4_API int QX4GetPortNum(void);
QX4_API void QX4SetCommParam(int value); /* accepted and ignored */
/* Last NACK code and, for code 5, its ISO 15693 error code. Without a context
 * the outputs are left untouched; so do the other accessors' setters. */
QX4_API void QX4GetErrorCode(int* code, int* detail);
QX4_API int QX4GetTagBlockSize(void);
QX4_API void QX4SetTagBlockSize(int size);
QX4_API int QX4GetTagMydBlockSize(void);
QX4_API void QX4SetTagMydBlockSize(int size);
QX4_API int QX4GetRxWaitTime(void); /* scans before a partial frame is dropped */
QX4_API void QX4SetRxWaitTime(int scans);
QX4_API int QX4GetCmdWaitTime(void); /* response time-out, ms */
QX4_API void QX4SetCmdWaitTime(int milliseconds);
QX4_API int QX4GetTimerInterval(void); /* always 0 */
QX4_API void QX4SetTimerInterval(int value);
QX4_API int QX4GetfDispMessage(void);
QX4_API void QX4SetfDispMessage(int on); /* show diagnostic texts through messageBox */
/* Scans what arrived meanwhile and forwards notification frames; a no-op while
 * a command runs. */
QX4_API void QX4ReadData(void);

/* ---- Reader identity, control and I/O ------------------------------------ */

/* text: 255 bytes; receives the reply text and a terminating 0. */
QX4_API unsigned char QX4GetROMVersion(char* text);
QX4_API unsigned char QX4GetModelNameComad(char* text);
QX4_API unsigned char QX4ReStartComand(void); /* does not wait */
QX4_API unsigned char QX4SetTxOnOff(int value);
QX4_API unsigned char QX4SetPowerDown(void); /* does not wait */
QX4_API unsigned char QX4GetPowerDown(unsigned char* state);
QX4_API unsigned char QX4GetErrorStatus(unsigned char* status);
QX4_API unsigned char QX4SetLEDCont(int first, int second, int third);
/* Waits only when second is non-zero. */
QX4_API unsigned char QX4BuzOn(int first, int second);
QX4_API unsigned char QX4ReadIOPort(unsigned char* value);
QX4_API unsigned char QX4WriteIOPort(int first, int second);
/* 1 for any answer but a NACK (a data notification included). */
QX4_API unsigned char QX4SimpleReadCmd(void);

/* ---- Reader EEPROM and parameters ---------------------------------------- */

/* count: 0 to 126 words; data: 2 x count bytes. */
QX4_API unsigned char QX4GetEepromData2(int address, int count, unsigned char* data);
QX4_API unsigned char QX4GetEepromData(int address, unsigned char* data); /* 2 bytes */
QX4_API unsigned char QX4SetEepromData2(int address, int count, const unsigned char* data);
/* value's low byte is stored first */
QX4_API unsigned char QX4SetEepromData(int address, int value);
QX4_API unsigned char QX4InitEEPROM(void);
QX4_API unsigned char QX4GetParamData(int number, unsigned char* value);
QX4_API unsigned char QX4SetParamData(int number, int value);

/* ---- Operation mode and tag mode ----------------------------------------- */

QX4_API unsigned char QX4GetRWMode(unsigned char* mode, unsigned char* second,
                                   unsigned char* flags);
QX4_API unsigned char QX4DllRxModeSetCmd(unsigned char* mode, unsigned char* second,
                                         unsigned char* flags);
/* option non-zero: also store in the reader's EEPROM. */
QX4_API unsigned char QX4SetRWMode(int mode, int second, int flags, int value, int option);
QX4_API unsigned char QX4GetTagMode(unsigned char* tagMode); /* 0 stored on failure */
QX4_API unsigned char QX4SetTagMode(int tagMode, int option);

/* ---- UID registers, AFI register, tag data ------------------------------- */

QX4_API unsigned char QX4GetUidNumber(unsigned char* count);
QX4_API unsigned char QX4GetUidData(int index, unsigned char* uid); /* 8 bytes */
QX4_API unsigned char QX4GetUIDGetCmd(unsigned char* uid);          /* 8 bytes */
QX4_API unsigned char QX4SetUIDSetCmd(const unsigned char* uid);    /* 8 bytes */
QX4_API unsigned char QX4GetAFIData(unsigned char* afi);
QX4_API unsigned char QX4SetAFIData(int afi);
/* length 0 to 251, or 255 (sends 250 bytes). */
QX4_API unsigned char QX4WriteTagData(int length, const unsigned char* data);

/* ---- Tag commands ---------------------------------------------------------
 * requestMode: bits 0-1 UID designation (1: the 8-byte UID goes into the
 * request), bit 4 the ISO 15693 option flag (block reads: a block security
 * status byte precedes each block), other bits passed through. The uid
 * argument (8 bytes) is copied into the library's current UID first, whatever
 * the designation, so it must always be valid. Requests whose data would
 * exceed 255 bytes are refused (result 0, nothing sent). k below is the block
 * size (QX4SetTagBlockSize, default 4; my-d: QX4SetTagMydBlockSize, default 8).
 */
QX4_API unsigned char QX4Inventory(int requestMode, unsigned char* dsfidOut, unsigned char* uidOut);
QX4_API unsigned char QX4InventoryB(int requestMode, unsigned char* dsfidOut,
                                    unsigned char* uidOut);
/* countOut is written only when inventoryParam is 0. */
QX4_API unsigned char QX4Inventory2(int requestMode, int inventoryParam, unsigned char* countOut);
QX4_API unsigned char QX4StayQuiet(int requestMode, const unsigned char* uid);
QX4_API unsigned char QX4SelectTag(int requestMode, const unsigned char* uid);
QX4_API unsigned char QX4ResetToReady(int requestMode, const unsigned char* uid);

/* out: k bytes, k + 1 with the option flag (status first). */
QX4_API unsigned char QX4ReadSingleBlock(int requestMode, int blockNo, unsigned char* out,
                                         const unsigned char* uid);
QX4_API unsigned char QX4ReadSingleBlockB(int requestMode, int blockNo, unsigned char* out,
                                          const unsigned char* uid);
QX4_API unsigned char QX4WriteSingleBlock(int requestMode, int blockNo, const unsigned char* data,
                                          const unsigned char* uid);
QX4_API unsigned char QX4LockBlock(int requestMode, int blockNo, const unsigned char* uid);
/* out: (blocksMinus1 + 1) x (k [+ 1 with the option flag]) bytes. */
QX4_API unsigned char QX4ReadMultiBlock(int requestMode, int firstBlock, int blocksMinus1,
                                        unsigned char* out, const unsigned char* uid);
QX4_API unsigned char QX4WriteMultiBlock(int requestMode, int firstBlock, int blocksMinus1,
                                         const unsigned char* data, const unsigned char* uid);
/* out: blocksMinus1 + 1 status bytes. */
QX4_API unsigned char QX4GetMBlockSecSt(int requestMode, int firstBlock, int blocksMinus1,
                                        unsigned char* out, const unsigned char* uid);
QX4_API unsigned char QX4Write2Blocks(int requestMode, int blockNo, const unsigned char* data,
                                      const unsigned char* uid);
QX4_API unsigned char QX4Lock2Blocks(int requestMode, int blockNo, const unsigned char* uid);
/* out: byteCount + 1 bytes from the start of the block. */
QX4_API unsigned char QX4ReadBytes(int requestMode, int blockNo, int byteCount, unsigned char* out,
                                   const unsigned char* uid);
QX4_API unsigned char QX4WriteBytes(int requestMode, int blockNo, int byteCount,
                                    const unsigned char* data, const unsigned char* uid);

QX4_API unsigned char QX4WriteAFI(int requestMode, int afiValue, const unsigned char* uid);
QX4_API unsigned char QX4LockAFI(int requestMode, const unsigned char* uid);
QX4_API unsigned char QX4WrietDSFID(int requestMode, int dsfidValue, const unsigned char* uid);
QX4_API unsigned char QX4LockDSFID(int requestMode, const unsigned char* uid);
/* out: up to 255 bytes: info flags, UID, the fields the flags announce, then the
 * reply frame's ETX byte; *lenOut = that count. */
QX4_API unsigned char QX4GetSystemInfo(int requestMode, unsigned char* out, int* lenOut,
                                       const unsigned char* uid);

/* my-d. out: k bytes, k + 1 with the option flag (status first). */
QX4_API unsigned char QX4Myd_Read(int requestMode, int blockNo, unsigned char* out,
                                  const unsigned char* uid);
QX4_API unsigned char QX4MydWrite(int requestMode, int blockNo, const unsigned char* data,
                                  const unsigned char* uid);
QX4_API unsigned char QX4Myd_WriteByte(int requestMode, int blockNo, int byte1, int byte2,
                                       const unsigned char* uid);
/* buf: k bytes to write; on success it receives the block read back. Like a
 * block read, the reply starts with the block security status byte when this
 * request's option flag (bit 4) is set: buf then receives k + 1 bytes. */
QX4_API unsigned char QX4MydWriteReread(int requestMode, int blockNo, unsigned char* buf,
                                        const unsigned char* uid);

/* ---- Placeholders kept for binary compatibility -------------------------- */
QX4_API int fnQX4DRV(void); /* returns 42 */
QX4_API extern int nQX4DRV;

#ifdef __cplusplus
} /* extern "C" */

class QX4_API CQX4DRV {
  public:
    CQX4DRV();
    CQX4DRV& operator=(const CQX4DRV&);
};
#endif

#endif /* QX4DRV_H */
