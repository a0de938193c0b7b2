/*
 * QX4DRV: driver for a serial ISO 15693 (and my-d) reader/writer.
 *
 * Principles of this interface
 * - Flat C functions, C calling convention, usable from C, C++ and Python ctypes.
 * - One context per process: QX4DllOpen replaces the previous one, and the port, the
 *   receive ring and the hooks are process-wide.
 * - Buffers belong to the caller. The library never allocates for the caller;
 *   each function states how many bytes it reads from or writes to a buffer.
 * - One command at a time. A command blocks until the reader's answer or until the
 *   response time-out W (QX4SetCmdWaitTime, 2000 ms by default, 0..60000). While it
 *   waits it keeps calling the pumpMessages hook, so a GUI stays responsive.
 * - Longest block: a command takes at most max(W, 1000) + W ms (one fence, below, and
 *   its own wait; with W = 0 its own wait looks once, the fence still waits 1000 ms),
 *   plus its writes (each at most 100 ms + 10 ms a byte on a line that does not take
 *   them: 200 ms for the fence, up to 2720 ms for a request of 255 data bytes), plus the
 *   time its hooks take. Without an open port (never opened, failed to open, or lost)
 *   every command returns 0 at once.
 * - Command results are 1 for success and 0 for failure. QX4GetFailureCause says
 *   why: a time-out, a NACK (code with QX4GetErrorCode; codes are not cleared by a
 *   success, and a time-out leaves them unchanged), another command running, no
 *   port, an argument refused before anything was sent, a reply of the wrong length
 *   or shape, a link that could not be brought back in step, or a reader that refuses
 *   the reads the link resynchronises with.
 * - Outputs are written only on success. Each export takes only the reply length
 *   its arguments call for (stated at the export; "acknowledged" means an ACK with
 *   the echo alone, n = 1); a reply of any other length is a failure
 *   (QX4_CAUSE_BAD_REPLY) and leaves the outputs untouched.
 * - Block numbers, counts and EEPROM addresses outside 0..255, and requests or
 *   replies that would not fit one frame, are refused before any frame
 *   (QX4_CAUSE_BAD_ARGUMENT). Other integer arguments travel as their low byte.
 * - Times are milliseconds. UIDs are 8 bytes in the order the reader delivers
 *   them (least significant byte first); the library never reorders them.
 * - Port n is opened as "COMn:", resolved to a device path by the environment
 *   variable QX4_COM<n> (for example QX4_COM3=/dev/ttyUSB0), else COM1-32 ->
 *   /dev/ttyS0-31, COM33-64 -> /dev/ttyUSB0-31, COM65-96 -> /dev/ttyACM0-31.
 *   What the device received before the open is discarded.
 * - Network ports: QX4_COM<n> may be tcp://HOST:PORT or rfc2217://HOST:PORT. The
 *   connection (and, for RFC 2217, the server's agreement) must come within 3 s,
 *   or the open fails with a box naming the address. A connection the server
 *   closes or resets counts as a lost port, as an unplugged device does.
 *
 * Which answer belongs to which command
 * - A received frame counts only with ETX at 4+n, the right sum at 5+n and CR at
 *   6+n; any other is dropped (the trace hook sees it as QX4_TRACE_BAD) and the
 *   bytes after its STX are scanned again. A partial frame is dropped when 200 ms
 *   pass without a byte during a wait, after a receive-ring overrun, and outside
 *   waits after QX4GetRxWaitTime scans without a byte. Pauses inside a frame such as
 *   a USB-serial adapter's (16 ms latency timer, 62-byte packets) or a UART FIFO's
 *   (14-byte chunks) do not drop it.
 * - Frames received before a command is sent are dispatched first, as QX4ReadData
 *   would: notifications reach the window, NACK codes are recorded. A frame still
 *   arriving when a command is sent goes on arriving; it answers none of that
 *   command (a notification among them reaches the window).
 * - After anything that leaves an answer in doubt or may be followed by another
 *   (a time-out, a command sent without waiting for its answer, a dropped frame or
 *   partial frame, a NACK, an ACK nobody waited for or that a wait passed over, a
 *   frame of an unknown type in place of an answer, a receive-ring overrun), the
 *   next command first sends the fence and waits up to max(W, 1000) ms (also with
 *   W = 0) for its answer, dispatching every frame before it and taking none of them
 *   as an answer. Only then does it send its own request. The fence is an EEPROM read
 *   within words 0 to 19 whose address and count change with every fence, so that
 *   its reply differs in echo and length from the previous fence's, and from every
 *   EEPROM read (the caller's or a fence's) whose answer may still come. A NACK to a
 *   fence is followed by another request within the same wait; after 3 refused
 *   fences the command fails with QX4_CAUSE_FENCE_REFUSED. If the fence's answer does
 *   not come, the command fails with QX4_CAUSE_OUT_OF_STEP; either way nothing is
 *   sent and the link stays in doubt (the next fence asks for other words). NACKs
 *   that arrive while a fence is awaited leave QX4GetErrorCode alone. While nothing
 *   is in doubt no fence is sent. QX4Resync sends one on demand. QX4ComReOpen keeps
 *   a doubt (an answer owed by the reader may still arrive on the new port);
 *   QX4DllOpen starts a new context in step, so call QX4Resync after it when an
 *   earlier answer may still be on the line. The first fence after an open is drawn
 *   at random from all 210 reads within words 0 to 19, so another program's late
 *   fence answer matches it less often than 1 in 200; later fences read 1 to 4 words.
 * - QX4SetRWMode (the mode write) is sent even when its fence fails, so that a
 *   reader that refuses everything else while it scans can always be taken out of
 *   auto-scan; its result then means that an ACK echoing the mode write came, and
 *   the link stays in doubt (the next command fences).
 * - Tag commands (0x78) and reader reads and writes (0x4F, 0x4E) take only an
 *   ACK that echoes the ISO 15693 code or sub-command they sent; other ACKs are
 *   dispatched and the wait goes on. The buzzer (0x42), the simple read (0x52)
 *   and the tag data write take the first ACK (but none shaped as an EEPROM read's
 *   answer). A NACK or a frame of an unknown type ends any wait. A NACK without data
 *   records code 256 ("no code").
 * - Notifications (data 0x44, UID data 0x64, UID report 0x49) arriving during a
 *   wait are dispatched and do not end it; QX4SimpleReadCmd, whose answer is
 *   such a frame, takes the first frame that is not a NACK.
 *
 * What the link needs from the reader, and what it assumes
 * - EEPROM reads (0x4F 70 address count) of words 0 to 19, any count that stays within
 *   them, answered with the echo 70 address count and 2 x count bytes: these are the
 *   fence. A reader that refuses them makes every command after a doubt fail with
 *   QX4_CAUSE_FENCE_REFUSED, one that ignores them with QX4_CAUSE_OUT_OF_STEP; the
 *   mode write goes out all the same.
 * - One answer per request, in the order of the requests, within W of the request. A
 *   later answer, an answer sent twice, or a NACK followed by the answer puts the link
 *   in doubt, and the next command is fenced. An answer byte for byte like the last one
 *   taken, to another request, may be that answer repeated: when it carries data, or
 *   when a first-ACK command would take another command's ACK, a fence after it tells
 *   (so two different requests in a row answered alike, such as reads of two blank
 *   blocks, cost one fence); once the reader has been seen repeating, a read that the
 *   fence cannot tell from a repeat (nothing came before the fence's answer: its own
 *   answer may have been lost) is sent once more. A repeated bare acknowledgement
 *   can pass for the next acknowledgement of its kind, and a failure could then be
 *   reported as a success.
 * - Answers of 0x78, 0x4F and 0x4E echo what they answer (ISO 15693 code or
 *   sub-command). The buzzer, the tag data write and the simple read carry no echo:
 *   their success means only that an ACK came (for the simple read, a frame that is
 *   not a NACK); an ACK the reader sends of its own accord during their wait is taken.
 * - Notifications (0x44, 0x64, 0x49) never answer a request. While the reader scans
 *   (auto-scan, trigger, polling) QX4SimpleReadCmd's result means nothing: its answer
 *   cannot be told from the scan's notifications.
 *
 * Threads, hooks and re-entry
 * - Command exports, QX4Resync and QX4ReadData may be called from any thread and
 *   from any hook. While one of them runs, another returns 0 at once and sends
 *   nothing (QX4_CAUSE_BUSY); the running command still gets its own answer.
 *   QX4ReadData is then a no-op.
 * - Setters and getters may be called from any hook; from another thread only
 *   while no command runs (they are not synchronised with a running command). On
 *   the receive thread (the messageBox hook of a lost port) setters and
 *   QX4GetErrorCode do nothing.
 * - A child process forked after an open neither uses nor closes its parent's
 *   port: there QX4IsOK is 0 and commands fail (QX4_CAUSE_NO_PORT).
 * - QX4DllOpen, QX4DllClose and QX4ComReOpen:
 *   - from another thread while a command runs: the command is woken, fails
 *     (QX4_CAUSE_NO_PORT) within a poll period, and the call waits for it to end;
 *   - from a hook or window notification of the running command (on its thread):
 *     done at once; that command then fails without touching the port again;
 *   - from the messageBox hook on the receive thread, and from hooks called
 *     during one of these three calls: refused (QX4DllOpen and QX4ComReOpen
 *     return 0, QX4DllClose does nothing). Reopen from the caller's thread instead.
 *   - while the messageBox hook of a lost port runs on the receive thread, they wait
 *     for it to return (the thread is ended first): a box hook that hands the box
 *     to the GUI thread and waits must not be waited for by that same thread.
 * - The library runs one receive thread per open port. It calls no user code
 *   except the messageBox hook when the port hangs up or fails ("WaitCommEvent."
 *   or "Reading comms port.", caption "Error Info1"). The port counts as lost
 *   before that box shows: QX4IsOK is 0 and commands fail at once, until
 *   QX4ComReOpen (or QX4DllOpen) opens a port again. Every other hook and window
 *   notification runs on the thread of the command or QX4ReadData.
 * - Lifetimes: the hook table passed to QX4SetPlatformHooks is copied (it may go
 *   at once). The window passed to QX4SetHandle, and the trace hook's user
 *   pointer, must stay valid until they are replaced and any command or
 *   QX4ReadData running on another thread at that moment has returned. The trace
 *   hook and its user pointer are replaced together: a trace never sees one
 *   with the other's partner. Bytes
 *   handed to the window and the trace hook are valid only during the call.
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

/* What each hook may call: see "Threads, hooks and re-entry" above. In short, from
 * messageBox on the receive thread: anything but the lifecycle calls (refused), and
 * commands fail at once there (the port is lost); from messageBox, pumpMessages or a
 * window notification on a command's thread: anything, other commands fail with
 * QX4_CAUSE_BUSY, a lifecycle call ends the running command; from playSound and the
 * boxes of QX4DllOpen / QX4ComReOpen: anything but the lifecycle calls (refused). */
typedef struct QX4PlatformHooks {
    /* Modal box. May be called from the receive thread (port read/wait failures). */
    void (*messageBox)(const char* textUtf8, const char* captionUtf8);
    /* Take and dispatch the caller's pending UI messages. */
    void (*pumpMessages)(void);
    /* "Windows\Alarm1.wav" after a port opened, "Windows\Alarm2.wav" when it did not. */
    void (*playSound)(const char* name);
} QX4PlatformHooks;

/* The table is copied. NULL restores the defaults: a box is one line "caption: text"
 * on standard error; pumping and sound do nothing. A NULL member keeps that member's
 * default. */
QX4_API void QX4SetPlatformHooks(const QX4PlatformHooks* hooks);

/* Wire trace (the fence's frames included): called with every frame written
 * (QX4_TRACE_SENT) and every complete
 * frame received (QX4_TRACE_RECEIVED), on the thread of the command or scan. With
 * QX4_TRACE_LOST, bytes is NULL and count the number of received bytes dropped
 * because the receive ring was full. QX4_TRACE_BAD: received bytes dropped as no
 * frame (wrong ETX, sum or CR, or a partial frame that stopped arriving); their
 * bytes after the STX are scanned again. NULL switches it off (the default). The hook
 * may call any export, as the window may (a close or reopen from it ends the running
 * command; a close from the trace of a frame being sent keeps the frame unsent). */
#define QX4_TRACE_SENT 0
#define QX4_TRACE_RECEIVED 1
#define QX4_TRACE_LOST 2
#define QX4_TRACE_BAD 3
typedef void (*QX4TraceHook)(int direction, const unsigned char* bytes, unsigned count, void* user);
QX4_API void QX4SetTraceHook(QX4TraceHook hook, void* user);

/* Called on the receive thread each time bytes arrived, so a program that waits on
 * something of its own (a condition variable, an event loop) wakes at once and then
 * calls QX4ReadData on its own thread. It must only wake that thread: it may call no
 * export and must not block. NULL switches it off (the default). The user pointer
 * must stay valid until the hook is replaced and the port is closed. */
typedef void (*QX4ReceivedHook)(void* user);
QX4_API void QX4SetReceivedHook(QX4ReceivedHook hook, void* user);

/* Why the last command export returned 0. QX4_CAUSE_NONE: it succeeded. */
#define QX4_CAUSE_NONE 0
#define QX4_CAUSE_TIMEOUT 1      /* no answer within the response time-out */
#define QX4_CAUSE_NACK 2         /* the reader refused: QX4GetErrorCode has the code */
#define QX4_CAUSE_BUSY 3         /* another command was running; nothing sent */
#define QX4_CAUSE_NO_PORT 4      /* no context, port not open or lost; nothing sent */
#define QX4_CAUSE_BAD_ARGUMENT 5 /* refused before any frame was sent */
#define QX4_CAUSE_BAD_REPLY 6    /* an answer of the wrong length or shape */
#define QX4_CAUSE_OUT_OF_STEP 7  /* the link could not be brought back in step */
/* The reader refused the EEPROM reads (words 0-19) the link resynchronises with, several
 * in a row: it was not brought back in step. QX4GetErrorCode keeps the caller's codes. */
#define QX4_CAUSE_FENCE_REFUSED 8
QX4_API int QX4GetFailureCause(void);

/* Why this process's last QX4DllOpen, QX4DllOpenDevice or QX4ComReOpen failed: the
 * system's error code (errno; GetLastError on Windows), 0 when it succeeded or failed
 * without one (an address that is not tcp:// or rfc2217://, a server that refused
 * RFC 2217). `text` (may be NULL) receives the reason in words, UTF-8, cut to `size`
 * bytes with its NUL: "in use by another program" (EBUSY), "Permission denied" (EACCES:
 * the user is not in the dialout group), "No such file or directory", "cannot connect:
 * Connection refused", ...; "" after an open that succeeded. Needs no context. */
QX4_API int QX4GetOpenError(char* text, int size);

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
 * replyCapacity (*replyLength still says n). reply: 255 bytes always suffice. Reads
 * length bytes of data. Any reply length is taken; the caller checks it. */
QX4_API unsigned char QX4Transceive(int commandByte, const unsigned char* data, int length,
                                    unsigned char* reply, int replyCapacity, int* replyLength);

/* ---- Lifecycle and settings ---------------------------------------------- */

/* Creates the context (a previous one is destroyed) and opens COM<port>: at
 * 19200 baud, or 9600 when slowRate is non-zero. 1 when the port is open. The
 * context stays when the port fails, so QX4ComReOpen can retry; until then every
 * command fails at once with QX4_CAUSE_NO_PORT. A network port may take up to 3 s. */
QX4_API unsigned char QX4DllOpen(int port, int slowRate);
/* As QX4DllOpen, on a device named directly (a path, rfc2217://HOST:PORT or
 * tcp://HOST:PORT) instead of a COM number: no environment variable is read or set.
 * The context's port number is 0; QX4ComReOpen(0, rate) reopens the same device. */
QX4_API unsigned char QX4DllOpenDevice(const char* device, int slowRate);
QX4_API void QX4DllClose(void); /* closes the port, ends the receive thread */
QX4_API int QX4IsOK(void);      /* 1 when a context exists and its port is open and alive */
QX4_API void QX4SetHandle(QX4Window* window); /* NULL: no forwarding */
QX4_API int QX4ComReOpen(int port, int slowRate);
QX4_API int QX4GetPortNum(void);
QX4_API void QX4SetCommParam(int value); /* accepted and ignored */
/* Last NACK code (256 for a NACK without data) and, for code 5, its ISO 15693 error
 * code (0 when the NACK carried none). Without a context the outputs are left
 * untouched, and the setters below do nothing. */
QX4_API void QX4GetErrorCode(int* code, int* detail);
/* Block sizes 1 to 32; other values are refused (the setting stays). */
QX4_API int QX4GetTagBlockSize(void);
QX4_API void QX4SetTagBlockSize(int size);
QX4_API int QX4GetTagMydBlockSize(void);
QX4_API void QX4SetTagMydBlockSize(int size);
/* Scans without a byte before a partial frame is dropped outside waits (default 100);
 * negative values are refused. */
QX4_API int QX4GetRxWaitTime(void);
QX4_API void QX4SetRxWaitTime(int scans);
/* Response time-out W, ms: negative values are refused, values above 60000 clamped. */
QX4_API int QX4GetCmdWaitTime(void);
QX4_API void QX4SetCmdWaitTime(int milliseconds);
QX4_API int QX4GetTimerInterval(void); /* always 0 */
QX4_API void QX4SetTimerInterval(int value);
QX4_API int QX4GetfDispMessage(void);
QX4_API void QX4SetfDispMessage(int on); /* show diagnostic texts through messageBox */
/* Scans what arrived meanwhile and forwards notification frames; a no-op while
 * a command runs. */
QX4_API void QX4ReadData(void);

/* ---- Reader identity, control and I/O ------------------------------------ */

/* text: 255 bytes; receives the reply text (n - 1 bytes, any n) and a terminating 0. */
QX4_API unsigned char QX4GetROMVersion(char* text);
QX4_API unsigned char QX4GetModelNameComad(char* text);
/* Send without waiting (1 when sent); whatever the reader answers is passed by the
 * next command's fence. */
QX4_API unsigned char QX4ReStartComand(void);
QX4_API unsigned char QX4SetPowerDown(void);
/* Writes: acknowledged. */
QX4_API unsigned char QX4SetTxOnOff(int value);
QX4_API unsigned char QX4SetLEDCont(int first, int second, int third);
QX4_API unsigned char QX4WriteIOPort(int first, int second);
/* One value byte: n = 2. */
QX4_API unsigned char QX4GetPowerDown(unsigned char* state);
QX4_API unsigned char QX4GetErrorStatus(unsigned char* status);
QX4_API unsigned char QX4ReadIOPort(unsigned char* value);
/* Waits only when second is non-zero, then for the first ACK (any n; 1 means only that
 * an ACK came); with second 0 it is sent without waiting, like QX4ReStartComand. */
QX4_API unsigned char QX4BuzOn(int first, int second);
/* 1 for any answer but a NACK (a data notification included). Meaningless while the
 * reader scans: a notification of the scan passes for the answer. */
QX4_API unsigned char QX4SimpleReadCmd(void);

/* ---- Reader EEPROM and parameters ---------------------------------------- */

/* address: word 0 to 255; count: 0 to 126 words (others refused). Reads take a reply
 * echoing address and count with n = 3 + 2 x count and write 2 x count bytes to data;
 * writes read 2 x count bytes from data and are acknowledged. */
QX4_API unsigned char QX4GetEepromData2(int address, int count, unsigned char* data);
QX4_API unsigned char QX4GetEepromData(int address, unsigned char* data); /* 2 bytes */
QX4_API unsigned char QX4SetEepromData2(int address, int count, const unsigned char* data);
/* value's low byte is stored first */
QX4_API unsigned char QX4SetEepromData(int address, int value);
QX4_API unsigned char QX4InitEEPROM(void);                               /* acknowledged */
QX4_API unsigned char QX4GetParamData(int number, unsigned char* value); /* n = 2 */
QX4_API unsigned char QX4SetParamData(int number, int value);            /* acknowledged */

/* ---- Operation mode and tag mode ----------------------------------------- */

/* Reply: mode, second, flags and the two value bytes QX4SetRWMode writes, n = 6. */
QX4_API unsigned char QX4GetRWMode(unsigned char* mode, unsigned char* second,
                                   unsigned char* flags);
QX4_API unsigned char QX4DllRxModeSetCmd(unsigned char* mode, unsigned char* second,
                                         unsigned char* flags);
/* option non-zero: also store in the reader's EEPROM. Acknowledged. Sent even when the
 * fence before it fails (see above): the way out of auto-scan is never locked. */
QX4_API unsigned char QX4SetRWMode(int mode, int second, int flags, int value, int option);
/* n = 2; 0 stored on failure (with a context). */
QX4_API unsigned char QX4GetTagMode(unsigned char* tagMode);
QX4_API unsigned char QX4SetTagMode(int tagMode, int option); /* acknowledged */

/* ---- UID registers, AFI register, tag data ------------------------------- */

QX4_API unsigned char QX4GetUidNumber(unsigned char* count); /* n = 2 */
/* uid: 8 bytes. Replies: index, a byte and the UID (n = 11); the UID alone (n = 9). */
QX4_API unsigned char QX4GetUidData(int index, unsigned char* uid);
QX4_API unsigned char QX4GetUIDGetCmd(unsigned char* uid);
QX4_API unsigned char QX4SetUIDSetCmd(const unsigned char* uid); /* reads 8; acknowledged */
QX4_API unsigned char QX4GetAFIData(unsigned char* afi);         /* n = 2 */
QX4_API unsigned char QX4SetAFIData(int afi);                    /* acknowledged */
/* Reads length bytes: 0 to 251, or 255 (sends 250 bytes); 252 to 254 refused. Takes
 * the first ACK (any n; 1 means only that an ACK came). */
QX4_API unsigned char QX4WriteTagData(int length, const unsigned char* data);

/* ---- Tag commands ---------------------------------------------------------
 * requestMode: bits 0-1 UID designation (1: the 8-byte UID goes into the
 * request), bit 4 the ISO 15693 option flag (block reads: a block security
 * status byte precedes each block), other bits passed through. The uid
 * argument (8 bytes) is copied into the library's current UID first, whatever
 * the designation, so it must always be valid. Requests whose data would
 * exceed 255 bytes, and reads whose reply would exceed one frame (254 bytes after
 * the echo), are refused (result 0, nothing sent). k below is the block size
 * (QX4SetTagBlockSize, default 4; my-d: QX4SetTagMydBlockSize, default 8); s is 1
 * with the option flag, else 0. Writes, locks, selects and AFI/DSFID commands are
 * acknowledged (n = 1). Block numbers and counts: 0 to 255.
 */
/* Reply: DSFID and UID, n = 10. */
QX4_API unsigned char QX4Inventory(int requestMode, unsigned char* dsfidOut, unsigned char* uidOut);
QX4_API unsigned char QX4InventoryB(int requestMode, unsigned char* dsfidOut,
                                    unsigned char* uidOut);
/* countOut is written only when inventoryParam is 0, from a reply with n = 2; other
 * parameters take any acknowledgement. */
QX4_API unsigned char QX4Inventory2(int requestMode, int inventoryParam, unsigned char* countOut);
QX4_API unsigned char QX4StayQuiet(int requestMode, const unsigned char* uid);
QX4_API unsigned char QX4SelectTag(int requestMode, const unsigned char* uid);
QX4_API unsigned char QX4ResetToReady(int requestMode, const unsigned char* uid);

/* out: k + s bytes (status first); n = 1 + k + s. */
QX4_API unsigned char QX4ReadSingleBlock(int requestMode, int blockNo, unsigned char* out,
                                         const unsigned char* uid);
QX4_API unsigned char QX4ReadSingleBlockB(int requestMode, int blockNo, unsigned char* out,
                                          const unsigned char* uid);
/* data: k bytes. */
QX4_API unsigned char QX4WriteSingleBlock(int requestMode, int blockNo, const unsigned char* data,
                                          const unsigned char* uid);
QX4_API unsigned char QX4LockBlock(int requestMode, int blockNo, const unsigned char* uid);
/* out: (blocksMinus1 + 1) x (k + s) bytes, n = 1 + that. Write data:
 * (blocksMinus1 + 1) x k bytes. */
QX4_API unsigned char QX4ReadMultiBlock(int requestMode, int firstBlock, int blocksMinus1,
                                        unsigned char* out, const unsigned char* uid);
QX4_API unsigned char QX4WriteMultiBlock(int requestMode, int firstBlock, int blocksMinus1,
                                         const unsigned char* data, const unsigned char* uid);
/* out: blocksMinus1 + 1 status bytes, n = 1 + that. */
QX4_API unsigned char QX4GetMBlockSecSt(int requestMode, int firstBlock, int blocksMinus1,
                                        unsigned char* out, const unsigned char* uid);
/* data: 2 x k bytes. */
QX4_API unsigned char QX4Write2Blocks(int requestMode, int blockNo, const unsigned char* data,
                                      const unsigned char* uid);
QX4_API unsigned char QX4Lock2Blocks(int requestMode, int blockNo, const unsigned char* uid);
/* out: byteCount + 1 bytes from the start of the block, n = byteCount + 2. The write
 * reads byteCount bytes of data. */
QX4_API unsigned char QX4ReadBytes(int requestMode, int blockNo, int byteCount, unsigned char* out,
                                   const unsigned char* uid);
QX4_API unsigned char QX4WriteBytes(int requestMode, int blockNo, int byteCount,
                                    const unsigned char* data, const unsigned char* uid);

QX4_API unsigned char QX4WriteAFI(int requestMode, int afiValue, const unsigned char* uid);
QX4_API unsigned char QX4LockAFI(int requestMode, const unsigned char* uid);
QX4_API unsigned char QX4WrietDSFID(int requestMode, int dsfidValue, const unsigned char* uid);
QX4_API unsigned char QX4LockDSFID(int requestMode, const unsigned char* uid);
/* out: up to 255 bytes: info flags, UID, the fields the flags announce, then the
 * reply frame's ETX byte; *lenOut = that count. The reply must hold exactly the
 * fields its flags announce (DSFID 0x01, AFI 0x02, memory size 0x04 (2 bytes), IC
 * reference 0x08): n = 10 + those. */
QX4_API unsigned char QX4GetSystemInfo(int requestMode, unsigned char* out, int* lenOut,
                                       const unsigned char* uid);

/* my-d, with the my-d block size k. out: k + s bytes (status first), n = 1 + k + s.
 * QX4MydWrite reads k bytes of data. */
QX4_API unsigned char QX4Myd_Read(int requestMode, int blockNo, unsigned char* out,
                                  const unsigned char* uid);
QX4_API unsigned char QX4MydWrite(int requestMode, int blockNo, const unsigned char* data,
                                  const unsigned char* uid);
QX4_API unsigned char QX4Myd_WriteByte(int requestMode, int blockNo, int byte1, int byte2,
                                       const unsigned char* uid);
/* buf: k bytes to write; on success it receives the block read back. Like a
 * block read, the reply starts with the block security status byte when this
 * request's option flag (bit 4) is set: buf then receives k + 1 bytes (n = 1 + k + s). */
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
