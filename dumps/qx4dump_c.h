/*
 * libqx4dump: tag dumps and restores over the QX4DRV library, for callers that are not
 * C++ (the Python package). The same code as qx4's dump, restore, diff and convert.
 *
 * - The reader is whatever QX4DRV has open (QX4DllOpen); these functions send through
 *   its exports, one command at a time, as any caller does.
 * - Texts in and out are UTF-8 JSON in the layout of docs/dump-format.md. Every char*
 *   handed out is the caller's: free it with qx4dump_free.
 * - Results: 1 success, 0 failure with *error set to a sentence.
 * - uid: 8 bytes as the reader delivers them (least significant first), or NULL for the
 *   only tag in the field (found by an inventory; several tags refuse).
 */
#ifndef QX4DUMP_C_H
#define QX4DUMP_C_H

#define QX4DUMP_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

QX4DUMP_API void qx4dump_free(char* text);

/* Stops a running read or restore between two frames; safe in a signal handler and from
 * any thread. It stays set, stopping every later one at once, until cleared: clear it
 * before a run you want to go ahead. An interrupted restore still hands out its report,
 * with "interrupted" true. */
QX4DUMP_API void qx4dump_interrupt(void);
QX4DUMP_API void qx4dump_clear_interrupt(void);

/* Frames the last read or restore sent again after a reply lost on the air or a
 * request no tag answered (0 when every frame went through at once). */
QX4DUMP_API int qx4dump_retries(void);

/* English text of a NACK code (of the ISO 15693 error code with code 5); static. */
QX4DUMP_API const char* qx4dump_nack_text(int code, int iso);

/* Any supported dump file's text (our JSON, Proxmark3 JSON, Flipper .nfc) as our JSON. */
QX4DUMP_API int qx4dump_parse(const char* text, char** json, char** error);
/* Our JSON written as "qx4", "proxmark" or "flipper". */
QX4DUMP_API int qx4dump_write(const char* json, const char* format, char** text, char** error);

/* The tag as a dump (our JSON). blockSize, blockCount: 0 for the tag's own; probeLocks:
 * find the AFI/DSFID locks by writing their values back. */
QX4DUMP_API int qx4dump_read_tag(const unsigned char* uid, int blockSize, int blockCount,
                                 int probeLocks, int timeoutMs, char** json, char** error);
/* Restores a dump (any supported format) onto the tag; *report: the restore's JSON
 * report (also when it refused or left the tag different: then the result is 0). */
QX4DUMP_API int qx4dump_restore(const char* dump, const unsigned char* uid, int force, int all,
                                int locks, int timeoutMs, char** report, char** error);
/* qx4dump_restore with, when option is non-zero, the ISO 15693 option flag in every
 * write and lock (tags that want it there). */
QX4DUMP_API int qx4dump_restore_with_option(const char* dump, const unsigned char* uid, int force,
                                            int all, int locks, int option, int timeoutMs,
                                            char** report, char** error);

/* The maker of a chip by its ISO/IEC 7816-6 code (the UID byte after E0); static, NULL
 * for a code the table does not hold. */
QX4DUMP_API const char* qx4dump_manufacturer(int code);

/* NDEF on the tag (see qx4ndef_c.h for the JSON of records). Each hands out *json also
 * on failure when it got as far as the tag: {"failure": "link"|"ndef"|"refused",
 * "written": [...]} then, so a caller tells a lost tag from a malformed or refused one.
 * read: capabilityContainer, ndef, message, records, uid. write: the message's bytes in
 * hex; written. format, erase: written. option: the ISO 15693 option flag on writes. */
QX4DUMP_API int qx4dump_ndef_read(const unsigned char* uid, int timeoutMs, char** json,
                                  char** error);
QX4DUMP_API int qx4dump_ndef_write(const unsigned char* uid, const char* messageHex, int option,
                                   int timeoutMs, char** json, char** error);
QX4DUMP_API int qx4dump_ndef_format(const unsigned char* uid, int option, int timeoutMs,
                                    char** json, char** error);
QX4DUMP_API int qx4dump_ndef_erase(const unsigned char* uid, int option, int timeoutMs, char** json,
                                   char** error);

#ifdef __cplusplus
}
#endif

#endif /* QX4DUMP_C_H */
