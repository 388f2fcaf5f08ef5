#ifndef WIRECOMM_H
#define WIRECOMM_H
/*
 * wirecomm: a CPI-C-like conversation over TCP between a PC program and a
 * started task on the host, with password encryption and optional TLS.
 *
 * All strings are NUL-terminated. cid is the caller's 8-byte conversation
 * id buffer, filled by cm_init; an id of eight zero bytes names no
 * conversation. rc is the caller's 32-bit return code, CM_OK on success.
 * docs/wire-protocol.md describes the protocol and which situation gives
 * which return code.
 *
 * The cm_set_* calls without a cid set process-wide defaults; cm_init copies
 * them into the new conversation, so they must come before cm_init. Calls on
 * one conversation are serialised inside the library.
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Return codes (values of the CPI-C standard). */
#define CM_OK 0
#define CM_ALLOCATE_FAILURE_NO_RETRY 1
#define CM_ALLOCATE_FAILURE_RETRY 2
#define CM_CONVERSATION_TYPE_MISMATCH 3
#define CM_SECURITY_NOT_VALID 6
#define CM_TPN_NOT_RECOGNIZED 9
#define CM_TP_NOT_AVAILABLE_NO_RETRY 10
#define CM_TP_NOT_AVAILABLE_RETRY 11
#define CM_DEALLOCATED_ABEND 17
#define CM_DEALLOCATED_NORMAL 18
#define CM_PARAMETER_ERROR 19
#define CM_PRODUCT_SPECIFIC_ERROR 20
#define CM_PROGRAM_PARAMETER_CHECK 24
#define CM_PROGRAM_STATE_CHECK 25
#define CM_RESOURCE_FAILURE_NO_RETRY 26
#define CM_RESOURCE_FAILURE_RETRY 27
#define CM_OPERATION_INCOMPLETE 35
#define CM_SECURITY_NOT_SUPPORTED 46
#define CM_SECURITY_MUTUAL_FAILED 47

/* A block is below this many bytes. */
#define WC_MAX_BLOCK 32000
/* Size of the conversation id buffer. */
#define WC_CID_SIZE 8

/* Trace: level 0 switches it off, 1 (errors) .. 9 (everything); file is the
 * XML trace configuration (e.g. "tcplogger.xml"). The trace never holds a
 * password or key material. */
void cm_init_logger(int32_t level, const char* config_file);

/* Crypt mode of the next conversations: 1 password encrypted by an
 * ephemeral key agreement, data in clear (default); 2 reserved, refused by
 * cm_allc with CM_SECURITY_NOT_SUPPORTED; 3 TLS; 4 TLS with a client
 * certificate (found through WIRECOMM_CLIENT_CERT / WIRECOMM_CLIENT_KEY,
 * see the protocol description). */
void cm_set_crypt_mode(int32_t mode);
/* OpenSSL security level of the TLS modes (default 1). */
void cm_set_security_level(int32_t level);
/* Expected common name of the server certificate; NULL, "" or "*": no check. */
void cm_set_common_name(const char* common_name);
/* PEM file of trusted CA certificates; NULL or "": the system's trust store. */
void cm_set_pem_ca(const char* pem_file);
/* TLS modes: SHA-256 fingerprint of the server certificate's public key
 * (64 hex digits; ':' and blanks ignored). When set, the server's key must
 * match it in addition to the certificate checks. NULL or "": no pinning. */
void cm_set_crypt_key(const char* key);

/* Creates a conversation for the symbolic destination (the started-task
 * member, 1..64 bytes) and writes its id into cid. */
void cm_init(unsigned char* cid, const char* symdest, int32_t* rc);
/* Time limit of one cm_rcv_bin in seconds; 0 or below: no limit. */
void cm_set_rcv_timeout(unsigned char* cid, int32_t seconds);
/* User id (1..64 bytes). */
void cm_scsu(unsigned char* cid, const char* userid, int32_t* rc);
/* Password or pass phrase (0..128 bytes). */
void cm_scsp(unsigned char* cid, const char* password, int32_t* rc);
/* Step name tag (0..64 bytes). */
void cm_set_tag(unsigned char* cid, const char* tag, int32_t* rc);
/* Connects to ip_address:host_port (local port pc_port when not 0),
 * secures the connection by the crypt mode and asks the host for the
 * conversation; connecting and the host's answer are bounded by t1_seconds
 * (0 or below: no limit). password_check 1: the host checks the password,
 * 0: only the user. On success the caller holds the turn. */
void cm_allc(unsigned char* cid, const char* ip_address, uint16_t host_port, uint16_t pc_port, int32_t t1_seconds,
             int32_t password_check, int32_t* rc);
/* Text of a return code (never NULL). */
const char* cm_rc2str(int32_t rc);
/* Sends one block of *length bytes (0 .. WC_MAX_BLOCK - 1). send_type must
 * be 0. hand_over 1 passes the turn to the host. *status is set to 0
 * (no request-to-send from the host; the protocol has none).
 * Blocks without hand_over are buffered: they are written when the buffer
 * holds 64 KiB, when a block has waited 50 ms and another one is sent, with
 * the block that passes the turn, before cm_rcv_bin waits, by cm_deal or
 * cm_stop, and by cm_flush. A write failure is reported by the call that
 * writes. */
void cm_send_bin(unsigned char* cid, const unsigned char* buffer, int32_t* length, int32_t send_type, int32_t* status,
                 int32_t* rc, int32_t hand_over);
/* Writes the blocks that cm_send_bin has buffered, keeping the turn: for a
 * sender that pauses without passing the turn. rc as cm_send_bin gives for
 * a failed write; CM_OK when nothing was waiting. */
void cm_flush(unsigned char* cid, int32_t* rc);
/* Receives one block into buffer; requested_length is the buffer's size,
 * 0 meaning WC_MAX_BLOCK. Returns the number of bytes (0 = an empty block,
 * the host returning the turn), or 0 with rc != 0. data_received (may be
 * NULL): 0 no data, 2 complete data; status_received (may be NULL): 1 when
 * the host passed the turn with this block, else 0. */
int32_t cm_rcv_bin(unsigned char* cid, unsigned char* buffer, int32_t requested_length, int32_t* rc,
                   int32_t* data_received, int32_t* status_received);
/* Ends the conversation abnormally (the host sees CM_DEALLOCATED_ABEND) and
 * frees it. An all-zero cid: nothing to do, CM_OK. */
void cm_stop(unsigned char* cid, int32_t* rc);
/* Ends the conversation normally (the host sees CM_DEALLOCATED_NORMAL) and
 * frees it; a conversation that has already ended is only freed. An
 * all-zero cid: nothing to do, CM_OK. */
void cm_deal(unsigned char* cid, int32_t* rc);

#ifdef __cplusplus
}
#endif

#endif /* WIRECOMM_H */
