/*
 * NDEF on bytes alone, for callers that are not C++ (the Python package); part of
 * libqx4dump. Every char* handed out is the caller's: free it with qx4dump_free.
 * Results: 1 success, 0 failure with *error set to a sentence.
 *
 * Records travel as JSON lists: each record as qx4 --json ndef read shows it (tnf, type,
 * id, payload in hex and the decoded fields) when read, and as {"uri": ...},
 * {"text": ..., "language": ..., "encoding": ...}, {"mime": TYPE, "data": hex}, ... when
 * built (see record_json.h).
 */
#ifndef QX4NDEF_C_H
#define QX4NDEF_C_H

#define QX4NDEF_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* An NDEF message's bytes as a JSON list of records. */
QX4NDEF_API int qx4ndef_parse_message(const unsigned char* bytes, int length, char** json,
                                      char** error);
/* A JSON list of records as an NDEF message, in hex. */
QX4NDEF_API int qx4ndef_build_message(const char* json, char** hex, char** error);
/* A tag's memory from byte 0 (a dump's blocks back to back) as JSON: capabilityContainer,
 * ndef, message, records. */
QX4NDEF_API int qx4ndef_parse_memory(const unsigned char* memory, int length, char** json,
                                     char** error);

#ifdef __cplusplus
}
#endif

#endif /* QX4NDEF_C_H */
